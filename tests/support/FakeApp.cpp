// A stand-in program for the start-up tests: it records how it was started in
// "<its own file name>.started" beside itself (the arguments, one per line), and with the
// argument "wait" it stays running for a while (to hold its executable busy).
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string OwnPath(const char* argv0) {
#ifdef _WIN32
    static_cast<void>(argv0);
    wchar_t buf[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    char utf8[MAX_PATH * 3] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, buf, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
#else
    char buf[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string(argv0);
#endif
}

} // namespace

int main(int argc, char** argv) {
    const std::string record = OwnPath(argv[0]) + ".started";
#ifdef _WIN32
    wchar_t wide[MAX_PATH * 2] = {};
    ::MultiByteToWideChar(CP_UTF8, 0, record.c_str(), -1, wide, MAX_PATH * 2);
    FILE* fp = _wfopen(wide, L"ab");
#else
    FILE* fp = std::fopen(record.c_str(), "ab");
#endif
    if (fp != nullptr) {
        std::fprintf(fp, "started");
        for (int i = 1; i < argc; ++i)
            std::fprintf(fp, " [%s]", argv[i]);
        std::fprintf(fp, "\n");
        std::fclose(fp);
    }
    if (argc > 1 && std::string(argv[1]) == "wait")
        std::this_thread::sleep_for(std::chrono::seconds(30));
    return 0;
}
