// Routes libtiff's warnings and errors, which it would print on standard error naming a placeholder
// instead of the file, into the decoding thread's TDecoderMessages. Its handlers are process-wide:
// outside a collection of ours they pass every message on to the handlers that were there before.
#pragma once

#include <string>

// Installs the routing; the first TDecoderMessages does this, once.
void RouteTiffMessages();

// Whether libtiff's warning Message, said by Module, means that pixels were invented or left out (a
// strip or tile missing or short, its table ignored or guessed, damaged compressed data, the colour
// map ignored) rather than something harmless such as an unknown tag.
bool TiffWarningMeansDamage(const std::string& Module, const std::string& Message);
