#include "support/NativeTool.h"

#include "support/ChildProcess.h"
#include "support/Nginx.h"
#include "support/TempDir.h"

#ifdef _WIN32
#include "platform/win32/WinText.h"

#include <windows.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace kstest {

namespace {

std::string NextStatusPath() {
    static std::atomic<int> counter{0};
    static const TempDir folder;
    return folder / ("status-" + std::to_string(++counter));
}

// Polls for the status file native-status.sh writes when the tool ended.
int WaitForStatus(const std::string& status, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Exists(status)) {
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::atoi(ReadFileBytes(status).c_str());
}

} // namespace

std::string PublishToolSkip() {
    if (!Exists(HostPath(KS_NATIVE_PUBLISH_PROGRAM)))
        return std::string("the operators' tool is not built (") + KS_NATIVE_PUBLISH_PROGRAM +
               "); the native build makes it";
    return std::string();
}

std::string PosixPath(std::string path) {
#ifdef _WIN32
    // Wine's own mapping of a Windows path to the host's (kernel32 exports it under Wine only).
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == nullptr)
        return path;
    char* const host = unixFileName(plat::Wide(path).c_str());
    if (host == nullptr)
        return path;
    path = host;
    ::HeapFree(::GetProcessHeap(), 0, host);
#endif
    return path;
}

int RunPublishTool(const std::vector<std::string>& arguments, std::string* output, int timeoutMs) {
    const std::string status = NextStatusPath();
    std::vector<std::string> command = {KS_NATIVE_STATUS_SCRIPT, PosixPath(status),
                                        KS_NATIVE_PUBLISH_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildProcess child;
    if (!child.Start("/bin/sh", command))
        return -1;
    const int nStatus = WaitForStatus(status, timeoutMs);
    child.Wait(nStatus < 0 ? 0 : timeoutMs);
    if (output != nullptr)
        *output = ReadFileBytes(status + ".out");
    return nStatus;
}

} // namespace kstest
