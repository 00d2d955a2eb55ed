// Message boxes that belong to no window: start-up and shutdown messages.
#pragma once

#include <string>

namespace plat {

// Shows text with caption and the buttons and icon of type (the Windows MB_ values) and
// returns the button chosen. Windows: a message box without an owner. POSIX: the text on
// standard error; the box's default button is the answer.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned nType);

// The button a message box of type answers with when nobody chooses: the second button
// (IDNO, 7) for MB_YESNO with MB_DEFBUTTON2, IDYES (6) for other MB_YESNO boxes, else IDOK (1).
int DefaultMessageBoxAnswer(unsigned nType);

} // namespace plat
