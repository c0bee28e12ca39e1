#include "WebpCodec.h"

#include "PixelConversion.h"
#include <pictura/SysUtils.h>

#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>

namespace {

// libwebp's reasons, by its error codes.
std::string EncoderError(WebPEncodingError Code) {
    switch (Code) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "the picture's size is outside WebP's";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
        return "the picture is too large for lossy WebP at this quality";
    case VP8_ENC_ERROR_FILE_TOO_BIG:
        return "the file would be larger than 4 GiB";
    default:
        return "the WebP encoder refused the picture (error " + std::to_string(int(Code)) + ")";
    }
}

} // namespace

void ReadWebpMetadata(const uint8_t* Data, size_t Size, TPictureMetadata& Metadata) {
    const WebPData data{Data, Size};
    const std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demux(WebPDemux(&data), WebPDemuxDelete);
    if (!demux) return;
    const auto chunk = [&](const char* Name, std::string& Into) {
        WebPChunkIterator it;
        if (!WebPDemuxGetChunk(demux.get(), Name, 1, &it)) return;
        Into.assign(reinterpret_cast<const char*>(it.chunk.bytes), it.chunk.size);
        WebPDemuxReleaseChunkIterator(&it);
    };
    chunk("EXIF", Metadata.Exif);
    // Some writers start the chunk as a JPEG segment does.
    if (Metadata.Exif.compare(0, 6, std::string("Exif\0\0", 6)) == 0) Metadata.Exif.erase(0, 6);
    chunk("XMP ", Metadata.Xmp);
    chunk("ICCP", Metadata.Icc);
}

std::string EncodeWebp(const TDibImage& Image, const TPictureMetadata& Metadata, int Quality,
                       int Compression) {
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture))
        throw EInvalidGraphic("the WebP encoder is not the version the program was built with");
    const int quality = Quality < 0 ? 75 : Quality;
    if (quality < 100) {
        config.quality = float(quality);
        config.alpha_quality = quality;
        if (Compression >= 0) config.method = (Compression * 2 + 2) / 3;
    } else {
        WebPConfigLosslessPreset(&config, Compression < 0 ? DefaultWebpCompression : Compression);
        config.exact = 1;
    }
    picture.use_argb = 1;
    picture.width = Image.Width;
    picture.height = Image.Height;
    if (!WebPPictureAlloc(&picture)) throw EInvalidGraphic(EncoderError(picture.error_code));
    const std::unique_ptr<WebPPicture, void (*)(WebPPicture*)> freed(&picture, WebPPictureFree);
    for (int y = 0; y < Image.Height; ++y)
        ReadRowArgb(Image, y, picture.argb + size_t(y) * size_t(picture.argb_stride));
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    const std::unique_ptr<WebPMemoryWriter, void (*)(WebPMemoryWriter*)> cleared(&writer,
                                                                                 WebPMemoryWriterClear);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    if (!WebPEncode(&config, &picture)) throw EInvalidGraphic(EncoderError(picture.error_code));
    if (Metadata.Icc.empty() && Metadata.Exif.empty() && Metadata.Xmp.empty())
        return std::string(reinterpret_cast<const char*>(writer.mem), writer.size);

    const std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxNew(), WebPMuxDelete);
    const WebPData image{writer.mem, writer.size};
    bool ok = mux && WebPMuxSetImage(mux.get(), &image, 0) == WEBP_MUX_OK;
    const auto chunk = [&](const char* Name, const std::string& Bytes) {
        const WebPData data{reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size()};
        if (ok && !Bytes.empty()) ok = WebPMuxSetChunk(mux.get(), Name, &data, 0) == WEBP_MUX_OK;
    };
    chunk("ICCP", Metadata.Icc);
    chunk("EXIF", Metadata.Exif);
    chunk("XMP ", Metadata.Xmp);
    WebPData assembled{nullptr, 0};
    if (!ok || WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        throw EInvalidGraphic("the WebP encoder could not add the picture's metadata");
    std::string out(reinterpret_cast<const char*>(assembled.bytes), assembled.size);
    WebPDataClear(&assembled);
    return out;
}
