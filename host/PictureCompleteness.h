// Finds picture data that Qt's readers would decode without an error although it is cut short or
// invalid (JPEG and GIF fill the missing part, XBM leaves it blank, PNG ignores a cut end chunk, PPM
// and PGM scale samples above their maximum into wrong values), so that it is refused instead of
// giving a partly invented picture. The format is recognised from the data's signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Why Data cannot be trusted as a picture, or an empty string when nothing is wrong with its
// structure (or its format is not one of those checked here).
std::string PictureDataProblem(const uint8_t* Data, size_t Size);

// PictureDataProblem for PNG data without inflating the image data: for a decoder that refuses damaged
// image data itself.
std::string PngChunkProblem(const uint8_t* Data, size_t Size);

// Why Data, which starts with a PNG signature, has a header chunk libpng would refuse, or an empty
// string. Needs only the first 33 bytes.
std::string PngHeaderProblem(const uint8_t* Data, size_t Size);

// Text quoted from a file, with control and non-ASCII bytes, quotes and backslashes as \xNN.
std::string DecoderQuote(const std::string& Text);
