// "PF ANSI Suite" and the ANSI callbacks of PF_UtilCallbacks.
#pragma once

#include "AE_EffectSuites.h"

namespace host {

const PF_ANSICallbacksSuite1* AnsiSuite();
void FillAnsiCallbacks(PF_ANSICallbacks* callbacks);

}  // namespace host
