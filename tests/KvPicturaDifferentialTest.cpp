// The control against the straightforward models: random pictures, control sizes (smaller and larger
// than the picture) and sequences of operations with random arguments must give the same bytes.
#include "KvFilters.h"
#include "OperationCatalogue.h"
#include "TestPictures.h"
#include <pictura/KvPictura.h>

#include <gtest/gtest.h>

#include <random>

namespace {

// The model's side: the same picture as plain memory plus its gain tables, by byte offset.
struct TModelPicture {
    TDibImage Dib;
    double Gains[3][256];

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
    const TCatalogueRandom next = [&random] { return uint32_t(random()); };
    const std::vector<TCatalogueEntry>& catalogue = OperationCatalogue();
    for (int trial = 0; trial < 2000; ++trial) {
        const int w = 1 + int(random() % 40), h = 1 + int(random() % 30);
        TKvPictura control;
        control.Picture()->GetBitmap()->Assign(RandomPicture(random, w, h));
        TModelPicture model{control.Picture()->GetBitmap()->Dib(), {}};
        for (auto& table : model.Gains)
            std::fill(std::begin(table), std::end(table), 1.0);
        // The control's size: the picture's, or smaller, or larger; the area is clipped to the picture.
        const int cw = int(random() % (w + 5)), ch = int(random() % (h + 5));
        control.resize(cw, ch);
        const int aw = std::min(cw, w), ah = std::min(ch, h);
        std::string log;
        for (int step = 0; step < 6; ++step) {
            std::vector<uint8_t*> rows = model.Rows(ah);
            const TCatalogueEntry& entry = catalogue[random() % catalogue.size()];
            const TOperation op = CatalogueOperation(entry, next);
            log += " " + op.Spec->OptionName(op.Channel) + "(" + std::to_string(op.Values.size()) + " values";
            for (size_t i = 0; i < std::min<size_t>(op.Values.size(), 2); ++i)
                log += " " + std::to_string(op.Values[i]);
            log += ")";
            ApplyOperation(control, op);
            entry.Model({rows.data(), aw, ah, model.Gains}, op);
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
        TModelPicture model{picture, {}};
        std::vector<uint8_t*> rows = model.Rows(h);
        // Three equal envelopes are one byte map over all bytes: the defaults, then 83 % for every value.
        for (double percent : {100.0, 83.0}) {
            double gains[256];
            for (int i = 0; i < 256; ++i) {
                control.SetRedEnvelop(uint8_t(i), percent);
                control.SetGreenEnvelop(uint8_t(i), percent);
                control.SetBlueEnvelop(uint8_t(i), percent);
                gains[i] = KvModel::ModelGainFromPercent(percent);
            }
            control.ApplyEnvelops();
            KvModel::ModelApplyEnvelops(rows.data(), cw, h, gains, gains, gains);
        }
        for (int i = 0; i < 256; ++i) {
            control.SetRedEnvelop(uint8_t(i), percents[0][i]);
            control.SetGreenEnvelop(uint8_t(i), percents[1][i]);
            control.SetBlueEnvelop(uint8_t(i), percents[2][i]);
            for (int channel = 0; channel < 3; ++channel)
                model.Gains[2 - channel][i] = KvModel::ModelGainFromPercent(percents[channel][i]);
        }
        control.Brightness(-37);
        KvModel::ModelBrightness(rows.data(), cw, h, -37);
        control.ApplyEnvelops();
        KvModel::ModelApplyEnvelops(rows.data(), cw, h, model.Gains[2], model.Gains[1], model.Gains[0]);
        control.ApplyRedEnvelop();
        KvModel::ModelApplyEnvelop(rows.data(), cw, h, 2, model.Gains[2]);
        control.Invert();
        KvModel::ModelInvert(rows.data(), cw, h);
        control.GreyScale();
        KvModel::ModelGreyScale(rows.data(), cw, h);
        ASSERT_TRUE(control.Picture()->GetBitmap()->Dib().Bits == model.Dib.Bits) << threads << " threads";
    }
    KvKernels::SetFilterThreads(0);
}
