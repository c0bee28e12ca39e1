#include <pictura/KvPictura.h>

#include "KvEnvelopeMath.h"
#include "KvFilters.h"
#include "KvPointOps.h"
#include "KvProgress.h"
#include "KvRowBands.h"
#include <pictura/Dialogs.h>
#include <pictura/ImageLimits.h>
#include <pictura/SysUtils.h>

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr char PublishedList[] = KVPICTURA_PUBLISHED_PROPERTIES;
using TPublishedNames = std::remove_const_t<decltype(TKvPictura::PublishedProperties)>;

// The published list with every comma turned into the end of a name.
struct TPublishedText {
    char Text[sizeof PublishedList];
};
constexpr TPublishedText PublishedText = [] {
    TPublishedText names{};
    for (size_t i = 0; i < sizeof PublishedList; ++i)
        names.Text[i] = PublishedList[i] == ',' ? '\0' : PublishedList[i];
    return names;
}();

constexpr TPublishedNames SplitPublished() {
    TPublishedNames names{};
    size_t count = 0;
    names[count++] = PublishedText.Text;
    for (size_t i = 0; i + 1 < sizeof PublishedList; ++i)
        if (PublishedText.Text[i] == '\0') names[count++] = PublishedText.Text + i + 1;
    return names;
}
static_assert(std::count(std::begin(PublishedList), std::end(PublishedList), ',') + 1 ==
                  std::tuple_size_v<TPublishedNames>,
              "PublishedProperties must have one entry for each published name");

// The addresses of rows 0..Height-1, each taken through GetScanline; ScanLine ends at the last one.
std::vector<uint8_t*> RowAddresses(TBitmap* Bitmap, int Height, uint8_t*& ScanLine) {
    std::vector<uint8_t*> rows(static_cast<size_t>(Height));
    for (int y = 0; y < Height; ++y)
        rows[size_t(y)] = ScanLine = Bitmap->GetScanline(y);
    return rows;
}

} // namespace

constinit const TPublishedNames TKvPictura::PublishedProperties = SplitPublished();

TKvPictura::TKvPictura(TComponent* AOwner) : TImage(AOwner) {
    std::fill(std::begin(FRedEnvelop), std::end(FRedEnvelop), 1.0);
    std::fill(std::begin(FGreenEnvelop), std::end(FGreenEnvelop), 1.0);
    std::fill(std::begin(FBlueEnvelop), std::end(FBlueEnvelop), 1.0);
}

uint8_t* TKvPictura::PixelAddress(int32_t X, int32_t Y) {
    TBitmap* bitmap = Picture()->GetBitmap();
    if (bitmap->Empty())
        throw ERangeError("pixel (" + std::to_string(X) + ", " + std::to_string(Y) +
                          ") is outside the picture: the picture is empty");
    FScanLine = bitmap->GetScanline(Y);
    // The row must hold all three bytes, whatever the bitmap's format.
    if (X < 0 || X >= bitmap->Width() || size_t(X) * 3 + 3 > bitmap->BytesPerLine())
        throw ERangeError(
            "pixel column " + std::to_string(X) + " is outside the bitmap's 24-bit columns 0.." +
            std::to_string(std::min<size_t>(bitmap->Width(), bitmap->BytesPerLine() / 3)) + " (exclusive)");
    return FScanLine + size_t(X) * 3;
}

TRGBColor TKvPictura::GetRGBPixel(int32_t X, int32_t Y) {
    const uint8_t* pixel = PixelAddress(X, Y);
    return TRGBColor{pixel[0], pixel[1], pixel[2]};
}

void TKvPictura::SetRGBPixel(int32_t X, int32_t Y, TRGBColor Color) {
    uint8_t* pixel = PixelAddress(X, Y);
    pixel[0] = Color.Blue;
    pixel[1] = Color.Green;
    pixel[2] = Color.Red;
}

void TKvPictura::ReportProgress(TProgressStage Stage, int Percent, const char* What) {
    if (OnProgress) OnProgress(this, Stage, Percent, false, DestRect(), QString::fromUtf8(What));
}

bool TKvPictura::Set24BitColor() {
    TBitmap* bitmap = Picture()->GetBitmap();
    // An empty picture has no pixel to convert: nothing to ask.
    if (bitmap->GetPixelFormat() == pf24bit || bitmap->Empty()) return true;
    if (MessageBoxA(OwnerWindowHandle(Owner()), "The Imge will convert to \"24 bit color\" format", "Convert",
                    MB_OKCANCEL) != IDOK)
        return false;
    // The host converts the whole bitmap in one call: only its start and end can be reported.
    ReportProgress(psStarting, 0, "Convert");
    bitmap->SetPixelFormat(pf24bit);
    ReportProgress(psEnding, 100, "Convert");
    return true;
}

template <class TWork> void TKvPictura::OperationFrame(const char* What, TWork&& Work) {
    TBitmap* bitmap = Picture()->GetBitmap();
    if (!bitmap->Empty() && bitmap->GetPixelFormat() != pf24bit && !Set24BitColor()) return;
    ReportProgress(psStarting, 0, What);
    // The processed area is the control's size, clipped so that nothing outside the bitmap is touched.
    const int width = std::min(Width(), bitmap->Width());
    const int height = std::min(Height(), bitmap->Height());
    if (width > 0 && height > 0) {
        // Without a listener nothing is counted; with one, each whole percent is reported once, so a
        // listener hears at most 99 running events whatever the picture's size.
        KvKernels::TProgressCounter::TReport report;
        if (OnProgress) report = [this, What](int Percent) { ReportProgress(psRunning, Percent, What); };
        Work(bitmap, width, height, report);
    }
    Refresh();
    ReportProgress(psEnding, 100, What);
}

template <class TRowWork> void TKvPictura::ForEachRow(const char* What, TRowWork&& RowWork) {
    OperationFrame(What, [&](TBitmap* bitmap, int width, int height, const auto& report) {
        std::optional<KvKernels::TProgressCounter> progress;
        if (report) progress.emplace(uint64_t(height), report);
        // The rows' addresses are taken here, on the calling thread; the threads only change pixels.
        const std::vector<uint8_t*> rows = RowAddresses(bitmap, height, FScanLine);
        const int threads = KvKernels::ThreadsForArea(width, height, KvKernels::KThreadedRowPixels);
        KvKernels::ForRowBands(width, height, threads, progress ? &*progress : nullptr,
                               [&](int First, int End) {
                                   for (int y = First; y < End; ++y)
                                       RowWork(rows[size_t(y)], width);
                               });
    });
}

void TKvPictura::Filter(int8_t Amount, int32_t Radius, bool Sharpen) {
    KvKernels::CheckFilterRadius(Radius);
    const char* what = Sharpen ? "Sharpen" : "Blur";
    OperationFrame(what, [&](TBitmap* bitmap, int width, int height, const auto& report) {
        // The picture, its row addresses and the filter's own memory count against the picture memory of
        // the process; the filter takes fewer threads (fewer buffers) before it refuses.
        const uint64_t held = uint64_t(bitmap->Dib().Bits.size()) + uint64_t(height) * sizeof(uint8_t*);
        int threads = KvKernels::FilterAreaThreads(width, height);
        const auto needed = [&](int Threads) {
            return held + KvKernels::FilterWorkingBytes(width, height, Radius, Threads);
        };
        if (threads > 1 && needed(threads) > GetMaxBitmapBytes()) threads = 1;
        const TPictureMemory memory(needed(threads),
                                    std::string(what) + ": the picture with the filter's memory");
        // The filter slides windows up and down the columns: it needs every row's address at hand.
        const std::vector<uint8_t*> rows = RowAddresses(bitmap, height, FScanLine);
        std::optional<KvKernels::TProgressCounter> progress;
        if (report) progress.emplace(uint64_t(width) * uint64_t(height), report);
        KvKernels::FilterArea(rows.data(), width, height, Amount, Radius,
                              Sharpen ? KvKernels::TFilterKind::Sharpen : KvKernels::TFilterKind::Blur,
                              progress ? &*progress : nullptr, threads);
    });
}

void TKvPictura::Blur(int8_t Amount, int32_t Radius) {
    Filter(Amount, Radius, false);
}

void TKvPictura::Sharpen(int8_t Amount, int32_t Radius) {
    Filter(Amount, Radius, true);
}

void TKvPictura::Invert() {
    ForEachRow("Invert", [](uint8_t* row, int width) { KvKernels::InvertRow(row, width); });
}

void TKvPictura::Brightness(int32_t Value) {
    const KvKernels::TByteMap map = KvKernels::BrightnessMap(Value);
    ForEachRow("Brightness", [&](uint8_t* row, int width) { KvKernels::MapBytesRow(row, width, map); });
}

void TKvPictura::GreyScale() {
    ForEachRow("Greyscale", [](uint8_t* row, int width) { KvKernels::GreyScaleRow(row, width); });
}

void TKvPictura::SetRedEnvelop(uint8_t Index, double Value) {
    FRedEnvelop[Index] = KvKernels::EnvelopeGainFromPercent(Value);
}

void TKvPictura::SetGreenEnvelop(uint8_t Index, double Value) {
    FGreenEnvelop[Index] = KvKernels::EnvelopeGainFromPercent(Value);
}

void TKvPictura::SetBlueEnvelop(uint8_t Index, double Value) {
    FBlueEnvelop[Index] = KvKernels::EnvelopeGainFromPercent(Value);
}

double TKvPictura::GetRedEnvelop(uint8_t Index) const {
    return KvKernels::EnvelopePercentFromGain(FRedEnvelop[Index]);
}

double TKvPictura::GetGreenEnvelop(uint8_t Index) const {
    return KvKernels::EnvelopePercentFromGain(FGreenEnvelop[Index]);
}

double TKvPictura::GetBlueEnvelop(uint8_t Index) const {
    return KvKernels::EnvelopePercentFromGain(FBlueEnvelop[Index]);
}

void TKvPictura::ApplyChannelEnvelop(int Channel, const double (&Envelop)[256], const char* What) {
    const KvKernels::TChannelTable table = KvKernels::EnvelopeTable(Envelop);
    ForEachRow(What, [&](uint8_t* row, int width) { KvKernels::MapChannelRow(row, width, Channel, table); });
}

void TKvPictura::ApplyRedEnvelop() {
    ApplyChannelEnvelop(2, FRedEnvelop, "Red envelope");
}

void TKvPictura::ApplyGreenEnvelop() {
    ApplyChannelEnvelop(1, FGreenEnvelop, "Green envelope");
}

void TKvPictura::ApplyBlueEnvelop() {
    ApplyChannelEnvelop(0, FBlueEnvelop, "Blue envelope");
}

void TKvPictura::ApplyEnvelops() {
    const KvKernels::TByteMap red = KvKernels::EnvelopeMap(FRedEnvelop);
    const KvKernels::TChannelTables tables{KvKernels::EnvelopeTable(FBlueEnvelop),
                                           KvKernels::EnvelopeTable(FGreenEnvelop), red.Table};
    // Three equal envelopes (the defaults among them) are one byte map over all bytes.
    if (tables.Blue == red.Table && tables.Green == red.Table)
        ForEachRow("Envelopes", [&](uint8_t* row, int width) { KvKernels::MapBytesRow(row, width, red); });
    else
        ForEachRow("Envelopes", [&](uint8_t* row, int width) { KvKernels::MapRow(row, width, tables); });
}

void TKvPictura::AssignEnvelops(const TKvPictura& Source) {
    std::copy(std::begin(Source.FRedEnvelop), std::end(Source.FRedEnvelop), std::begin(FRedEnvelop));
    std::copy(std::begin(Source.FGreenEnvelop), std::end(Source.FGreenEnvelop), std::begin(FGreenEnvelop));
    std::copy(std::begin(Source.FBlueEnvelop), std::end(Source.FBlueEnvelop), std::begin(FBlueEnvelop));
}
