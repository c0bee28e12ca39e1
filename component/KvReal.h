// TKvReal: the extended-precision type in which the control evaluates its rules (KvRules.h).
//
// On x86-64, where long double is the x87's format with its 64-bit significand, the x87 itself: it builds the
// per-call tables and evaluates the grey ties faster than TExtended (docs/ARCHITECTURE.md). Everywhere else,
// and on x86-64 when configured with PICTURA_PORTABLE_ARITHMETIC=ON, TExtended: the same bits in integer
// arithmetic, proven against the x87 over the rules' whole domains by ExtendedExhaustiveTest.
#pragma once

#include <pictura/Extended.h>
#include <pictura/Round.h>

#include <cfloat>

#if defined(__x86_64__) && LDBL_MANT_DIG == 64 && !PICTURA_PORTABLE_ARITHMETIC
using TKvReal = long double;
#else
using TKvReal = TExtended;
#endif
