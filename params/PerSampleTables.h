// The Standard renderer's shadow copies: one record per copy, and for a
// directional light the blur buffers they are blurred in. The builders
// themselves are declared with the render record (UF3_Params.h).
#pragma once

#include "params/UF3_Params.h"
