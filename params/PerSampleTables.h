// The Standard renderer's shadow copies: one record per copy, and for a
// directional light the blur buffers they are blurred in. The builders
// themselves are declared with the render record (UF3_Params.h).
#pragma once

#include <vector>

#include "params/GradientData.h"
#include "params/UF3_Params.h"

// Exponential ease-in shared by the copy tables: 2^(10(t-1)), so 1 at t = 1
// and 2^-10 (not 0) at t = 0.
double ShadowEaseIn(double t);

// Debug aid kept for the gradient; formats the stops and drops the text.
void printArbGrabContents(const std::vector<ArbGradientPt>& stops);
