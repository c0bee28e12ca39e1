// Operations given by name, as the viewer's --op takes them.
#pragma once

#include "CommandLine.h"

// Parses one operation given by name without the dashes and its argument, as in "blur" and "50,2".
TOperation ParseOperation(const std::string& Name, const std::string& Argument);
