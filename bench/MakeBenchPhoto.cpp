// Writes the file benchmark's test photo: the benchmarks' photo-like picture at the size asked for, as
// each file named (its extension gives the format). Usage: pictura-bench-photo WIDTH HEIGHT FILE...
#include "BenchImage.h"

#include <pictura/Picture.h>
#include <pictura/SysUtils.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT FILE...\n", argv[0]);
        return 2;
    }
    TBenchImage image = MakeBenchImage(std::atoi(argv[1]), std::atoi(argv[2]));
    TDibImage dib;
    dib.Width = image.Width;
    dib.Height = image.Height;
    dib.Format = pf24bit;
    dib.Bits = std::move(image.Bits);
    TPicture picture;
    picture.Assign(std::move(dib));
    // A camera's 300 dpi, so that the copies show the resolution travelling.
    picture.Metadata().DotsPerMeterX = picture.Metadata().DotsPerMeterY = 300 / 0.0254;
    try {
        for (int i = 3; i < argc; ++i)
            picture.SaveToFile(argv[i], 90, 6);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
