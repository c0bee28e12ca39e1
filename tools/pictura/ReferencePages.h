// The tool's manual page and shell completions, written from the same tables as --help: the operations
// (tools/operations/) and the other options (ToolOptions.h). The build writes them with
// pictura-reference and installs them.
#pragma once

#include <string>

// The manual page pictura(1) in roff (man macros).
std::string ManPage(const std::string& Version);
// A bash completion script for pictura (bash-completion's completions/pictura).
std::string BashCompletion();
// A zsh completion function (_pictura, in a folder of $fpath).
std::string ZshCompletion();
