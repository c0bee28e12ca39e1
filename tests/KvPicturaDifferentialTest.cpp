// The control against the straightforward models: random pictures, control sizes (smaller and larger
// than the picture) and sequences of operations with random arguments must give the same bytes.
#include "FiltersModel.h"
#include "KvEnvelopeMath.h"
#include "KvFilters.h"
#include "PointOpsModel.h"
#include "TestPictures.h"
#include <pictura/KvPictura.h>

#include <gtest/gtest.h>

#include <random>

namespace {

// The model's side: the same picture as plain memory plus its gain tables.
struct TModelPicture {
    TDibImage Dib;
    double Red[256], Green[256], Blue[256];

    std::vector<uint8_t*> Rows(int Height) {
        std::vector<uint8_t*> rows;
        for (int y = 0; y < Height; ++y)
            rows.push_back(Dib.Row(y));
        return rows;
    }
};

TDibImage RandomPicture(std::mt19937& Random, int W, int H) {
    TDibImage dib = BlankPicture(pf24bit, W, H);
    const int style = int(Random() % 3);
    for (size_t i = 0; i < dib.Bits.size(); ++i) {
        // Noise, a few levels only (ties and equal means), or saturated extremes.
        const uint32_t r = Random();
        dib.Bits[i] = style == 0   ? uint8_t(r)
                      : style == 1 ? uint8_t(100 + r % 4)
                                   : uint8_t((r & 1) ? 255 : r % 3);
    }
    return dib;
}

} // namespace

TEST(KvPicturaDifferential, RandomOperationSequencesMatchTheModels) {
    std::mt19937 random(20261207);
    for (int trial = 0; trial < 2000; ++trial) {
        const int w = 1 + int(random() % 40), h = 1 + int(random() % 30);
        TKvPictura control;
        control.Picture()->GetBitmap()->Assign(RandomPicture(random, w, h));
        TModelPicture model{control.Picture()->GetBitmap()->Dib(), {}, {}, {}};
        std::fill(std::begin(model.Red), std::end(model.Red), 1.0);
        std::fill(std::begin(model.Green), std::end(model.Green), 1.0);
        std::fill(std::begin(model.Blue), std::end(model.Blue), 1.0);
        // The control's size: the picture's, or smaller, or larger; the area is clipped to the picture.
        const int cw = int(random() % (w + 5)), ch = int(random() % (h + 5));
        control.resize(cw, ch);
        const int aw = std::min(cw, w), ah = std::min(ch, h);
        std::string log;
        for (int step = 0; step < 4; ++step) {
            std::vector<uint8_t*> rows = model.Rows(ah);
            const int op = int(random() % 8);
            const int8_t amount = int8_t(random());
            const int32_t radius = int32_t(random() % 45);
            const int32_t value = int32_t(random() % 260) - 130;
            log += " op" + std::to_string(op) + "(" + std::to_string(amount) + "," + std::to_string(radius) +
                   "," + std::to_string(value) + ")";
            switch (op) {
            case 0:
                control.Invert();
                ModelInvert(rows.data(), aw, ah);
                break;
            case 1:
                control.Brightness(value);
                ModelBrightness(rows.data(), aw, ah, value);
                break;
            case 2:
                control.GreyScale();
                ModelGreyScale(rows.data(), aw, ah);
                break;
            case 3:
                control.Blur(amount, radius);
                KvModel::ModelFilterArea(rows.data(), aw, ah, amount, radius, KvKernels::TFilterKind::Blur);
                break;
            case 4:
                control.Sharpen(amount, radius);
                KvModel::ModelFilterArea(rows.data(), aw, ah, amount, radius,
                                         KvKernels::TFilterKind::Sharpen);
                break;
            case 5: {
                // Random gains, set through the control and mirrored in the model's tables.
                for (int k = 0; k < 40; ++k) {
                    const uint8_t index = uint8_t(random());
                    const double percent = double(random() % 12000) / 100.0 - 10.0;
                    control.SetRedEnvelop(index, percent);
                    model.Red[index] = KvKernels::EnvelopeGainFromPercent(percent);
                    control.SetGreenEnvelop(uint8_t(index + 1), percent);
                    model.Green[uint8_t(index + 1)] = KvKernels::EnvelopeGainFromPercent(percent);
                    control.SetBlueEnvelop(uint8_t(index + 2), percent);
                    model.Blue[uint8_t(index + 2)] = KvKernels::EnvelopeGainFromPercent(percent);
                }
                control.ApplyEnvelops();
                ModelApplyEnvelops(rows.data(), aw, ah, model.Red, model.Green, model.Blue);
                break;
            }
            case 6:
                control.ApplyRedEnvelop();
                ModelApplyEnvelop(rows.data(), aw, ah, 2, model.Red);
                break;
            default:
                control.ApplyBlueEnvelop();
                ModelApplyEnvelop(rows.data(), aw, ah, 0, model.Blue);
                break;
            }
            const std::vector<uint8_t>& got = control.Picture()->GetBitmap()->Dib().Bits;
            const auto diff = std::mismatch(got.begin(), got.end(), model.Dib.Bits.begin());
            ASSERT_TRUE(diff.first == got.end())
                << "first difference at byte " << (diff.first - got.begin()) << ": " << int(*diff.first)
                << " instead of " << int(*diff.second) << ";"
                << "trial " << trial << " picture " << w << "x" << h << " control " << cw << "x" << ch << log;
        }
    }
}

// Pictures large enough for the point operations to share their rows among threads: the same bytes as
// the models whatever the thread count, outside the control's area too.
TEST(KvPicturaDifferential, PointOperationsOnSeveralThreadsMatchTheModels) {
    std::mt19937 random(20261208);
    const int w = 801, h = 700, cw = 789; // over the threshold for threads
    const TDibImage picture = RandomPicture(random, w, h);
    double percents[3][256];
    for (auto& table : percents)
        for (double& percent : table)
            percent = double(random() % 10000) / 100.0;
    for (int threads : {1, 2, 3, 8}) {
        KvKernels::SetFilterThreads(threads);
        TKvPictura control;
        control.Picture()->GetBitmap()->Assign(picture);
        control.resize(cw, h);
        TModelPicture model{picture, {}, {}, {}};
        for (int i = 0; i < 256; ++i) {
            control.SetRedEnvelop(uint8_t(i), percents[0][i]);
            control.SetGreenEnvelop(uint8_t(i), percents[1][i]);
            control.SetBlueEnvelop(uint8_t(i), percents[2][i]);
            model.Red[i] = KvKernels::EnvelopeGainFromPercent(percents[0][i]);
            model.Green[i] = KvKernels::EnvelopeGainFromPercent(percents[1][i]);
            model.Blue[i] = KvKernels::EnvelopeGainFromPercent(percents[2][i]);
        }
        std::vector<uint8_t*> rows = model.Rows(h);
        control.Brightness(-37);
        ModelBrightness(rows.data(), cw, h, -37);
        control.ApplyEnvelops();
        ModelApplyEnvelops(rows.data(), cw, h, model.Red, model.Green, model.Blue);
        control.ApplyRedEnvelop();
        ModelApplyEnvelop(rows.data(), cw, h, 2, model.Red);
        control.Invert();
        ModelInvert(rows.data(), cw, h);
        control.GreyScale();
        ModelGreyScale(rows.data(), cw, h);
        ASSERT_TRUE(control.Picture()->GetBitmap()->Dib().Bits == model.Dib.Bits) << threads << " threads";
    }
    KvKernels::SetFilterThreads(0);
}
