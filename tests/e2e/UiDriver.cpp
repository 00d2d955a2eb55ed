// Drives the updater's dialog from outside, as a person would, for the end-to-end tests under
// Wine: finds the windows, reads control texts, button states and status rows, and presses
// buttons. One command per run; results on standard output as UTF-8.
//   find-main <ms>            waits for the main dialog; prints its window handle
//   find-caption <text> <ms>  waits for a top-level window with that caption
//   text <hwnd> <id>          the control's text
//   enabled <hwnd> <id>       1 or 0
//   visible <hwnd>            1 or 0
//   click <hwnd> <id>         presses the button
//   rows <hwnd>               the status rows: "<image>\t<time>\t<text>" per line
//   wait-gone <hwnd> <ms>     waits for the window to go away
//   link-target <path>        the target of a shortcut
#include "platform/ShellLink.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kIdcStart = 1002;
constexpr int kIdcList = 1005;

struct Search {
    std::wstring caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindMain(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) == L"#32770" && ::GetDlgItem(hwnd, kIdcStart) != nullptr &&
        ::GetDlgItem(hwnd, kIdcList) != nullptr) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindCaption(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t caption[256] = {};
    ::GetWindowTextW(hwnd, caption, 256);
    if (search->caption == caption && ::IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitFor(WNDENUMPROC proc, Search& search, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 100) {
        search.found = nullptr;
        ::EnumWindows(proc, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        ::Sleep(100);
    }
    return nullptr;
}

HWND ParseHwnd(const char* text) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(std::strtoll(text, nullptr, 10)));
}

std::string ControlText(HWND hwnd, int id) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(hwnd, id, text, 1024);
    return plat::Narrow(text);
}

// Reads a list view of another process through memory of that process.
int PrintRows(HWND dialog) {
    const HWND list = ::GetDlgItem(dialog, kIdcList);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    const HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                             PROCESS_QUERY_INFORMATION,
                                         FALSE, pid);
    if (process == nullptr)
        return 2;
    const SIZE_T textBytes = 1024 * sizeof(wchar_t);
    auto* remote = static_cast<char*>(::VirtualAllocEx(
        process, nullptr, sizeof(LVITEMW) + textBytes, MEM_COMMIT, PAGE_READWRITE));
    const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::string line;
        for (int column = 0; column < 2; ++column) {
            LVITEMW item{};
            item.mask = LVIF_TEXT | LVIF_IMAGE;
            item.iItem = row;
            item.iSubItem = column;
            item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
            item.cchTextMax = 1024;
            ::WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
            ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote));
            wchar_t text[1024] = {};
            LVITEMW back{};
            ::ReadProcessMemory(process, remote, &back, sizeof back, nullptr);
            ::ReadProcessMemory(process, remote + sizeof(LVITEMW), text, textBytes, nullptr);
            if (column == 0)
                line = std::to_string(back.iImage);
            line += "\t" + plat::Narrow(text);
        }
        std::printf("%s\n", line.c_str());
    }
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    return 0;
}

} // namespace

// The arguments as UTF-8 (the narrow argv is in the ANSI code page).
std::vector<std::string> Arguments() {
    int n = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i)
        args.push_back(plat::Narrow(wide[i]));
    ::LocalFree(wide);
    return args;
}

int main() {
    const std::vector<std::string> arguments = Arguments();
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    const int argc = static_cast<int>(pointers.size());
    const char* const* argv = pointers.data();
    if (argc < 2)
        return 2;
    const std::string command = argv[1];
    if (command == "find-main" && argc == 3) {
        Search search;
        const HWND hwnd = WaitFor(&FindMain, search, std::atoi(argv[2]));
        if (hwnd == nullptr)
            return 1;
        std::printf("%lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(hwnd)));
        return 0;
    }
    if (command == "find-caption" && argc == 4) {
        Search search;
        search.caption = plat::Wide(argv[2]);
        const HWND hwnd = WaitFor(&FindCaption, search, std::atoi(argv[3]));
        if (hwnd == nullptr)
            return 1;
        std::printf("%lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(hwnd)));
        return 0;
    }
    if (command == "text" && argc == 4) {
        std::printf("%s\n", ControlText(ParseHwnd(argv[2]), std::atoi(argv[3])).c_str());
        return 0;
    }
    if (command == "enabled" && argc == 4) {
        std::printf("%d\n", ::IsWindowEnabled(::GetDlgItem(ParseHwnd(argv[2]), std::atoi(argv[3])))
                                ? 1
                                : 0);
        return 0;
    }
    if (command == "visible" && argc == 3) {
        std::printf("%d\n", ::IsWindowVisible(ParseHwnd(argv[2])) ? 1 : 0);
        return 0;
    }
    if (command == "click" && argc == 4) {
        const HWND dialog = ParseHwnd(argv[2]);
        const int id = std::atoi(argv[3]);
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
        return 0;
    }
    if (command == "rows" && argc == 3)
        return PrintRows(ParseHwnd(argv[2]));
    if (command == "wait-gone" && argc == 4) {
        const HWND hwnd = ParseHwnd(argv[2]);
        for (int waited = 0; waited <= std::atoi(argv[3]); waited += 100) {
            if (!::IsWindow(hwnd))
                return 0;
            ::Sleep(100);
        }
        return 1;
    }
    if (command == "link-target" && argc == 3) {
        const std::string target = plat::ReadShortcutTarget(argv[2]);
        std::printf("%s\n", target.c_str());
        return target.empty() ? 1 : 0;
    }
    return 2;
}
