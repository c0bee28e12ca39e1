// pictura-palette: loads packages, runs their registration and lists the palette they build.
//
//     $ pictura-palette --info lib/libPicturaPck.so
//     package PicturaPck (lib/libPicturaPck.so)
//       requires: vcl40
//       ...
//     Kelvora
//       TKvPictura 24x24 4 bpp
#include <pictura/Packages.h>
#include <pictura/Registry.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <iostream>
#include <string>
#include <vector>

namespace {

std::string Join(const std::vector<std::string>& Items) {
    std::string text;
    for (const std::string& item : Items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "(none)" : text;
}

std::string FlagsText(const TPackageInfo& Info) {
    std::string text = Info.DesignTime() && Info.RunTime() ? "design time and run time"
                       : Info.DesignTime()                 ? "design time only"
                                                           : "run time only";
    if (Info.Flags & pkNeverBuild) text += ", never rebuilt";
    return text;
}

void PrintInfo(const TPackage& Package) {
    const TPackageInfo& info = Package.Info();
    std::cout << "package " << info.Name << " (" << Package.FileName() << ")\n"
              << "  requires: " << Join(info.Requires) << "\n"
              << "  contains: " << Join(info.Contains) << "\n"
              << "  flags: " << FlagsText(info) << "\n"
              << "  description: " << (info.Description.empty() ? "(none)" : info.Description) << "\n"
              << "  file version: " << info.FileVersion.ToString() << "\n"
              << "  product version: " << info.ProductVersion.ToString() << "\n";
}

// Prints each page and its classes; with IconDir set, writes each palette image there as CLASS.png.
void PrintPalette(const QString& IconDir) {
    for (const std::string& page : ComponentPages()) {
        std::cout << page << "\n";
        for (const TComponentClass* cls : ComponentsOnPage(page)) {
            const TBitmap image = PaletteImage(*cls);
            std::cout << "  " << cls->ClassName();
            if (image.Empty()) {
                std::cout << " (no palette image)\n";
                continue;
            }
            std::cout << " " << image.Width() << "x" << image.Height() << " "
                      << BitsPerPixel(image.GetPixelFormat()) << " bpp\n";
            if (IconDir.isEmpty()) continue;
            const QString file = QDir(IconDir).filePath(QString::fromLatin1(cls->ClassName()) + ".png");
            if (!image.ToQImage().save(file, "PNG"))
                throw EInvalidGraphic("cannot write the palette image of " + std::string(cls->ClassName()) +
                                      " to " + file.toStdString());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("pictura-palette");
    QCoreApplication::setApplicationVersion(PICTURA_VERSION);
    QCommandLineParser parser;
    parser.setApplicationDescription("Loads packages, runs their registration and lists the palette pages, "
                                     "with each class's palette image size and depth.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"info", "Also print each package's description."});
    parser.addOption({"icons", "Write each palette image to DIR as CLASS.png.", "DIR"});
    parser.addPositionalArgument("PACKAGE", "Package files, each after the packages it requires.",
                                 "PACKAGE...");
    parser.process(application);
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        std::cerr << "pictura-palette: no package given (see --help)\n";
        return 2;
    }
    const QString iconDir = parser.value("icons");
    if (parser.isSet("icons") && !QDir().mkpath(iconDir)) {
        std::cerr << "pictura-palette: cannot create the directory " << iconDir.toStdString() << "\n";
        return 1;
    }

    std::vector<TPackage*> loaded;
    int status = 0;
    try {
        for (const QString& file : files) {
            loaded.push_back(LoadPackage(file.toStdString()));
            RegisterPackage(loaded.back());
        }
        if (parser.isSet("info"))
            for (const TPackage* package : loaded)
                PrintInfo(*package);
        PrintPalette(iconDir);
    } catch (const std::exception& error) {
        std::cerr << "pictura-palette: " << error.what() << "\n";
        status = 1;
    }
    // Unload in reverse order, so that no package goes before one that requires it.
    for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) {
        try {
            UnloadPackage(*it);
        } catch (const std::exception& error) {
            std::cerr << "pictura-palette: " << error.what() << "\n";
            status = 1;
        }
    }
    return status;
}
