// The bodies of the fuzz targets. Each takes one input of any content and must neither crash nor
// break a promise of the code it drives; a broken promise throws TFuzzFailure, any other escaping
// exception is a fault as well. The libFuzzer programs and FuzzRegressionTest both run them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

// A promise of the code under test that an input broke.
class TFuzzFailure : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Throws TFuzzFailure with Message unless Condition holds.
inline void FuzzCheck(bool Condition, const std::string& Message) {
    if (!Condition) throw TFuzzFailure(Message);
}

// The bytes as a picture file through TPicture::LoadFromData, then converted to 24 bit and written
// and read back as BMP: loads give consistent bitmaps, failures EInvalidGraphic/EOutOfResources only.
void FuzzLoadPicture(const uint8_t* Data, size_t Size);

// A small picture, a control size and a sequence of the control's operations with their arguments,
// all taken from the bytes; after every step the bitmap must equal the straightforward models' byte
// for byte (padding included). Needs a QApplication.
void FuzzOperations(const uint8_t* Data, size_t Size);

// Arguments separated by NUL bytes, then after a double NUL the text of an envelope file, through
// ParseCommandLine and ParseEnvelopFile: a parsed line holds only values in range, anything else is
// a TUsageError.
void FuzzCommandLine(const uint8_t* Data, size_t Size);

// The text of an envelope file through ParseEnvelopFile: 256 values in order, or a TUsageError of one
// line that names the file.
void FuzzEnvelopeFile(const uint8_t* Data, size_t Size);

// The picture byte limit the bodies load under: no input can ask for much memory, and large pictures,
// which only slow the search down, are refused early.
constexpr size_t FuzzMaxBitmapBytes = size_t(4) << 20;
