#include "support/TempDir.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace kstest {

namespace {

std::string ToUtf8(const fs::path& p) {
    const auto u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
}

fs::path FromUtf8(const std::string& s) {
    return fs::u8path(s);
}

void ClearReadOnly(const fs::path& root) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        plat::SetReadOnly(ToUtf8(it->path()), false);
}

} // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            base / ("ks-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            m_strPath = ToUtf8(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    ClearReadOnly(FromUtf8(m_strPath));
    fs::remove_all(FromUtf8(m_strPath), ec);
}

std::string TempDir::operator/(const std::string& name) const {
    return plat::JoinPath(m_strPath, name);
}

std::string ReadFileBytes(const std::string& path) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return std::string();
    std::string bytes;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        bytes.append(buf, n);
    std::fclose(fp);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::FILE* fp = plat::OpenFile(path, "wb");
    if (fp == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
    return std::fclose(fp) == 0 && ok;
}

bool Exists(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status);
}

std::int64_t FileSize(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status) ? static_cast<std::int64_t>(status.nSize) : -1;
}

bool ResizeFile(const std::string& path, std::uint64_t size) {
    std::error_code ec;
    fs::resize_file(FromUtf8(path), size, ec);
    return !ec;
}

std::string TestExecutableName() {
    const std::string path = plat::GetModulePath();
    const std::size_t sep = plat::LastSepPos(path);
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

} // namespace kstest

namespace kstest {

std::string FakeAppPath() {
    const std::string module = plat::GetModulePath();
#ifdef _WIN32
    const char* name = "ks_fakeapp.exe";
#else
    const char* name = "ks_fakeapp";
#endif
    return plat::JoinPath(module.substr(0, plat::LastSepPos(module)), name);
}

std::string WaitForFileText(const std::string& path, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 50) {
        const std::string text = ReadFileBytes(path);
        if (!text.empty())
            return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::string();
}

std::string WordsText(std::uint32_t seed, std::size_t nBytes, int edits) {
    static const char* const kWords[] = {"mov",  "call",    "ret",   "push",  "0x1f",
                                         "0xa0", "kestrel", "lumen", "forge", "sync"};
    std::string text;
    while (text.size() < nBytes) {
        seed = seed * 1664525u + 1013904223u;
        text += kWords[(seed >> 16) % 10];
        text += (seed & 7) == 0 ? '\n' : ' ';
    }
    for (int e = 1; e <= edits; ++e)
        text.replace(text.size() * static_cast<std::size_t>(e) /
                         static_cast<std::size_t>(edits + 1),
                     6, "EDIT" + std::to_string(e));
    return text;
}

} // namespace kstest
