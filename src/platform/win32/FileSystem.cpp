// Win32 files and folders (wide-character calls on UTF-8 paths).
#include "platform/FileSystem.h"

#include "platform/Path.h"
#include "platform/win32/ReadOnly.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

constexpr std::int64_t kEpochAsFileTime = 116444736000000000LL; // 1970-01-01 in 100 ns units
constexpr std::int64_t kTicksPerSecond = 10000000LL;

std::int64_t EpochFromFileTime(const FILETIME& ft) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                  ft.dwLowDateTime) -
        kEpochAsFileTime;
    std::int64_t seconds = ticks / kTicksPerSecond;
    if (ticks % kTicksPerSecond < 0)
        --seconds;
    return seconds;
}

FILETIME FileTimeFromEpoch(std::int64_t t) {
    const auto ticks = static_cast<std::uint64_t>(t * kTicksPerSecond + kEpochAsFileTime);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE h) : m_h(h) {}
    ~FindHandle() {
        if (m_h != INVALID_HANDLE_VALUE)
            ::FindClose(m_h);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

bool IsReadOnlyFile(const std::wstring& path) {
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string TrimLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

bool RefuseReadOnly(const std::wstring& path) {
    if (!IsReadOnlyFile(path))
        return false;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

bool GetFileStatus(const std::string& path, FileStatus& status) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    status.bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.bReadOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    status.nSize = status.bFolder
                       ? 0
                       : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.tModify = EpochFromFileTime(data.ftLastWriteTime);
    return true;
}

bool CreateFolder(const std::string& path) {
    return ::CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(Wide(path).c_str()) != 0;
}

bool RemoveLeftOverFile(const std::string& path) {
    return ::DeleteFileW(Wide(path).c_str()) != 0;
}

bool RemoveFolder(const std::string& path) {
    return ::RemoveDirectoryW(Wide(path).c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    const std::wstring wideTo = Wide(to);
    if (RefuseReadOnly(wideTo))
        return false;
    return ::MoveFileExW(Wide(from).c_str(), wideTo.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RenameOwnFile(const std::string& from, const std::string& to) {
    return RenameFile(from, to);
}

bool ReplaceOwnFile(const std::string& from, const std::string& to) {
    return ReplaceFileWith(from, to);
}

bool CopyFileOver(const std::string& from, const std::string& to) {
    const std::wstring wideTo = Wide(to);
    const std::wstring wideFrom = Wide(from);
    if (::GetFileAttributesW(wideFrom.c_str()) != INVALID_FILE_ATTRIBUTES && RefuseReadOnly(wideTo))
        return false;
    return ::CopyFileW(wideFrom.c_str(), wideTo.c_str(), FALSE) != 0;
}

bool SetFileModifyTime(const std::string& path, std::int64_t tModify) {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const FILETIME ft = FileTimeFromEpoch(tModify);
    const BOOL ok = ::SetFileTime(h, nullptr, nullptr, &ft);
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    if (!ok)
        ::SetLastError(err);
    return ok != 0;
}

bool MakeExecutable(const std::string& path) {
    FileStatus status;
    return GetFileStatus(path, status);
}

bool SetReadOnly(const std::string& path, bool bReadOnly) {
    const std::wstring wide = Wide(path);
    const DWORD attrs = ::GetFileAttributesW(wide.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD next = bReadOnly ? (attrs | FILE_ATTRIBUTE_READONLY) : (attrs & ~FILE_ATTRIBUTE_READONLY);
    if (next == 0)
        next = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesW(wide.c_str(), next) != 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::wstring widePath = Wide(path);
    if (std::strpbrk(mode, "wa+") != nullptr && RefuseReadOnly(widePath))
        return nullptr;
    ::SetLastError(0);
    std::FILE* fp = ::_wfopen(widePath.c_str(), Wide(mode).c_str());
    if (fp == nullptr && ::GetLastError() == 0)
        ::SetLastError(ERROR_INVALID_PARAMETER);
    return fp;
}

bool FindFiles(const std::string& pattern, std::vector<FoundFile>& found) {
    const std::size_t sep = LastSepPos(pattern);
    const std::string prefix =
        sep == std::string::npos ? std::string() : pattern.substr(0, sep + 1);
    WIN32_FIND_DATAW data{};
    FindHandle h(::FindFirstFileW(Wide(pattern).c_str(), &data));
    if (h.get() == INVALID_HANDLE_VALUE)
        return false;
    std::vector<FoundFile> matches;
    do {
        const std::string name = Narrow(data.cFileName);
        if (name == "." || name == "..")
            continue;
        FoundFile file;
        file.strName = name;
        file.strPath = prefix + name;
        file.bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        matches.push_back(std::move(file));
    } while (::FindNextFileW(h.get(), &data));
    if (matches.empty()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::sort(matches.begin(), matches.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.strName < b.strName; });
    found.insert(found.end(), matches.begin(), matches.end());
    return true;
}

std::string GetCurrentFolder() {
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    if (n == 0)
        return std::string();
    std::wstring buf(n, L'\0');
    const DWORD len = ::GetCurrentDirectoryW(n, &buf[0]);
    if (len == 0 || len >= n)
        return std::string();
    buf.resize(len);
    return Narrow(buf);
}

std::FILE* CreateNewFile(const std::string& path, bool bPrivate) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Protected, one entry: full access for the file's owner.
    if (bPrivate && !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    security.lpSecurityDescriptor = descriptor;
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, bPrivate ? &security : nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD err = ::GetLastError();
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
    if (h == INVALID_HANDLE_VALUE) {
        ::SetLastError(err == ERROR_FILE_EXISTS ? ERROR_FILE_EXISTS : err);
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
    std::FILE* fp = fd >= 0 ? ::_fdopen(fd, "wb") : nullptr;
    if (fp == nullptr) {
        if (fd >= 0)
            ::_close(fd);
        else
            ::CloseHandle(h);
        ::SetLastError(ERROR_INVALID_HANDLE);
    }
    return fp;
}

bool CanonicalPath(const std::string& path, std::string& canonical) {
    HANDLE h =
        ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    wchar_t buf[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(h, buf, 32767, FILE_NAME_NORMALIZED);
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    if (n == 0 || n >= 32767) {
        ::SetLastError(n == 0 ? err : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wstring wide(buf, n);
    if (wide.compare(0, 4, L"\\\\?\\") == 0)
        wide.erase(0, 4); // "\\?\" before a drive path
    canonical = Narrow(wide);
    return true;
}

bool FlushToDisk(const std::string& path) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return true; // every rename wrote through
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const BOOL ok = ::FlushFileBuffers(h);
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(err);
    return ok != 0;
}

bool StartWriteBack(std::FILE* fp) {
    return FlushFile(fp);
}

bool StartWriteBackFiles(const std::vector<std::string>& paths) {
    // Nothing to start: only a file that is not there is refused, as on POSIX.
    for (const std::string& path : paths) {
        if (::GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES)
            return false;
    }
    return true;
}

bool FlushFilesToDisk(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (!FlushToDisk(path))
            return false;
    }
    return true;
}

bool FreeDiskSpace(const std::string& folder, std::uint64_t& nBytes) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr))
        return false;
    nBytes = available.QuadPart;
    return true;
}

namespace {

// A C runtime failure (with _doserrno cleared before the call) made the last error: the Win32
// error the runtime met, else one for its errno. Always false.
bool FailRuntime() {
    const int e = errno;
    const DWORD code = _doserrno != 0 ? static_cast<DWORD>(_doserrno)
                       : e == ENOSPC  ? ERROR_DISK_FULL
                       : e == EACCES  ? ERROR_ACCESS_DENIED
                                      : ERROR_WRITE_FAULT;
    ::SetLastError(code);
    return false;
}

} // namespace

std::size_t WriteToFile(std::FILE* fp, const void* data, std::size_t size) {
    _doserrno = 0;
    const std::size_t n = std::fwrite(data, 1, size, fp);
    if (n < size)
        FailRuntime();
    return n;
}

bool CloseFile(std::FILE* fp) {
    _doserrno = 0;
    return std::fclose(fp) == 0 || FailRuntime();
}

bool FlushFile(std::FILE* fp) {
    _doserrno = 0;
    return std::fflush(fp) == 0 || FailRuntime();
}

int LastErrorCode() {
    return static_cast<int>(::GetLastError());
}

void SetLastErrorCode(int code) {
    ::SetLastError(static_cast<DWORD>(code));
}

bool SystemErrorText(int code, std::string& text) {
    wchar_t buf[512] = {};
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code),
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, 512, nullptr);
    if (n == 0)
        return false;
    text = TrimLineEnds(Narrow(std::wstring_view(buf, n)));
    return true;
}

} // namespace plat
