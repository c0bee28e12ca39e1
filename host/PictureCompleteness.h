// Detects picture files cut short in the formats whose Qt readers decode a cut-off stream without an
// error (JPEG and GIF fill the missing part, XBM leaves it blank), so that a truncated file is refused
// instead of giving a partly invented picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Why the Format ("jpeg", "gif", "xbm"; other formats pass) data ends before the end its format
// requires, or an empty string when it is complete.
std::string MissingEnd(const std::string& Format, const uint8_t* Data, size_t Size);
