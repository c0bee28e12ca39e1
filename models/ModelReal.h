// TModelReal: the extended-precision type of the models. On x86-64 the x87's long double, so that the tests
// compare the control (which may evaluate its rules in TExtended) with the hardware's own arithmetic; on
// other machines, which have no such format, TExtended.
#pragma once

#include <pictura/Extended.h>
#include <pictura/Round.h>

#include <cfloat>

#if defined(__x86_64__) && LDBL_MANT_DIG == 64
#define PICTURA_MODELS_ON_X87 1
using TModelReal = long double;
// The grey weights as the decimal literals the rule is written with.
constexpr TModelReal ModelGreyRedWeight = 0.2125L, ModelGreyGreenWeight = 0.7154L,
                     ModelGreyBlueWeight = 0.0721L;
#else
#define PICTURA_MODELS_ON_X87 0
using TModelReal = TExtended;
constexpr TModelReal ModelGreyRedWeight = TModelReal(2125) / TModelReal(10000),
                     ModelGreyGreenWeight = TModelReal(7154) / TModelReal(10000),
                     ModelGreyBlueWeight = TModelReal(721) / TModelReal(10000);
#endif
