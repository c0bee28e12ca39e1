#include "TiffMessages.h"

#include "DecoderMessages.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace {

TIFFErrorHandler previousWarning = nullptr;
TIFFErrorHandler previousError = nullptr;

void Route(bool Error, TIFFErrorHandler Previous, const char* Module, const char* Format, va_list Arguments) {
    TDecoderMessages* const into = TDecoderMessages::Current();
    if (!into) {
        if (Previous) Previous(Module, Format, Arguments);
        return;
    }
    // The module is libtiff's function or the placeholder name Qt gives it for every file: the file is
    // named by whoever reports the line.
    char text[512];
    std::vsnprintf(text, sizeof text, Format, Arguments);
    const std::string module = Module ? Module : "";
    into->Add(text, Error || TiffWarningMeansDamage(module, text));
}

void Warning(const char* Module, const char* Format, va_list Arguments) {
    Route(false, previousWarning, Module, Format, Arguments);
}

void Error(const char* Module, const char* Format, va_list Arguments) {
    Route(true, previousError, Module, Format, Arguments);
}

} // namespace

void RouteTiffMessages() {
    previousWarning = TIFFSetWarningHandler(Warning);
    previousError = TIFFSetErrorHandler(Error);
}

bool TiffWarningMeansDamage(const std::string& Module, const std::string& Message) {
    // libjpeg's warnings inside a TIFF are those a JPEG file is refused for.
    if (Module == "JPEGLib") return true;
    std::string lower = Message;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const auto says = [&](const char* Words) { return lower.find(Words) != std::string::npos; };
    // A table of where the pixels are, or the colour map, left out (libtiff then reads from offset zero
    // or draws nothing). Byte counts it recalculates from the image's size are harmless: the pixels are
    // the file's, and a strip that then comes out short is a read error. The field names are quoted, so
    // that "assuming 8-bit colormap", a scaling of a map that is there, stays harmless.
    static const char* const tables[] = {"\"stripoffsets\"", "\"stripbytecounts\"", "\"tileoffsets\"",
                                         "\"tilebytecounts\"", "\"colormap\""};
    if (says("ignored") && std::any_of(std::begin(tables), std::end(tables), says)) return true;
    // Compressed data cut short or damaged, as libtiff's decoders word it.
    static const char* const damage[] = {"premature",       "line length mismatch",
                                         "not enough data", "read error",
                                         "seek error",      "discard",
                                         "corrupt",         "decoded",
                                         "improper jpeg",   "truncated",
                                         "wrong length",    "lack of data"};
    return std::any_of(std::begin(damage), std::end(damage), says);
}
