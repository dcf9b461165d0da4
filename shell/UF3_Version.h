// The effect's version numbers, kept in one place: the about text, the
// registration record and every log line must agree on them. Plain macros so
// that a resource compiler can read them as well as C++.
#pragma once

#define UF3_MAJOR_VERSION 1
#define UF3_MINOR_VERSION 0
#define UF3_BUG_VERSION 8
