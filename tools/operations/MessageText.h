// Text from outside (a file name, a word from a file, an option's value) made safe to echo in a message:
// control characters cannot reach the terminal and a long word cannot flood it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text with control characters (C0, DEL, C1) and bytes that are not UTF-8 written as \n, \t, \xHH; cut
// after MaxCharacters characters, the cut shown by "...".
std::string Printable(std::string_view Text, size_t MaxCharacters = 64);

// Printable(Text) in double quotes.
std::string Quoted(std::string_view Text, size_t MaxCharacters = 64);

// A whole message line: control characters escaped, nothing cut but a line beyond any use.
std::string PrintableLine(std::string_view Text);

// Text with the ASCII capitals made small, as options, formats and extensions are compared.
std::string Lower(std::string Text);
