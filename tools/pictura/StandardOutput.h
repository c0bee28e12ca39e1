// Standard output written with every failure seen: a full disk, a closed descriptor, a failing close.
#pragma once

#include <string>
#include <string_view>

// Call first thing: a closed standard input, output or error gets /dev/null, so that no file the tool
// opens later can take its number; writing a closed standard output still fails.
void GuardStandardDescriptors();

// Appends Data to standard output (the tool writes it only through here); false (and the reason in Error)
// when it cannot be written.
bool WriteStandardOutput(std::string_view Data, std::string& Error);

// Flushes and closes standard output; the reason for a failure, or "" when all was written.
std::string FinishStandardOutput();
