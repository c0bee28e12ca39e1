// The image control: pixel access, the convert-work-repaint frame, clipping and the worked numbers of
// the point operations and envelopes.
#include "ModalDriver.h"
#include "OperationCatalogue.h"
#include "PaintCounter.h"
#include "TestPictures.h"
#include <pictura/Forms.h>
#include <pictura/ImageLimits.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <gtest/gtest.h>

#include <QMetaProperty>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

// A 24-bit picture given as rows of grey levels (all three channels equal).
void LoadGrey(TKvPictura& Control, const std::vector<std::vector<int>>& Rows) {
    Control.SetAutoSize(true);
    Control.Picture()->GetBitmap()->Assign(
        Picture24(int(Rows[0].size()), int(Rows.size()), [&](int x, int y, uint8_t* p) {
            p[0] = p[1] = p[2] = uint8_t(Rows[size_t(y)][size_t(x)]);
        }));
}

// Channel Channel (0 blue, 1 green, 2 red) of every pixel, row by row.
std::vector<std::vector<int>> Channel(TKvPictura& Control, int Channel) {
    std::vector<std::vector<int>> rows;
    TBitmap* bitmap = Control.Picture()->GetBitmap();
    for (int y = 0; y < bitmap->Height(); ++y) {
        rows.emplace_back();
        for (int x = 0; x < bitmap->Width(); ++x)
            rows.back().push_back(bitmap->GetScanline(y)[3 * x + Channel]);
    }
    return rows;
}

using Grid = std::vector<std::vector<int>>;

// An 8-bit palette picture, 4 x 2, with index i showing palette colour i.
void LoadPalette(TKvPictura& Control) {
    TDibImage dib;
    dib.Width = 4;
    dib.Height = 2;
    dib.Format = pf8bit;
    dib.Palette = {0xFF102030u, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    dib.Bits.assign(dib.Stride() * 2, 0);
    for (int x = 0; x < 4; ++x)
        dib.Row(0)[x] = dib.Row(1)[x] = uint8_t(x);
    Control.SetAutoSize(true);
    Control.Picture()->GetBitmap()->Assign(dib);
}

// Counts message boxes and answers them with a fixed answer.
struct TCountingAnswerer {
    explicit TCountingAnswerer(int Answer) {
        previous =
            SetMessageBoxAnswerer([this, Answer](HWND, const std::string&, const std::string&, unsigned) {
                ++Boxes;
                return Answer;
            });
    }
    ~TCountingAnswerer() { SetMessageBoxAnswerer(previous); }
    int Boxes = 0;
    TMessageBoxAnswerer previous;
};

} // namespace

TEST(FitinRange, ClampsToAChannel) {
    EXPECT_EQ(FitinRange(256), 255);
    EXPECT_EQ(FitinRange(1000), 255);
    EXPECT_EQ(FitinRange(-1), 0);
    EXPECT_EQ(FitinRange(INT32_MIN), 0);
    EXPECT_EQ(FitinRange(0), 0);
    EXPECT_EQ(FitinRange(255), 255);
    EXPECT_EQ(FitinRange(77), 77);
}

TEST(KvPictura, NewControlHasFullGainsAndPublishesItsProperties) {
    TKvPictura control;
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(control.GetRedEnvelop(uint8_t(i)), 100.0);
        EXPECT_EQ(control.GetGreenEnvelop(uint8_t(i)), 100.0);
        EXPECT_EQ(control.GetBlueEnvelop(uint8_t(i)), 100.0);
    }
    const QMetaObject* meta = control.metaObject();
    for (const char* name : TKvPictura::PublishedProperties)
        if (std::string(name).rfind("On", 0) != 0) {
            EXPECT_GE(meta->indexOfProperty(name), 0) << name;
        }
    // Form designers offer the designable properties, and warn about any whose type they cannot edit:
    // no object pointers among them.
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.isDesignable())
            EXPECT_FALSE(property.metaType().flags() & QMetaType::PointerToQObject) << property.name();
    }
}

TEST(KvPictura, PixelAccessRoundTripsAndChecksItsRange) {
    TKvPictura control;
    LoadGrey(control, {{0, 0, 0}, {0, 0, 0}});
    control.SetRGBPixel(2, 1, TRGBColor{0, 0, 255});
    EXPECT_EQ(control.GetRGBPixel(2, 1), (TRGBColor{0, 0, 255}));
    EXPECT_EQ(control.Picture()->GetBitmap()->GetScanline(1)[8], 255); // red is byte +2
    control.SetRGBPixel(0, 0, TRGBColor{10, 20, 30});
    EXPECT_EQ(control.GetRGBPixel(0, 0), (TRGBColor{10, 20, 30}));
    for (auto [x, y] :
         {std::pair{-1, 0}, std::pair{3, 0}, std::pair{0, -1}, std::pair{0, 2}, std::pair{INT32_MAX, 0}}) {
        EXPECT_THROW(control.GetRGBPixel(x, y), ERangeError) << x << "," << y;
        EXPECT_THROW(control.SetRGBPixel(x, y, TRGBColor{1, 2, 3}), ERangeError) << x << "," << y;
    }
}

TEST(KvPictura, TrueColourPictureAsksNothing) {
    TCountingAnswerer answerer(IDCANCEL);
    TKvPictura control;
    LoadGrey(control, {{10, 20}});
    control.Invert();
    EXPECT_EQ(answerer.Boxes, 0);
    EXPECT_EQ(Channel(control, 2), (Grid{{245, 235}}));
}

// A control without a picture (its file was not found) has nothing to convert: no box, every operation
// does nothing but repaint, and pixel access says the picture is empty.
TEST(KvPictura, EmptyPictureAsksNothingAndStillRepaints) {
    TCountingAnswerer answerer(IDOK);
    TForm form;
    auto* control = new TKvPictura(&form);
    control->resize(40, 30);
    form.Show();
    QApplication::processEvents();
    TPaintCounter paints(control);
    const std::function<void(TKvPictura&)> operations[] = {
        [](TKvPictura& c) { c.Invert(); },         [](TKvPictura& c) { c.Brightness(20); },
        [](TKvPictura& c) { c.GreyScale(); },      [](TKvPictura& c) { c.Blur(50, 2); },
        [](TKvPictura& c) { c.Sharpen(50, 2); },   [](TKvPictura& c) { c.ApplyEnvelops(); },
        [](TKvPictura& c) { c.ApplyRedEnvelop(); }};
    for (const auto& operation : operations) {
        const int before = paints.Paints;
        operation(*control);
        QApplication::processEvents();
        EXPECT_GT(paints.Paints, before);
    }
    EXPECT_EQ(answerer.Boxes, 0);
    EXPECT_TRUE(control->Picture()->GetBitmap()->Empty());
    try {
        control->GetRGBPixel(0, 0);
        ADD_FAILURE() << "no error";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("the picture is empty"), std::string::npos) << e.what();
    }
}

TEST(KvPictura, DeclinedConversionChangesNothingAndDoesNotRepaint) {
    TRealMessageBoxes real;
    TForm form;
    auto* control = new TKvPictura(&form);
    LoadPalette(*control);
    form.Show();
    QApplication::processEvents();
    const std::vector<uint8_t> before = control->Picture()->GetBitmap()->Dib().Bits;
    TPaintCounter paints(control);
    TSeenBox seen;
    AnswerNextBox(QMessageBox::Cancel, &seen);
    control->Brightness(50);
    EXPECT_TRUE(seen.Shown);
    EXPECT_EQ(seen.Title, "Convert");
    EXPECT_EQ(seen.Text, "The Imge will convert to \"24 bit color\" format");
    EXPECT_EQ(seen.Buttons.size(), 2);
    EXPECT_FALSE(seen.HasIcon);
    EXPECT_EQ(seen.Parent, &form);
    EXPECT_EQ(control->Picture()->GetBitmap()->GetPixelFormat(), pf8bit);
    EXPECT_EQ(control->Picture()->GetBitmap()->Dib().Bits, before);
    EXPECT_EQ(paints.Paints, 0);
}

TEST(KvPictura, AcceptedConversionConvertsThenRuns) {
    TRealMessageBoxes real;
    TForm form;
    auto* control = new TKvPictura(&form);
    LoadPalette(*control);
    form.Show();
    AnswerNextBox(QMessageBox::Ok, nullptr);
    control->Invert();
    ASSERT_EQ(control->Picture()->GetBitmap()->GetPixelFormat(), pf24bit);
    EXPECT_EQ(control->GetRGBPixel(0, 1), (TRGBColor{255 - 0x30, 255 - 0x20, 255 - 0x10}));
    EXPECT_EQ(control->GetRGBPixel(1, 0), (TRGBColor{255, 255, 0}));
}

TEST(KvPictura, ControlWithoutOwnerStillGetsItsBox) {
    TRealMessageBoxes real;
    TKvPictura control;
    LoadPalette(control);
    TSeenBox seen;
    AnswerNextBox(QMessageBox::Cancel, &seen);
    EXPECT_FALSE(control.Set24BitColor());
    EXPECT_TRUE(seen.Shown);
    EXPECT_EQ(seen.Parent, nullptr);
    QObject owner; // an owner with no window
    auto* owned = new TKvPictura(&owner);
    LoadPalette(*owned);
    AnswerNextBox(QMessageBox::Ok, &seen);
    EXPECT_TRUE(owned->Set24BitColor());
    EXPECT_EQ(owned->Picture()->GetBitmap()->GetPixelFormat(), pf24bit);
}

TEST(KvPictura, EmptyAreaChangesNothingButRepaints) {
    TForm form;
    auto* control = new TKvPictura(&form);
    LoadGrey(*control, {{1, 2}, {3, 4}});
    form.Show();
    QApplication::processEvents();
    control->SetAutoSize(false);
    control->resize(0, 2);
    TPaintCounter paints(control);
    control->Invert();
    EXPECT_EQ(Channel(*control, 0), (Grid{{1, 2}, {3, 4}}));
    control->resize(2, 2);
    QApplication::processEvents();
    paints.Paints = 0;
    control->Invert();
    EXPECT_EQ(paints.Paints, 1);
}

TEST(KvPictura, AreaIsTheControlClippedToTheBitmap) {
    TKvPictura control;
    LoadGrey(control, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    control.SetAutoSize(false);
    control.resize(2, 1);
    control.Invert();
    EXPECT_EQ(Channel(control, 1), (Grid{{254, 253, 3}, {4, 5, 6}, {7, 8, 9}}));
    control.resize(50, 40); // larger than the picture: the whole picture, nothing beyond it
    control.Invert();
    EXPECT_EQ(Channel(control, 1), (Grid{{1, 2, 252}, {251, 250, 249}, {248, 247, 246}}));
    control.Blur(100, 3);
    control.Sharpen(100, 3);
    control.ApplyEnvelops();
}

// The filters' working memory counts with the picture against the picture-memory limit: refused before
// any pixel changes when they do not fit together, run when they do; a negative radius is refused too.
TEST(KvPictura, FilterMemoryCountsAgainstThePictureLimit) {
    TKvPictura control;
    LoadGrey(control, {{10, 200, 30, 90}, {250, 0, 120, 60}, {5, 77, 199, 3}});
    const Grid before = Channel(control, 2);
    const size_t previous = GetMaxBitmapBytes();
    SetMaxBitmapBytes(4096); // the picture fits, its mixing tables alone do not
    EXPECT_THROW(control.Blur(100, 2), EOutOfResources);
    EXPECT_EQ(Channel(control, 2), before);
    SetMaxBitmapBytes(size_t(8) << 20);
    EXPECT_THROW(control.Sharpen(50, -1), EArgumentError);
    EXPECT_EQ(Channel(control, 2), before);
    control.Blur(100, 2);
    SetMaxBitmapBytes(previous);
    EXPECT_NE(Channel(control, 2), before);
}

TEST(PointOperations, InvertTwiceRestores) {
    TKvPictura control;
    control.SetAutoSize(true);
    LoadGrey(control, {{0, 0}});
    control.SetRGBPixel(0, 0, TRGBColor{10, 20, 30});
    control.Invert();
    EXPECT_EQ(control.GetRGBPixel(0, 0), (TRGBColor{245, 235, 225}));
    control.Invert();
    EXPECT_EQ(control.GetRGBPixel(0, 0), (TRGBColor{10, 20, 30}));
}

TEST(PointOperations, BrightnessRoundsInExtendedPrecisionTiesToEven) {
    struct Row {
        int value;
        Grid in, out;
    };
    const Row rows[] = {
        {0, {{0, 2, 127, 255}}, {{0, 2, 127, 255}}},
        {100, {{0, 2, 127, 255}}, {{255, 255, 255, 255}}},
        {150, {{0, 2, 127, 255}}, {{255, 255, 255, 255}}},
        {-100, {{0, 2, 127, 255}}, {{0, 0, 0, 0}}},
        {-150, {{0, 2, 127, 255}}, {{0, 0, 0, 0}}},
        {50, {{0, 2, 255}}, {{128, 128, 255}}},
        {-50, {{255, 3}}, {{127, 1}}},
        {10, {{250}}, {{251}}}, // 5 x 0.1 is just above one half in extended precision
    };
    for (const Row& row : rows) {
        TKvPictura control;
        LoadGrey(control, row.in);
        control.Brightness(row.value);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(Channel(control, c), row.out) << "value " << row.value;
    }
}

TEST(PointOperations, GreyScaleWorkedValues) {
    TKvPictura control;
    LoadGrey(control, {{0, 0, 0, 0, 77, 200}});
    control.SetRGBPixel(0, 0, TRGBColor{0, 0, 255});
    control.SetRGBPixel(1, 0, TRGBColor{0, 255, 0});
    control.SetRGBPixel(2, 0, TRGBColor{255, 0, 0});
    control.SetRGBPixel(3, 0, TRGBColor{255, 255, 255});
    control.GreyScale();
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(Channel(control, c), (Grid{{54, 182, 18, 255, 77, 200}}));
}

TEST(Envelopes, SettersClampAndKeepEntriesFreeOfNaN) {
    TKvPictura control;
    struct Row {
        double set, readBack;
    };
    for (const Row& row : {Row{150, 100}, Row{-5, 0}, Row{100, 100}, Row{0, 0}, Row{HUGE_VAL, 100},
                           Row{-HUGE_VAL, 0}, Row{7, 7.000000000000001}, Row{29, 28.999999999999996}}) {
        control.SetGreenEnvelop(9, row.set);
        EXPECT_EQ(control.GetGreenEnvelop(9), row.readBack) << row.set;
    }
    control.SetBlueEnvelop(3, 40);
    EXPECT_THROW(control.SetBlueEnvelop(3, std::nan("")), EInvalidOperation);
    EXPECT_EQ(control.GetBlueEnvelop(3), 40);
}

TEST(Envelopes, ApplyWorkedValuesOnTheirOwnChannel) {
    TKvPictura control;
    LoadGrey(control, {{200, 255, 3, 1, 199}});
    for (int index : {200, 255, 3, 1})
        control.SetRedEnvelop(uint8_t(index), 50);
    control.ApplyRedEnvelop();
    EXPECT_EQ(Channel(control, 2), (Grid{{100, 128, 2, 0, 199}}));
    EXPECT_EQ(Channel(control, 1), (Grid{{200, 255, 3, 1, 199}}));
    EXPECT_EQ(Channel(control, 0), (Grid{{200, 255, 3, 1, 199}}));
    control.ApplyRedEnvelop(); // the second pass looks up the changed values
    EXPECT_EQ(Channel(control, 2), (Grid{{100, 128, 2, 0, 199}}));
    control.SetBlueEnvelop(199, 0);
    control.SetGreenEnvelop(255, 0);
    control.ApplyEnvelops();
    EXPECT_EQ(Channel(control, 0), (Grid{{200, 255, 3, 1, 0}}));
    EXPECT_EQ(Channel(control, 1), (Grid{{200, 0, 3, 1, 199}}));
}

TEST(Envelopes, DefaultTablesLeaveThePictureButRepaint) {
    TForm form;
    auto* control = new TKvPictura(&form);
    LoadGrey(*control, {{0, 128, 255}});
    form.Show();
    QApplication::processEvents();
    TPaintCounter paints(control);
    control->SetRedEnvelop(4, 20); // setters never repaint
    EXPECT_EQ(paints.Paints, 0);
    control->SetRedEnvelop(4, 100);
    control->ApplyEnvelops();
    control->ApplyGreenEnvelop();
    EXPECT_EQ(paints.Paints, 2);
    EXPECT_EQ(Channel(*control, 2), (Grid{{0, 128, 255}}));
}

namespace {

// Every OnProgress event of a control: stage, percent and whether the control itself sent it.
struct TProgressLog {
    explicit TProgressLog(TKvPictura& Control) {
        Control.OnProgress = [this, &Control](TObject* Sender, TProgressStage Stage, int Percent, bool,
                                              const QRect&, const QString& Message) {
            Events.push_back({Stage, Percent, Sender == &Control, Message});
        };
    }
    struct TEvent {
        TProgressStage Stage;
        int Percent;
        bool FromControl;
        QString Message;
    };
    std::vector<TEvent> Events;
};

// Checks that Events[From..To) are one operation named What: a start at 0, growing whole percents
// strictly between 0 and 100, an end at 100, all sent by the control.
void ExpectOneOperation(const std::vector<TProgressLog::TEvent>& Events, size_t From, size_t To,
                        const QString& What, bool ExpectRunning) {
    ASSERT_GE(To - From, 2u) << What.toStdString();
    EXPECT_EQ(Events[From].Stage, psStarting) << What.toStdString();
    EXPECT_EQ(Events[From].Percent, 0);
    EXPECT_EQ(Events[To - 1].Stage, psEnding) << What.toStdString();
    EXPECT_EQ(Events[To - 1].Percent, 100);
    int last = 0;
    for (size_t i = From; i < To; ++i) {
        EXPECT_TRUE(Events[i].FromControl);
        EXPECT_EQ(Events[i].Message, What);
        if (i == From || i == To - 1) continue;
        EXPECT_EQ(Events[i].Stage, psRunning) << What.toStdString() << " event " << i;
        EXPECT_GT(Events[i].Percent, last) << What.toStdString();
        EXPECT_LT(Events[i].Percent, 100);
        last = Events[i].Percent;
    }
    if (ExpectRunning) {
        EXPECT_GT(To - From, 2u) << What.toStdString() << " reported nothing while running";
    }
}

} // namespace

TEST(Progress, EveryOperationReportsStartGrowingPercentsAndEndOnce) {
    std::mt19937 random(20261208);
    const TCatalogueRandom next = [&random] { return uint32_t(random()); };
    // 300 rows and columns: a report per row or per column would give more than the 99 whole percents.
    const Grid square(300, std::vector<int>(300, 7));
    for (const TCatalogueEntry& entry : OperationCatalogue()) {
        if (!*entry.Progress) continue; // table settings touch no pixel and report nothing
        TOperation op = CatalogueOperation(entry, next);
        if (op.Values.size() > 1) op.Values[1] = 2; // a filter's radius: one sweep over the picture
        for (TChannel channel : AllChannels) {
            if (op.Channel) op.Channel = channel; // each channel of a per-channel row
            const QString what = QString::fromStdString(CatalogueProgress(entry, op));
            TKvPictura control;
            LoadGrey(control, square);
            TProgressLog log(control);
            ApplyOperation(control, op);
            ExpectOneOperation(log.Events, 0, log.Events.size(), what, true);
            EXPECT_LE(log.Events.size(), 101u) << entry.Operation;

            // An empty area still starts and ends.
            control.SetAutoSize(false);
            control.resize(0, 5);
            log.Events.clear();
            ApplyOperation(control, op);
            ExpectOneOperation(log.Events, 0, log.Events.size(), what, false);
            EXPECT_EQ(log.Events.size(), 2u) << entry.Operation;
            if (!op.Channel) break;
        }
    }
}

TEST(Progress, ConversionReportsBeforeTheOperationAndADeclinedOneNothing) {
    TKvPictura control;
    LoadPalette(control);
    TProgressLog log(control);
    {
        TCountingAnswerer answerer(IDCANCEL);
        control.Invert();
    }
    EXPECT_TRUE(log.Events.empty());
    TCountingAnswerer answerer(IDOK);
    control.Invert();
    ExpectOneOperation(log.Events, 0, 2, "Convert", false);
    ExpectOneOperation(log.Events, 2, log.Events.size(), "Invert", true);
}
