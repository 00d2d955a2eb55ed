// Win32 message boxes without an owner window.
#include "platform/MessageBox.h"
#include "platform/win32/WinText.h"

#include <windows.h>

namespace plat {

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned nType) {
    return ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), nType);
}

} // namespace plat
