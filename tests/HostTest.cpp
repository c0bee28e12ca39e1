// The framework layer: bitmaps, pictures and files, the image control, ownership, message boxes.
#include "BmpCodec.h"
#include "ModalDriver.h"
#include "PaintCounter.h"
#include "TestPictures.h"
#include <pictura/Dialogs.h>
#include <pictura/Forms.h>
#include <pictura/Image.h>
#include <pictura/SysUtils.h>

#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// A 24-bit bitmap whose pixel (x, y) is (blue 7x, green 5y, red x + y).
TBitmap Gradient24(int W, int H) {
    TBitmap bitmap;
    bitmap.Assign(Picture24(W, H, [](int x, int y, uint8_t* p) {
        p[0] = uint8_t(x * 7), p[1] = uint8_t(y * 5), p[2] = uint8_t(x + y);
    }));
    return bitmap;
}

// An 8-bit palette bitmap with four colours in vertical stripes.
TDibImage Stripes8(int W, int H) {
    TDibImage dib = BlankPicture(pf8bit, W, H);
    const uint32_t colours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
    std::copy(std::begin(colours), std::end(colours), dib.Palette.begin());
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            dib.Row(y)[x] = uint8_t(x % 4);
    return dib;
}

QString WriteFile(const QTemporaryDir& Dir, const QString& Name, const QByteArray& Data) {
    const QString path = Dir.filePath(Name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(Data);
    return path;
}

QByteArray BmpBytes(const TDibImage& Dib) {
    const std::vector<uint8_t> bytes = EncodeBmp(Dib);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

} // namespace

TEST(Bitmap, ScanLinesArePaddedRowsTopToBottom) {
    struct Row {
        TPixelFormat format;
        int width;
        size_t bytesPerLine;
    };
    for (const Row& row :
         {Row{pf1bit, 33, 8}, Row{pf4bit, 9, 8}, Row{pf8bit, 5, 8}, Row{pf15bit, 3, 8}, Row{pf16bit, 2, 4},
          Row{pf24bit, 5, 16}, Row{pf24bit, 4, 12}, Row{pf32bit, 3, 12}, Row{pfDevice, 3, 12}}) {
        TDibImage dib;
        dib.Width = row.width;
        dib.Height = 3;
        dib.Format = row.format;
        dib.Bits.assign(dib.Stride() * 3, 0);
        TBitmap bitmap;
        bitmap.Assign(dib);
        EXPECT_EQ(bitmap.BytesPerLine(), row.bytesPerLine)
            << "format " << row.format << " width " << row.width;
        EXPECT_EQ(bitmap.GetScanline(1) - bitmap.GetScanline(0), ptrdiff_t(row.bytesPerLine));
        EXPECT_EQ(bitmap.GetScanline(2) - bitmap.GetScanline(1), ptrdiff_t(row.bytesPerLine));
    }
}

TEST(Bitmap, NewBitmapWithASizeIsDeviceFormatLaidOutAs32Bit) {
    TBitmap bitmap;
    EXPECT_TRUE(bitmap.Empty());
    bitmap.SetSize(5, 2);
    EXPECT_EQ(bitmap.GetPixelFormat(), pfDevice);
    EXPECT_EQ(bitmap.BytesPerLine(), 20u);
}

TEST(Bitmap, ScanLineOutsideTheRowsIsARangeError) {
    TBitmap bitmap = Gradient24(4, 3);
    EXPECT_THROW(bitmap.GetScanline(-1), ERangeError);
    EXPECT_THROW(bitmap.GetScanline(3), ERangeError);
    EXPECT_NO_THROW(bitmap.GetScanline(2));
    TBitmap empty;
    EXPECT_THROW(empty.GetScanline(0), ERangeError);
}

TEST(Bitmap, ResizeKeepsTheTopLeftPixels) {
    TBitmap bitmap = Gradient24(6, 4);
    bitmap.SetSize(3, 5);
    EXPECT_EQ(bitmap.GetScanline(2)[3 * 1 + 0], 7);
    EXPECT_EQ(bitmap.GetScanline(2)[3 * 1 + 1], 10);
    EXPECT_EQ(bitmap.GetScanline(4)[0], 0);
}

TEST(Bitmap, WrapsItsOwnMemoryForPainting) {
    TBitmap bitmap = Gradient24(7, 3);
    const QImage image = bitmap.ToQImage();
    EXPECT_EQ(image.constBits(), bitmap.GetScanline(0));
    EXPECT_EQ(image.pixel(4, 2), qRgb(6, 10, 28));
}

// A picture whose rows its memory cannot hold, or without a layout, would hand out scan lines into
// nothing: it is refused and the bitmap keeps what it had.
TEST(Bitmap, AssignRefusesPicturesItsRowsCannotReach) {
    TBitmap bitmap = Gradient24(4, 3);
    TDibImage shortMemory = Gradient24(4, 3).Dib();
    shortMemory.Bits.pop_back();
    TDibImage custom;
    custom.Width = 2, custom.Height = 2, custom.Format = pfCustom;
    TDibImage negative = Gradient24(4, 3).Dib();
    negative.Width = -4;
    for (const TDibImage& dib : {shortMemory, custom, negative})
        EXPECT_THROW(bitmap.Assign(dib), EArgumentError);
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.GetScanline(2)[3 * 1 + 1], 10);
}

TEST(Bitmap, OversizedBitmapsAreRefusedBeforeAllocating) {
    TBitmap bitmap;
    EXPECT_THROW(bitmap.SetSize(1 << 15, 1 << 14), EOutOfResources);
    EXPECT_TRUE(bitmap.Empty());
}

class PictureFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
};

TEST_F(PictureFiles, RoundTripsKeepPixelsAndDepth) {
    const TBitmap source = Gradient24(13, 7);
    for (const char* ext : {"bmp", "png", "ppm"}) {
        TPicture picture;
        picture.Assign(source);
        const QString path = dir.filePath(QString("round.") + ext);
        picture.SaveToFile(path);
        TPicture loaded;
        loaded.LoadFromFile(path);
        ASSERT_EQ(loaded.GetBitmap()->GetPixelFormat(), pf24bit) << ext;
        ASSERT_EQ(loaded.Width(), 13);
        ASSERT_EQ(loaded.Height(), 7);
        for (int y = 0; y < 7; ++y)
            EXPECT_EQ(0, memcmp(loaded.GetBitmap()->GetScanline(y), source.GetScanline(y), 13 * 3))
                << ext << " row " << y;
    }
}

TEST_F(PictureFiles, PaletteFilesLoadAsPaletteBitmaps) {
    TPicture picture;
    picture.GetBitmap()->Assign(Stripes8(9, 4));
    picture.SaveToFile(dir.filePath("stripes.bmp"));
    picture.SaveToFile(dir.filePath("stripes.png"));
    for (const char* name : {"stripes.bmp", "stripes.png"}) {
        TPicture loaded;
        loaded.LoadFromFile(dir.filePath(name));
        EXPECT_EQ(loaded.GetBitmap()->GetPixelFormat(), pf8bit) << name;
        EXPECT_EQ(loaded.GetBitmap()->ToQImage().pixel(2, 3), qRgb(0, 0, 255)) << name;
    }
}

TEST_F(PictureFiles, BadFilesRaiseAClearErrorAndKeepThePicture) {
    TPicture picture;
    picture.Assign(Gradient24(5, 5));
    const QByteArray good = BmpBytes(picture.GetBitmap()->Dib());
    const QString truncated = WriteFile(dir, "truncated.bmp", good.left(good.size() - 20));
    const QString garbage = WriteFile(dir, "garbage.png", QByteArray("this is not a picture at all"));
    const QString empty = WriteFile(dir, "empty.bmp", QByteArray());
    for (const QString& path : {truncated, garbage, empty, dir.filePath("missing.bmp"), dir.path()}) {
        try {
            picture.LoadFromFile(path);
            ADD_FAILURE() << "no error for " << path.toStdString();
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(path.toStdString()), std::string::npos) << e.what();
        }
        EXPECT_EQ(picture.Width(), 5);
        EXPECT_EQ(picture.GetBitmap()->GetScanline(4)[3 * 4], 28);
    }
}

TEST_F(PictureFiles, UnwritableDestinationLeavesNoFile) {
    TPicture picture;
    picture.Assign(Gradient24(3, 3));
    EXPECT_THROW(picture.SaveToFile(dir.filePath("no/such/folder/out.png")), EInvalidGraphic);
    EXPECT_THROW(picture.SaveToFile(dir.filePath("out.unknownformat")), EInvalidGraphic);
    EXPECT_FALSE(QFile::exists(dir.filePath("out.unknownformat")));
}

TEST(Image, AutoSizeFollowsThePicture) {
    TForm form;
    TImage image(&form);
    image.SetAutoSize(true);
    image.Picture()->Assign(Gradient24(31, 17));
    EXPECT_EQ(image.Width(), 31);
    EXPECT_EQ(image.Height(), 17);
    image.Picture()->GetBitmap()->SetSize(12, 40);
    EXPECT_EQ(image.Width(), 12);
    EXPECT_EQ(image.Height(), 40);
}

TEST(Image, PaintsLoadedFilesFaithfully) {
    QTemporaryDir dir;
    TPicture source;
    source.GetBitmap()->Assign(Stripes8(8, 6));
    source.SaveToFile(dir.filePath("stripes8.bmp"));
    source.Assign(Gradient24(8, 6));
    source.SaveToFile(dir.filePath("gradient24.png"));

    TForm form;
    form.resize(100, 100);
    TImage image(&form);
    image.SetAutoSize(true);
    form.Show();
    for (const char* name : {"stripes8.bmp", "gradient24.png"}) {
        image.Picture()->LoadFromFile(dir.filePath(name));
        const QImage expected =
            image.Picture()->GetBitmap()->ToQImage().convertToFormat(QImage::Format_RGB32);
        const QImage painted = image.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(painted.size(), QSize(8, 6)) << name;
        EXPECT_EQ(painted, expected) << name;
    }
    EXPECT_EQ(image.grab().toImage().pixel(5, 1), qRgb(6, 5, 35));
}

TEST(Image, RefreshRepaintsAtOnce) {
    TForm form;
    TImage image(&form);
    image.SetAutoSize(true);
    image.Picture()->Assign(Gradient24(4, 4));
    form.Show();
    QApplication::processEvents();
    TPaintCounter counter(&image);
    image.Picture()->GetBitmap()->GetScanline(0)[2] = 200;
    image.Refresh();
    EXPECT_EQ(counter.Paints, 1);
    EXPECT_EQ(qRed(image.grab().toImage().pixel(0, 0)), 200);
}

TEST(Image, StretchCenterAndProportionalPlaceThePicture) {
    TImage image;
    image.resize(100, 50);
    image.Picture()->Assign(Gradient24(20, 20));
    EXPECT_EQ(image.DestRect(), QRect(0, 0, 20, 20));
    image.SetCenter(true);
    EXPECT_EQ(image.DestRect(), QRect(40, 15, 20, 20));
    image.SetStretch(true);
    EXPECT_EQ(image.DestRect(), QRect(0, 0, 100, 50));
    image.SetProportional(true);
    EXPECT_EQ(image.DestRect(), QRect(25, 0, 50, 50));
}

TEST(Ownership, OwnerDestroysWhatItOwns) {
    auto* form = new TForm;
    QPointer<TImage> widgetOwned = new TImage(form);
    auto* plainOwner = new QObject;
    QPointer<TImage> objectOwned = new TImage(plainOwner);
    EXPECT_EQ(widgetOwned->Owner(), form);
    EXPECT_EQ(widgetOwned->parentWidget(), form);
    EXPECT_EQ(objectOwned->Owner(), plainOwner);
    delete form;
    delete plainOwner;
    EXPECT_TRUE(widgetOwned.isNull());
    EXPECT_TRUE(objectOwned.isNull());
}

TEST(MessageBox, RealBoxAnswersMapToFrameworkIds) {
    TRealMessageBoxes real;
    TForm form;
    form.Show();
    for (auto [button, expected] :
         {std::pair{QMessageBox::Ok, IDOK}, std::pair{QMessageBox::Cancel, IDCANCEL}}) {
        TSeenBox seen;
        AnswerNextBox(button, &seen);
        EXPECT_EQ(MessageBoxA(form.GetHandle(), "Some text", "Caption", MB_OKCANCEL), expected);
        EXPECT_EQ(seen.Title, "Caption");
        EXPECT_EQ(seen.Text, "Some text");
        EXPECT_EQ(seen.Parent, &form);
        EXPECT_FALSE(seen.HasIcon);
        EXPECT_EQ(seen.Buttons.size(), 2);
    }
}

TEST(MessageBox, WithoutADisplayOrAnswererItAnswersCancel) {
    // Tests run offscreen: no interactive display, so nothing may wait for a user.
    EXPECT_EQ(MessageBoxA(0, "text", "caption", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(0, "text", "caption", MB_OK), IDOK);
    const TMessageBoxAnswerer previous =
        SetMessageBoxAnswerer([](HWND, const std::string&, const std::string&, unsigned) { return IDOK; });
    EXPECT_EQ(MessageBoxA(0, "text", "caption", MB_OKCANCEL), IDOK);
    SetMessageBoxAnswerer(previous);
}

TEST(Control, MouseEventsReachTheEventProperties) {
    TForm form;
    TImage image(&form);
    image.resize(40, 40);
    form.Show();
    QStringList seen;
    image.OnMouseDown = [&](TObject* sender, TMouseButton button, TShiftState shift, int x, int y) {
        EXPECT_EQ(sender, &image);
        seen << QString("down %1 %2 %3,%4").arg(button).arg(shift).arg(x).arg(y);
    };
    image.OnMouseUp = [&](TObject*, TMouseButton button, TShiftState, int x, int y) {
        seen << QString("up %1 %2,%3").arg(button).arg(x).arg(y);
    };
    image.OnMouseMove = [&](TObject*, TShiftState shift, int x, int y) {
        seen << QString("move %1 %2,%3").arg(shift).arg(x).arg(y);
    };
    image.OnClick = [&](TObject*) { seen << "click"; };
    image.OnDblClick = [&](TObject*) { seen << "double"; };
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
                    Qt::KeyboardModifiers modifiers = {}) {
        QMouseEvent event(type, QPointF(at), image.mapToGlobal(QPointF(at)), button, buttons, modifiers);
        QApplication::sendEvent(&image, &event);
    };
    send(QEvent::MouseButtonPress, {5, 6}, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    send(QEvent::MouseMove, {7, 8}, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {7, 8}, Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseButtonPress, {1, 1}, Qt::RightButton, Qt::RightButton);
    send(QEvent::MouseButtonRelease, {1, 1}, Qt::RightButton, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, {1, 1}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(seen, (QStringList{"down 0 9 5,6", "move 8 7,8", "up 0 7,8", "click", "down 1 16 1,1",
                                 "up 1 1,1", "double", "down 0 8 1,1"}));
}

// Drag data is never trusted. Data naming a control by its address (as the framework's drags once
// carried it), garbage under the same type, and a file from another program all reach the handlers with
// no source; without an OnDragOver the drag is left to the parent.
TEST(Control, DropsFromDragDataAloneHaveNoSource) {
    TForm form;
    TControl target(&form), other(&form);
    QStringList seen;
    target.OnDragOver = [&](TObject* Sender, TObject* Source, int X, int Y, TDragState State, bool& Accept) {
        EXPECT_EQ(Sender, &target);
        seen << QString("over %1 %2 %3,%4").arg(Source != nullptr).arg(State).arg(X).arg(Y);
        Accept = true;
    };
    target.OnDragDrop = [&](TObject*, TObject* Source, int X, int Y) {
        seen << QString("drop %1 %2,%3").arg(Source != nullptr).arg(X).arg(Y);
    };
    const quintptr address = reinterpret_cast<quintptr>(static_cast<TObject*>(&other));
    QMimeData forged, garbage, file;
    forged.setData("application/x-pictura-control",
                   QByteArray(reinterpret_cast<const char*>(&address), sizeof(address)));
    garbage.setData("application/x-pictura-control", QByteArray(sizeof(address), '\xA5'));
    file.setUrls({QUrl::fromLocalFile("/tmp/photo.png")});
    for (const QMimeData* data : {&forged, &garbage, &file}) {
        seen.clear();
        QDragEnterEvent enter(QPoint(3, 4), Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDragMoveEvent move(QPoint(5, 6), Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &move);
        QDropEvent drop(QPointF(7, 8), Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &drop);
        EXPECT_TRUE(drop.isAccepted());
        EXPECT_EQ(seen, (QStringList{"over 0 0 3,4", "over 0 2 5,6", "drop 0 7,8"}))
            << data->formats().join(",").toStdString();
    }
    QDragEnterEvent unanswered(QPoint(1, 1), Qt::MoveAction, &forged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&other, &unanswered);
    EXPECT_FALSE(unanswered.isAccepted());
}

TEST(Control, AlignedControlsFollowTheirParent) {
    TForm form;
    form.resize(200, 100);
    form.Show();
    TImage client(&form), top(&form);
    top.resize(50, 20);
    client.SetAlign(TControl::alClient);
    top.SetAlign(TControl::alTop);
    EXPECT_EQ(client.geometry(), QRect(0, 0, 200, 100));
    EXPECT_EQ(top.geometry(), QRect(0, 0, 200, 20));
    form.resize(300, 150);
    EXPECT_EQ(client.geometry(), QRect(0, 0, 300, 150));
    EXPECT_EQ(top.geometry(), QRect(0, 0, 300, 20));
}

TEST(Control, HintsShowOnlyWhenAsked) {
    TForm form;
    TImage image(&form);
    image.SetHint("a picture");
    EXPECT_TRUE(image.toolTip().isEmpty());
    form.SetShowHint(true);
    image.SetParentShowHint(true);
    EXPECT_EQ(image.toolTip(), "a picture");
    image.SetShowHint(false);
    EXPECT_FALSE(image.ParentShowHint());
    EXPECT_TRUE(image.toolTip().isEmpty());
}
