#include "MessageText.h"

#include <cstdint>

namespace {

constexpr size_t LongestLine = 4000;

// The length of the UTF-8 sequence starting at Text[At], or 0 when it is not a valid one.
size_t Utf8Length(std::string_view Text, size_t At) {
    const auto byte = [&](size_t i) { return uint8_t(Text[i]); };
    const uint8_t first = byte(At);
    size_t length = 0;
    uint32_t code = 0;
    if (first < 0x80) return 1;
    if ((first & 0xe0) == 0xc0) {
        length = 2;
        code = first & 0x1f;
    } else if ((first & 0xf0) == 0xe0) {
        length = 3;
        code = first & 0x0f;
    } else if ((first & 0xf8) == 0xf0) {
        length = 4;
        code = first & 0x07;
    } else {
        return 0;
    }
    if (At + length > Text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(At + i) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(At + i) & 0x3f);
    }
    // Overlong forms, surrogates and code points past Unicode are not text.
    const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
    // C1 controls (U+0080..U+009F) drive some terminals as their escape sequences do.
    if (code >= 0x80 && code <= 0x9f) return 0;
    return length;
}

std::string Escaped(uint8_t Byte) {
    switch (Byte) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        break;
    }
    const char* digits = "0123456789abcdef";
    return std::string("\\x") + digits[Byte >> 4] + digits[Byte & 15];
}

std::string Escape(std::string_view Text, size_t MaxCharacters) {
    std::string out;
    size_t characters = 0;
    for (size_t i = 0; i < Text.size();) {
        if (characters == MaxCharacters) return out + "...";
        const uint8_t byte = uint8_t(Text[i]);
        const size_t length = Utf8Length(Text, i);
        if (length == 0 || byte < 0x20 || byte == 0x7f) {
            out += Escaped(byte);
            ++i;
        } else {
            out.append(Text.substr(i, length));
            i += length;
        }
        ++characters;
    }
    return out;
}

} // namespace

std::string Printable(std::string_view Text, size_t MaxCharacters) {
    return Escape(Text, MaxCharacters);
}

std::string Quoted(std::string_view Text, size_t MaxCharacters) {
    return "\"" + Escape(Text, MaxCharacters) + "\"";
}

std::string PrintableLine(std::string_view Text) {
    return Escape(Text, LongestLine);
}

std::string Lower(std::string Text) {
    for (char& c : Text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return Text;
}
