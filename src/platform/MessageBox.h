// Message boxes that belong to no window: start-up and shutdown messages.
#pragma once

#include <string>

namespace plat {

// Message box types and answers: the values of the Windows constants (MB_OK, IDOK, ...), which
// the Win32 side checks against <windows.h>.
enum : unsigned {
    kMbOk = 0x0,
    kMbYesNo = 0x4,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbDefButton2 = 0x100,
};
enum : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdYes = 6,
    kIdNo = 7,
};

// Shows text with caption and the buttons and icon of type (the Windows MB_ values) and
// returns the button chosen. Windows: a message box without an owner. POSIX: the text on
// standard error; the box's default button is the answer.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned nType);

// The button a message box of type answers with when nobody chooses: the second button
// (IDNO, 7) for MB_YESNO with MB_DEFBUTTON2, IDYES (6) for other MB_YESNO boxes, else IDOK (1).
int DefaultMessageBoxAnswer(unsigned nType);

} // namespace plat
