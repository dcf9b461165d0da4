// The stops of a gradient handle as tests compare them: an unreadable handle gives none, which
// no expected gradient is. The read's own error is checked where it is the point.
#pragma once

#include <vector>

#include "params/GradientData.h"

inline std::vector<ArbGradientPt> StopsOf(const PF_HandleSuite1* handles, PF_Handle h) {
    std::vector<ArbGradientPt> stops;
    (void)CreateGradientStdVecFromArb(handles, h, &stops);
    return stops;
}
