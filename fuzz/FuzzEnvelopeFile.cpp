// Fuzz body: the text of an envelope file through ParseEnvelopFile.
#include "FuzzBodies.h"

#include "CommandLine.h"

#include <cmath>
#include <string>

void FuzzEnvelopeFile(const uint8_t* Data, size_t Size) {
    const std::string text(reinterpret_cast<const char*>(Data), Size);
    std::vector<std::pair<int, double>> entries;
    try {
        entries = ParseEnvelopFile(text, "\"fuzz.env\"");
    } catch (const TUsageError& e) {
        const std::string message = e.what();
        FuzzCheck(message.rfind("\"fuzz.env\"", 0) == 0, "a message that does not start with its file");
        FuzzCheck(message.find('\n') == std::string::npos, "a message of more than one line");
        return;
    }
    FuzzCheck(entries.size() == 256, "a table without 256 values");
    for (size_t i = 0; i < entries.size(); ++i) {
        FuzzCheck(entries[i].first == int(i), "a table out of order");
        FuzzCheck(!std::isnan(entries[i].second), "a NaN percent was accepted");
    }
}
