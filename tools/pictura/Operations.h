// Runs one parsed operation on an image control.
#pragma once

#include "CommandLine.h"

class TKvPictura;

// Calls the control's method for Op (envelope settings change only the tables).
void ApplyOperation(TKvPictura& Picture, const TOperation& Op);

// Parses one operation given by name without the dashes and its argument, as in "blur" and "50,2".
TOperation ParseOperation(const std::string& Name, const std::string& Argument);
