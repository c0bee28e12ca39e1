// MessageBoxA: the framework's modal message box, answerable by programs without a display.
#pragma once

#include <pictura/Controls.h>
#include <pictura/Vcl40Export.h>

#include <functional>
#include <string>

// Buttons (the low four bits of Type) and answers.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNOCANCEL = 0x3;
constexpr unsigned MB_YESNO = 0x4;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Something that answers a message box in place of the user.
using TMessageBoxAnswerer =
    std::function<int(HWND Owner, const std::string& Text, const std::string& Caption, unsigned Type)>;

// Shows a modal message box and returns the answer (IDOK, IDCANCEL, ...). With an answerer installed,
// the answerer decides. Otherwise an interactive display shows a real box owned by OwnerWindow (0: no
// owner); without one the box cannot be answered, so the answer is the safe one (Cancel, No, or OK for
// a box with only OK) and standard error says so.
VCL40_EXPORT int MessageBoxA(HWND OwnerWindow, const char* Text, const char* Caption, unsigned Type);

// Installs the answerer used by MessageBoxA; an empty function restores the default. Returns the
// previous one.
VCL40_EXPORT TMessageBoxAnswerer SetMessageBoxAnswerer(TMessageBoxAnswerer Answerer);

// The real modal box (what an interactive display shows), usable as an answerer on any platform.
VCL40_EXPORT int ShowModalMessageBox(HWND OwnerWindow, const std::string& Text, const std::string& Caption,
                                     unsigned Type);
