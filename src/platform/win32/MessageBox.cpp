// Win32 message boxes without an owner window.
#include "platform/MessageBox.h"
#include "platform/win32/WinText.h"

#include <windows.h>

namespace plat {

static_assert(kMbOk == MB_OK && kMbYesNo == MB_YESNO && kMbIconError == MB_ICONERROR &&
              kMbIconQuestion == MB_ICONQUESTION && kMbDefButton2 == MB_DEFBUTTON2);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdYes == IDYES && kIdNo == IDNO);

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned nType) {
    return ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), nType);
}

} // namespace plat
