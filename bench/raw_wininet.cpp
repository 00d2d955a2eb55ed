// The floor of the Windows updater's transfers, for bench/wine_bench.py only: one WinINet
// connection, and for every path of a file HttpOpenRequest, HttpSendRequest and
// InternetReadFile in blocks of a given size until the body ends; nothing else.
//   ks_rawreader HOST PORT PATHS-FILE BLOCK-SIZE
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: ks_rawreader HOST PORT PATHS-FILE BLOCK-SIZE\n");
        return 2;
    }
    const std::string host = argv[1];
    const int port = std::atoi(argv[2]);
    const std::size_t block = std::strtoul(argv[4], nullptr, 10);
    std::FILE* paths = std::fopen(argv[3], "rb");
    if (paths == nullptr)
        return 1;
    HINTERNET session = ::InternetOpenA("raw", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection =
        ::InternetConnectA(session, host.c_str(), static_cast<INTERNET_PORT>(port), nullptr,
                           nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    std::vector<char> buffer(block);
    char line[4096];
    unsigned long long total = 0;
    int files = 0;
    while (std::fgets(line, sizeof line, paths) != nullptr) {
        std::string path = line;
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
            path.pop_back();
        HINTERNET request =
            ::HttpOpenRequestA(connection, "GET", path.c_str(), "HTTP/1.1", nullptr, nullptr,
                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION, 0);
        if (request == nullptr || !::HttpSendRequestA(request, nullptr, 0, nullptr, 0))
            return 1;
        DWORD got = 0;
        while (::InternetReadFile(request, buffer.data(), static_cast<DWORD>(block), &got) &&
               got > 0)
            total += got;
        ::InternetCloseHandle(request);
        ++files;
    }
    std::printf("%d files, %llu bytes\n", files, total);
    ::InternetCloseHandle(connection);
    ::InternetCloseHandle(session);
    return 0;
}
