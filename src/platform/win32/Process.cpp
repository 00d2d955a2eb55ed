// Win32 view of the running process and the programs it starts.
#include "platform/Process.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <shellapi.h>

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

bool SetCurrentFolder(const std::string& path) {
    return ::SetCurrentDirectoryW(Wide(path).c_str()) != 0;
}

std::string ToWinePath(const std::string& path) {
    return path;
}

int StartHidden(const std::string& file, const std::string& parameters,
                const std::string& workFolder) {
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", Wide(file).c_str(), Wide(parameters).c_str(),
                        workFolder.empty() ? nullptr : Wide(workFolder).c_str(), SW_HIDE);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

int ExecHidden(const std::string& commandLine, const std::string& workFolder) {
    // WinExec takes the ANSI code page; CreateProcessW takes any name and answers alike.
    std::wstring line = Wide(commandLine);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    const std::wstring folder = Wide(workFolder);
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        const DWORD err = ::GetLastError();
        return err != 0 && err < 32 ? static_cast<int>(err) : ERROR_FILE_NOT_FOUND;
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return 33;
}

} // namespace plat
