// Clamp of a 32-bit integer to a channel value.
#pragma once

#include <pictura/PicturaPckExport.h>

#include <cstdint>

// Values above 255 give 255, negative values give 0, everything else is returned unchanged.
// An exported function of the package, so that programs linking it call the same clamp.
PICTURAPCK_EXPORT uint8_t FitinRange(int32_t Value);
