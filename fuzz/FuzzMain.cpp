// A libFuzzer program around one fuzz body (PICTURA_FUZZ_BODY), under an offscreen application.
#include "FuzzBodies.h"

#include <QApplication>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Decoders' warnings about broken files are expected by the thousand; they would drown the fuzzer's log.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // Its own arguments: the application must not see (or take away) libFuzzer's.
    static int argc = 1;
    static char name[] = "pictura-fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    // Any exception that escapes (a broken promise or an unexpected error) aborts: libFuzzer keeps the input.
    PICTURA_FUZZ_BODY(Data, Size);
    return 0;
}
