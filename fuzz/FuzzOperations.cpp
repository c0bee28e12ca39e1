// Fuzz body: the control's operations against the straightforward models of the tests.
#include "FuzzBodies.h"

#include "KvEnvelopeMath.h"
#include "KvPointOps.h"
#include "OperationCatalogue.h"
#include "PixelConversion.h"
#include <pictura/Dialogs.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Reads the input front to back; past its end every byte is zero.
class TReader {
public:
    TReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
    bool AtEnd() const { return FPos >= FSize; }
    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    template <class T> T Raw() {
        uint8_t bytes[sizeof(T)];
        for (uint8_t& b : bytes)
            b = Byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

// Mostly small values, now and then any 32-bit value.
int32_t SmallOrAny(TReader& In, int Range, int Offset) {
    const uint8_t b = In.Byte();
    return b < 0xF0 ? int32_t(b % Range) - Offset : In.Raw<int32_t>();
}

// A w x h picture of Format: noise, a few levels (ties and equal means), extremes, or the input's bytes.
TDibImage MakePicture(TReader& In) {
    static constexpr TPixelFormat Formats[] = {pf24bit, pf24bit, pf24bit, pf1bit,  pf4bit,
                                               pf8bit,  pf15bit, pf16bit, pf32bit, pfDevice};
    TDibImage dib;
    dib.Width = 1 + In.Byte() % 24;
    dib.Height = 1 + In.Byte() % 24;
    dib.Format = Formats[In.Byte() % std::size(Formats)];
    const uint8_t style = In.Byte();
    dib.HasAlpha = dib.Format == pf32bit && (style & 0x80);
    uint32_t state = In.Raw<uint32_t>() | 1;
    auto next = [&state] { // xorshift32
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    dib.Bits.resize(dib.Stride() * size_t(dib.Height));
    for (uint8_t& b : dib.Bits) {
        const uint32_t r = next();
        switch (style % 4) {
        case 0:
            b = uint8_t(r);
            break;
        case 1:
            b = uint8_t(100 + r % 4);
            break;
        case 2:
            b = uint8_t((r & 1) ? 255 : r % 3);
            break;
        default:
            b = In.Byte();
            break;
        }
    }
    if (IsIndexed(dib.Format))
        for (int i = 0; i < 1 << BitsPerPixel(dib.Format); ++i)
            dib.Palette.push_back(0xFF000000u | (next() >> 8));
    return dib;
}

// Puts the process-wide settings back however the run ends.
class TSettingsGuard {
public:
    explicit TSettingsGuard(TMessageBoxAnswerer Answerer)
        : FLevel(KvKernels::SimdLevel()), FAnswerer(SetMessageBoxAnswerer(std::move(Answerer))) {}
    ~TSettingsGuard() {
        SetMessageBoxAnswerer(FAnswerer);
        KvKernels::SetSimdLevel(FLevel);
    }

private:
    KvKernels::TSimdLevel FLevel;
    TMessageBoxAnswerer FAnswerer;
};

class TOperationsRun {
public:
    explicit TOperationsRun(TReader& In) : FIn(In) {}
    void Run();

private:
    // The model's side of a whole-image operation: false when the control declines to convert.
    bool ModelFrame();
    std::vector<uint8_t*> AreaRows();
    void Compare(const std::string& Step);
    // One entry of the catalogue through the table's call, against its model.
    void CatalogueStep(const TCatalogueEntry& Entry);
    // Arguments the control refuses: a negative radius before any question, a NaN gain.
    void Refusal();
    void Pixel();

    TReader& FIn;
    TKvPictura FControl;
    TDibImage FModel;
    double FGains[3][256]; // by byte offset: blue, green, red
    int FAnswer = IDOK;
    int FAsked = 0;        // convert boxes the control showed
    int FExpectedAsks = 0; // convert boxes the model expects
    std::string FLog;
};

bool TOperationsRun::ModelFrame() {
    if (FModel.Format == pf24bit) return true;
    ++FExpectedAsks;
    if (FAnswer != IDOK) return false;
    FModel = ConvertPixelFormat(FModel, pf24bit);
    return true;
}

std::vector<uint8_t*> TOperationsRun::AreaRows() {
    std::vector<uint8_t*> rows;
    const int h = std::min(FControl.Height(), FModel.Height);
    for (int y = 0; y < h; ++y)
        rows.push_back(FModel.Row(y));
    return rows;
}

void TOperationsRun::Compare(const std::string& Step) {
    FLog += " " + Step;
    const TDibImage& got = FControl.Picture()->GetBitmap()->Dib();
    FuzzCheck(got.Format == FModel.Format && got.Width == FModel.Width && got.Height == FModel.Height,
              "format or size differs from the model after" + FLog);
    const auto diff = std::mismatch(got.Bits.begin(), got.Bits.end(), FModel.Bits.begin(), FModel.Bits.end());
    FuzzCheck(diff.first == got.Bits.end() && diff.second == FModel.Bits.end(),
              "byte " + std::to_string(diff.first - got.Bits.begin()) + " differs from the model after" +
                  FLog);
    FuzzCheck(FAsked == FExpectedAsks, "the convert box was shown " + std::to_string(FAsked) +
                                           " times, expected " + std::to_string(FExpectedAsks) + "," + FLog);
}

void TOperationsRun::CatalogueStep(const TCatalogueEntry& Entry) {
    const TOperation op = CatalogueOperation(Entry, [this] { return FIn.Raw<uint32_t>(); });
    std::string step = op.Spec->OptionName(op.Channel) + "(";
    for (double value : op.Values)
        step += std::to_string(value) + ",";
    step += ")";
    ApplyOperation(FControl, op);
    if (op.Spec->ChangesPicture) {
        if (!ModelFrame()) return Compare(step);
        std::vector<uint8_t*> rows = AreaRows();
        const int w = std::min(FControl.Width(), FModel.Width);
        if (w <= 0 || rows.empty()) return Compare(step);
        Entry.Model({rows.data(), w, int(rows.size()), FGains}, op);
    } else {
        Entry.Model({nullptr, 0, 0, FGains}, op);
        for (const auto& [level, percent] : op.Points()) {
            const int offset = ChannelInfo(*op.Channel).ByteOffset;
            FuzzCheck(GetEnvelop(FControl, *op.Channel, uint8_t(level)) ==
                          KvKernels::EnvelopePercentFromGain(FGains[offset][level]),
                      "the getter does not read the stored gain back," + FLog + " " + step);
        }
    }
    Compare(step);
}

void TOperationsRun::Refusal() {
    const bool filter = FIn.Byte() % 2;
    const int32_t radius = -1 - int32_t(FIn.Raw<uint32_t>() % 0x7FFFFFFF);
    const std::string step = filter ? "Blur(" + std::to_string(radius) + ")" : "SetRedEnvelop(NaN)";
    const int asked = FAsked;
    bool refused = false;
    try {
        if (filter)
            FControl.Blur(50, radius);
        else
            FControl.SetRedEnvelop(FIn.Byte(), std::nan(""));
    } catch (const EArgumentError&) {
        refused = filter;
    } catch (const EInvalidOperation&) {
        refused = !filter;
    }
    FuzzCheck(refused && FAsked == asked, "not refused before asking," + FLog + " " + step);
    Compare(step);
}

void TOperationsRun::Pixel() {
    if (FModel.Format != pf24bit) return; // the pixel accessors address 24-bit rows
    const int32_t x = SmallOrAny(FIn, 40, 8), y = SmallOrAny(FIn, 40, 8);
    const TRGBColor colour{FIn.Byte(), FIn.Byte(), FIn.Byte()};
    const bool inside = x >= 0 && y >= 0 && x < FModel.Width && y < FModel.Height;
    const std::string step = "Pixel(" + std::to_string(x) + "," + std::to_string(y) + ")";
    try {
        const TRGBColor old = FControl.GetRGBPixel(x, y);
        FuzzCheck(inside, "pixel read outside the bitmap," + FLog + " " + step);
        const uint8_t* p = FModel.Row(y) + 3 * size_t(x);
        FuzzCheck(old == TRGBColor{p[0], p[1], p[2]},
                  "GetRGBPixel differs from the bitmap," + FLog + " " + step);
        FControl.SetRGBPixel(x, y, colour);
        uint8_t* q = FModel.Row(y) + 3 * size_t(x);
        q[0] = colour.Blue, q[1] = colour.Green, q[2] = colour.Red;
    } catch (const ERangeError&) {
        FuzzCheck(!inside, "ERangeError inside the bitmap," + FLog + " " + step);
    }
    Compare(step);
}

void TOperationsRun::Run() {
    const TSettingsGuard settings([this](HWND, const std::string&, const std::string&, unsigned) {
        ++FAsked;
        return FAnswer;
    });
    for (auto& table : FGains)
        std::fill(std::begin(table), std::end(table), 1.0);
    FModel = MakePicture(FIn);
    FControl.Picture()->GetBitmap()->Assign(FModel);
    FModel = FControl.Picture()->GetBitmap()->Dib(); // as the bitmap keeps it (palette padded)
    FAnswer = FIn.Byte() % 4 ? IDOK : IDCANCEL;
    const int levels = int(KvKernels::SupportedSimdLevel()) + 1;
    KvKernels::SetSimdLevel(KvKernels::TSimdLevel(FIn.Byte() % levels));
    FControl.resize(FIn.Byte() % (FModel.Width + 3), FIn.Byte() % (FModel.Height + 3));
    FLog = "picture " + std::to_string(FModel.Width) + "x" + std::to_string(FModel.Height) + " format " +
           std::to_string(int(FModel.Format)) + " control " + std::to_string(FControl.Width()) + "x" +
           std::to_string(FControl.Height()) + " simd " + std::to_string(int(KvKernels::SimdLevel())) + ":";
    const std::vector<TCatalogueEntry>& catalogue = OperationCatalogue();
    for (int step = 0; step < 32 && !FIn.AtEnd(); ++step) {
        const size_t op = FIn.Byte() % (catalogue.size() + 3);
        if (op < catalogue.size()) {
            CatalogueStep(catalogue[op]);
        } else if (op == catalogue.size()) {
            Refusal();
        } else if (op == catalogue.size() + 1) {
            const int w = FIn.Byte() % (FModel.Width + 3), h = FIn.Byte() % (FModel.Height + 3);
            FControl.resize(w, h);
            Compare("resize(" + std::to_string(w) + "," + std::to_string(h) + ")");
        } else {
            Pixel();
        }
    }
}

} // namespace

void FuzzOperations(const uint8_t* Data, size_t Size) {
    TReader in(Data, Size);
    TOperationsRun run(in);
    run.Run();
}
