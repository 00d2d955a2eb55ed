// Win32 view of the running process.
#include "platform/Process.h"
#include "platform/win32/WinText.h"

#include <windows.h>

namespace plat {

std::string GetModulePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0)
            return std::string();
        if (n < buf.size()) {
            buf.resize(n);
            return Narrow(buf);
        }
        buf.resize(buf.size() * 2);
    }
}

} // namespace plat
