#include "JpegCodec.h"

#include "ImageMetadata.h"
#include "PixelConversion.h"
#include <pictura/SysUtils.h>

#include <turbojpeg.h>

#include <new>

namespace {

// A TurboJPEG handle, destroyed on every way out.
class THandle {
public:
    explicit THandle(tjhandle Handle) : FHandle(Handle) {
        if (!FHandle) throw std::bad_alloc();
    }
    ~THandle() { tjDestroy(FHandle); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    tjhandle Get() const { return FHandle; }
    std::string Error() const { return tjGetErrorStr2(FHandle); }

private:
    tjhandle FHandle;
};

} // namespace

bool FastJpegHeader(const uint8_t* Data, size_t Size, int& Width, int& Height, bool& Grey) {
    const THandle handle(tjInitDecompress());
    int subsampling = 0, colourSpace = 0;
    if (tjDecompressHeader3(handle.Get(), Data, static_cast<unsigned long>(Size), &Width, &Height,
                            &subsampling, &colourSpace) != 0)
        return false;
    Grey = colourSpace == TJCS_GRAY;
    return colourSpace == TJCS_GRAY || colourSpace == TJCS_YCbCr || colourSpace == TJCS_RGB;
}

void DecodeJpeg(const uint8_t* Data, size_t Size, TDibImage& Into, TPictureMetadata& Metadata) {
    int width = 0, height = 0;
    bool grey = false;
    if (!FastJpegHeader(Data, Size, width, height, grey))
        throw EInvalidGraphic("the JPEG header cannot be read");
    TDibImage dib;
    dib.Width = width;
    dib.Height = height;
    dib.Format = grey ? pf8bit : pf24bit;
    if (grey) {
        dib.Palette.resize(256);
        for (uint32_t i = 0; i < 256; ++i)
            dib.Palette[i] = 0xFF000000u | i * 0x010101u;
    }
    dib.Bits.assign(dib.Stride() * size_t(height), 0);
    const THandle handle(tjInitDecompress());
    if (tjDecompress2(handle.Get(), Data, static_cast<unsigned long>(Size), dib.Bits.data(), width,
                      int(dib.Stride()), height, grey ? TJPF_GRAY : TJPF_BGR, 0) != 0)
        throw EInvalidGraphic("the JPEG data is damaged (" + handle.Error() + ")");
    ReadJpegMetadata(Data, Size, Metadata);
    Into = std::move(dib);
}

bool IsFastJpegFormat(const TDibImage& Image) {
    return Image.Format == pf24bit || Image.Format == pf32bit || Image.Format == pfDevice ||
           (Image.Format == pf8bit && IsGreyRamp(Image.Palette));
}

std::string EncodeJpeg(const TDibImage& Image, const TPictureMetadata& Metadata, int Quality) {
    const bool indexedGrey = Image.Format == pf8bit;
    const bool grey = indexedGrey || AllGrey(Image);
    const int pixelFormat = indexedGrey ? TJPF_GRAY : Image.Format == pf24bit ? TJPF_BGR : TJPF_BGRX;
    const THandle handle(tjInitCompress());
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    // Red, green and blue equal make a luminance equal to them, exactly, and no colour.
    const int status = tjCompress2(handle.Get(), Image.Bits.data(), Image.Width, int(Image.Stride()),
                                   Image.Height, pixelFormat, &jpeg, &size, grey ? TJSAMP_GRAY : TJSAMP_420,
                                   Quality < 0 ? 75 : Quality, 0);
    struct TFree {
        unsigned char* Data;
        ~TFree() { tjFree(Data); }
    } release{jpeg};
    if (status != 0) throw EInvalidGraphic("the JPEG encoder refused the picture (" + handle.Error() + ")");
    return WithJpegMetadata(jpeg, size, Metadata);
}
