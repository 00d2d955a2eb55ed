// Win32 special folders from the shell and the system.
#include "platform/KnownFolders.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <shlobj.h>

namespace plat {

namespace {

int Csidl(SpecialFolder folder) {
    switch (folder) {
    case SpecialFolder::Desktop:
        return CSIDL_DESKTOP;
    case SpecialFolder::DesktopDirectory:
        return CSIDL_DESKTOPDIRECTORY;
    case SpecialFolder::Programs:
        return CSIDL_PROGRAMS;
    case SpecialFolder::Startup:
        return CSIDL_STARTUP;
    case SpecialFolder::Fonts:
        return CSIDL_FONTS;
    case SpecialFolder::Windows:
        return CSIDL_WINDOWS;
    case SpecialFolder::System:
        return CSIDL_SYSTEM;
    case SpecialFolder::ProgramFiles:
        return CSIDL_PROGRAM_FILES;
    }
    return -1;
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

} // namespace

std::string GetSpecialFolder(SpecialFolder folder) {
    wchar_t buf[MAX_PATH + 1] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buf, Csidl(folder), FALSE))
        return std::string();
    return WithoutTrailingSeparator(Narrow(buf));
}

std::string GetWindowsFolder() {
    wchar_t buf[MAX_PATH + 1] = {};
    const UINT n = ::GetWindowsDirectoryW(buf, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return std::string();
    return WithoutTrailingSeparator(Narrow(std::wstring_view(buf, n)));
}

std::string GetSystemFolder() {
    wchar_t buf[MAX_PATH + 1] = {};
    const UINT n = ::GetSystemDirectoryW(buf, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return std::string();
    return WithoutTrailingSeparator(Narrow(std::wstring_view(buf, n)));
}

std::string DriveRootOf(const std::string& folder) {
    if (folder.empty())
        return std::string();
    return folder.substr(0, 1) + ":";
}

} // namespace plat
