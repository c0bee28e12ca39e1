// Loads a picture under a byte limit and converts it to 24 bits, as the tool does before an operation;
// PictureMemoryTest measures this program's peak memory. Usage: PictureMemoryProbe FILE [LIMIT-BYTES]
#include <pictura/ImageLimits.h>
#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <QGuiApplication>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc < 2) return 2;
    if (argc > 2) SetMaxBitmapBytes(std::strtoull(argv[2], nullptr, 10));
    TPicture picture;
    try {
        picture.LoadFromFile(QString::fromLocal8Bit(argv[1]));
        picture.GetBitmap()->SetPixelFormat(pf24bit);
    } catch (const Exception& e) {
        std::cout << e.what() << "\n";
        return 1;
    }
    std::cout << "loaded " << picture.Width() << " x " << picture.Height() << "\n";
    return 0;
}
