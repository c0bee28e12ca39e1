// Shows a form made in Designer with a TKvPictura, and a second control made in code. With --check it
// verifies what the form set up, inverts the picture, checks the pixels and exits instead of showing;
// --check PLUGIN also loads the installed Designer plugin and checks that it found the installed package.
#include "ui_PicturaForm.h"
#include <pictura/Dialogs.h>
#include <pictura/KvPictura.h>
#include <pictura/OperationThreads.h>
#include <pictura/Packages.h>
#include <pictura/Registry.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#include <cstring>
#include <iostream>

namespace {

int Failures = 0;

void Check(bool Condition, const char* What) {
    if (Condition) return;
    std::cerr << "pictura-consumer: " << What << "\n";
    ++Failures;
}

bool SamePixel(TRGBColor A, TRGBColor B) {
    return A.Blue == B.Blue && A.Green == B.Green && A.Red == B.Red;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    Ui::PicturaForm form;
    form.setupUi(&window);

    // The control in code: construct it with an owner, give it a picture, show the owner.
    TKvPictura* second = new TKvPictura(&window);
    second->SetAutoSize(true);
    second->setPicture(form.kvPictura->PicturePixmap());
    second->SetLeft(120);
    window.show();
    if (argc < 2 || std::strcmp(argv[1], "--check") != 0) return application.exec();

    TKvPictura* picture = form.kvPictura;
    Check(picture->Picture()->Width() == 2 && picture->Picture()->Height() == 2,
          "the form's Picture is not 2 x 2");
    Check(picture->AutoSize() && picture->Width() == 2, "the form's AutoSize did not size the control");
    Check(picture->ShowHint() && picture->Hint() == "A swatch", "the form's hint was not set");
    // The picture came through a pixmap, so it is not 24-bit: accept the conversion the control asks for.
    SetMessageBoxAnswerer([](HWND, const std::string&, const std::string&, unsigned) { return IDOK; });
    picture->Invert();
    Check(SamePixel(picture->GetRGBPixel(0, 0), TRGBColor{245, 235, 225}), "pixel (0,0) is not inverted");
    Check(SamePixel(picture->GetRGBPixel(1, 1), TRGBColor{55, 155, 205}), "pixel (1,1) is not inverted");
    // The operations' threads are set through the installed header; any count gives the same bytes.
    SetOperationThreads(1);
    Check(OperationThreads() == 1, "the operations' thread count was not set");
    second->GreyScale();
    SetOperationThreads(0);
    Check(second->Width() == 2 && second->GetRGBPixel(1, 0).Red == 255,
          "the control made in code does not work");
    Check(FitinRange(300) == 255, "FitinRange is not usable");
    // Errors raised inside either library are caught by their classes, as declared by KvPictura.h.
    try {
        second->GetRGBPixel(5, 0);
        Check(false, "a pixel outside the picture raised nothing");
    } catch (const ERangeError&) {
    }
    try {
        second->Picture()->LoadFromFile(QDir::current().filePath("no-such-picture.bmp"));
        Check(false, "a missing file raised nothing");
    } catch (const Exception& error) {
        Check(std::strstr(error.what(), "no-such-picture.bmp") != nullptr,
              "the error does not name the file");
    }
    if (argc > 2) {
        QPluginLoader plugin(argv[2]);
        Check(plugin.instance() != nullptr, "the Designer plugin does not load");
        const TPackage* package = FindPackage("PicturaPck");
        const QString installedLib = QFileInfo(argv[2]).absoluteDir().absoluteFilePath("../../..");
        Check(package && QFileInfo(QString::fromStdString(package->FileName())).canonicalPath() ==
                             QFileInfo(installedLib).canonicalFilePath(),
              "the Designer plugin did not load the installed package");
        Check(ComponentsOnPage("Kelvora").size() == 1, "the Designer plugin did not register TKvPictura");
    }
    if (Failures == 0)
        std::cout << "pictura-consumer: form and controls work"
                  << (argc > 2 ? ", and so does the Designer plugin" : "") << "\n";
    return Failures == 0 ? 0 : 1;
}
