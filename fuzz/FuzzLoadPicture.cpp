// Fuzz body: any bytes as a picture file.
#include "FuzzBodies.h"

#include "BmpCodec.h"
#include "PixelConversion.h"
#include <pictura/ImageLimits.h>
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QByteArray>

#include <vector>

namespace {

// Loads under the fuzzing byte limit and puts the previous limit back afterwards.
class TLimitGuard {
public:
    TLimitGuard() : FPrevious(GetMaxBitmapBytes()) { SetMaxBitmapBytes(FuzzMaxBitmapBytes); }
    ~TLimitGuard() { SetMaxBitmapBytes(FPrevious); }

private:
    size_t FPrevious;
};

// A bitmap's memory matches its size and format, and indexed ones carry a full palette.
void CheckConsistent(const TDibImage& Dib, const char* Stage) {
    const std::string where = std::string(Stage) + ": ";
    FuzzCheck(Dib.Width > 0 && Dib.Height > 0, where + "empty picture without an error");
    FuzzCheck(uint64_t(Dib.Width) * uint64_t(Dib.Height) <= MaxBitmapPixels,
              where + "more pixels than the limit");
    FuzzCheck(Dib.Bits.size() == Dib.Stride() * size_t(Dib.Height),
              where + "pixel memory does not match the size");
    FuzzCheck(Dib.Bits.size() <= FuzzMaxBitmapBytes, where + "pixel memory over the byte limit");
    if (IsIndexed(Dib.Format))
        FuzzCheck(Dib.Palette.size() == size_t(1) << BitsPerPixel(Dib.Format),
                  where + "palette of the wrong size");
}

} // namespace

void FuzzLoadPicture(const uint8_t* Data, size_t Size) {
    TLimitGuard limit;
    // No copy: a read past the input's last byte is a read past the allocation.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), qsizetype(Size));
    TPicture picture;
    TDibImage marker;
    marker.Width = 1;
    marker.Height = 1;
    marker.Format = pf24bit;
    marker.Bits = {1, 2, 3, 0};
    picture.GetBitmap()->Assign(marker);
    try {
        picture.LoadFromData(bytes, "fuzz input");
    } catch (const EInvalidGraphic&) {
        FuzzCheck(picture.GetBitmap()->Dib().Bits == marker.Bits, "a failed load changed the picture");
        return;
    } catch (const EOutOfResources&) {
        FuzzCheck(picture.GetBitmap()->Dib().Bits == marker.Bits, "a refused load changed the picture");
        return;
    }
    const TDibImage loaded = picture.GetBitmap()->Dib();
    CheckConsistent(loaded, "load");

    try {
        picture.GetBitmap()->SetPixelFormat(pf24bit);
    } catch (const EOutOfResources&) {
        return; // the 24-bit copy would be over the limit: refused before allocating
    }
    const TDibImage& rgb = picture.GetBitmap()->Dib();
    CheckConsistent(rgb, "24-bit conversion");
    FuzzCheck(rgb.Format == pf24bit && rgb.Width == loaded.Width && rgb.Height == loaded.Height,
              "conversion to 24 bit changed the size or missed the format");
    // Every pixel keeps its colour (alpha is dropped).
    std::vector<uint32_t> row(size_t(loaded.Width));
    for (int y = 0; y < loaded.Height; ++y) {
        ReadRowArgb(loaded, y, row.data());
        const uint8_t* p = rgb.Row(y);
        for (int x = 0; x < loaded.Width; ++x, p += 3) {
            const uint32_t c = row[size_t(x)];
            // The message is built only for a failure: a million of them would time the search out.
            if (p[0] != uint8_t(c) || p[1] != uint8_t(c >> 8) || p[2] != uint8_t(c >> 16))
                FuzzCheck(false, "conversion to 24 bit changed pixel " + std::to_string(x) + "," +
                                     std::to_string(y));
        }
    }
    // The framework's own file format keeps the 24-bit picture exactly.
    const std::vector<uint8_t> file = EncodeBmp(rgb);
    const TDibImage again = DecodeBmp(file.data(), file.size());
    FuzzCheck(again.Format == pf24bit && again.Width == rgb.Width && again.Height == rgb.Height &&
                  again.Bits == rgb.Bits,
              "a 24-bit picture did not survive BMP encode and decode");
}
