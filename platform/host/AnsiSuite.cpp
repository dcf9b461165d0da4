#include "host/AnsiSuite.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace host {

namespace {
A_FpLong Atan(A_FpLong x) { return std::atan(x); }
A_FpLong Atan2(A_FpLong y, A_FpLong x) { return std::atan2(y, x); }
A_FpLong Ceil(A_FpLong x) { return std::ceil(x); }
A_FpLong Cos(A_FpLong x) { return std::cos(x); }
A_FpLong Exp(A_FpLong x) { return std::exp(x); }
A_FpLong Fabs(A_FpLong x) { return std::fabs(x); }
A_FpLong Floor(A_FpLong x) { return std::floor(x); }
A_FpLong Fmod(A_FpLong x, A_FpLong y) { return std::fmod(x, y); }
A_FpLong Hypot(A_FpLong x, A_FpLong y) { return std::hypot(x, y); }
A_FpLong Log(A_FpLong x) { return std::log(x); }
A_FpLong Log10(A_FpLong x) { return std::log10(x); }
A_FpLong Pow(A_FpLong x, A_FpLong y) { return std::pow(x, y); }
A_FpLong Sin(A_FpLong x) { return std::sin(x); }
A_FpLong Sqrt(A_FpLong x) { return std::sqrt(x); }
A_FpLong Tan(A_FpLong x) { return std::tan(x); }
A_FpLong Asin(A_FpLong x) { return std::asin(x); }
A_FpLong Acos(A_FpLong x) { return std::acos(x); }

// The host's sprintf takes no buffer size, as the host API defines it.
int Sprintf(A_char* buffer, const A_char* format, ...) {
    if (!buffer || !format) return -1;
    va_list args;
    va_start(args, format);
    int n = std::vsprintf(buffer, format, args);
    va_end(args);
    return n;
}
A_char* Strcpy(A_char* dest, const A_char* src) { return (dest && src) ? std::strcpy(dest, src) : dest; }

const PF_ANSICallbacksSuite1 kSuite = {Atan,  Atan2, Ceil,    Cos,    Exp,  Fabs, Floor, Fmod, Hypot, Log,
                                       Log10, Pow,   Sin,     Sqrt,   Tan,  Sprintf, Strcpy, Asin, Acos};
}  // namespace

const PF_ANSICallbacksSuite1* AnsiSuite() { return &kSuite; }

void FillAnsiCallbacks(PF_ANSICallbacks* c) {
    c->atan = Atan;
    c->atan2 = Atan2;
    c->ceil = Ceil;
    c->cos = Cos;
    c->exp = Exp;
    c->fabs = Fabs;
    c->floor = Floor;
    c->fmod = Fmod;
    c->hypot = Hypot;
    c->log = Log;
    c->log10 = Log10;
    c->pow = Pow;
    c->sin = Sin;
    c->sqrt = Sqrt;
    c->tan = Tan;
    c->sprintf = Sprintf;
    c->strcpy = Strcpy;
    c->asin = Asin;
    c->acos = Acos;
}

}  // namespace host
