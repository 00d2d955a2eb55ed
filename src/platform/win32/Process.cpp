// Win32 view of the running process and the programs it starts.
#include "platform/Process.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <restartmanager.h>
#include <shellapi.h>

#include <vector>

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

namespace plat {

int GetOsMajorVersion() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        OSVERSIONINFOW basic{};
        basic.dwOSVersionInfoSize = sizeof basic;
        if (!::GetVersionExW(&basic))
            return 0;
        return static_cast<int>(basic.dwMajorVersion);
    }
    return static_cast<int>(info.dwMajorVersion);
}

bool StartElevated(const std::string& program, const std::string& argument) {
    const std::wstring file = Wide(program);
    const std::wstring parameters = Wide(argument);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No error dialog of the shell: the caller tells the user itself.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info))
        return false;
    if (info.hProcess != nullptr)
        ::CloseHandle(info.hProcess);
    return true;
}

namespace {

// CreateProcess with the program named separately, so that a program path with blanks can
// never be taken for a shorter program ("C:\Program.exe"); the command line stays as given.
bool Create(const std::string& program, const std::string& commandLine, const wchar_t* title,
            int* pPid) {
    const std::wstring application = Wide(program);
    std::wstring line = Wide(commandLine);
    STARTUPINFOW si{};
    ::GetStartupInfoW(&si);
    si.lpTitle = const_cast<wchar_t*>(title);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(application.c_str(), &line[0], nullptr, nullptr, FALSE,
                          CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi))
        return false;
    if (pPid != nullptr)
        *pPid = static_cast<int>(pi.dwProcessId);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

} // namespace

bool StartDirect(const std::string& program, const std::string& argument) {
    return Create(program, program + " " + argument, L"KestrelSync", nullptr);
}

int RunAndWait(const std::string& program, const std::vector<std::string>& arguments) {
    std::wstring line = L"\"" + Wide(program) + L"\"";
    for (const std::string& argument : arguments)
        line += L" " + Wide(argument);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(Wide(program).c_str(), &line[0], nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi))
        return -1;
    ::CloseHandle(pi.hThread);
    DWORD code = 0;
    const bool bEnded = ::WaitForSingleObject(pi.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        ::GetExitCodeProcess(pi.hProcess, &code);
    const DWORD nError = ::GetLastError();
    ::CloseHandle(pi.hProcess);
    ::SetLastError(nError);
    return bEnded ? static_cast<int>(code) : -1;
}

bool HasUpdateRights(const std::string& folder, std::string& why) {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool bRead =
        ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    if (token != nullptr)
        ::CloseHandle(token);
    if (bRead && elevation.TokenIsElevated != 0)
        return true;
    why = bRead ? "the process does not run elevated (as an administrator or the system "
                  "account), which an update of " +
                      folder + " needs"
                : "the process's rights cannot be read";
    return false;
}

bool StartApplication(const std::string& commandLine, int& nProcessId) {
    const std::size_t blank = commandLine.rfind(' ');
    const std::string program =
        blank == std::string::npos ? commandLine : commandLine.substr(0, blank);
    int pid = 0;
    if (!Create(program, commandLine, nullptr, &pid))
        return false;
    nProcessId = pid;
    return true;
}

} // namespace plat

namespace plat {

std::string ProcessesUsingFile(const std::string& path) {
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (::RmStartSession(&session, 0, key) != ERROR_SUCCESS)
        return std::string();
    std::string holders;
    const std::wstring wide = Wide(path);
    LPCWSTR files[] = {wide.c_str()};
    UINT nNeeded = 0;
    UINT nCount = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> processes;
    if (::RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        ::RmGetList(session, &nNeeded, &nCount, nullptr, &reasons) == ERROR_MORE_DATA) {
        processes.resize(nNeeded);
        nCount = nNeeded;
        if (::RmGetList(session, &nNeeded, &nCount, processes.data(), &reasons) == ERROR_SUCCESS) {
            for (UINT i = 0; i < nCount; ++i) {
                holders += (holders.empty() ? "" : ", ") + Narrow(processes[i].strAppName) + " (" +
                           std::to_string(processes[i].Process.dwProcessId) + ")";
            }
        }
    }
    ::RmEndSession(session);
    return holders;
}

} // namespace plat
