// POSIX files and folders with the Windows error codes and read-only semantics.
#include "platform/FileSystem.h"
#include "platform/posix/Fd.h"

#include "platform/Path.h"
#include "platform/posix/ErrnoMap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace plat {

namespace {

thread_local int t_nLastError = 0;
// A missing path whose error (file or path not found) is told only when it is asked for: most
// callers only look whether a file is there, and telling needs a look at the parent folder.
constexpr int kErrMissingUntold = -1;
thread_local std::string t_strMissing;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool ParentExists(const std::string& path) {
    const std::size_t sep = LastSepPos(path);
    if (sep == std::string::npos)
        return true;
    struct stat st {};
    const std::string parent = sep == 0 ? std::string("/") : path.substr(0, sep);
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MapErrno(int e, const std::string& path) {
    switch (e) {
    case ENOENT:
        return ParentExists(path) ? kErrFileNotFound : kErrPathNotFound;
    case ENOTDIR:
        return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return kErrAccessDenied;
    case ETXTBSY:
    case EBUSY:
        return kErrSharingViolation;
    case EEXIST:
        return kErrAlreadyExists;
    case ENOSPC:
    case EDQUOT:
        return kErrDiskFull;
    case ENOTEMPTY:
        return kErrDirNotEmpty;
    case ENAMETOOLONG:
        return kErrFilenameTooLong;
    case EINVAL:
        return kErrInvalidParameter;
    case EMFILE:
    case ENFILE:
        return kErrTooManyOpenFiles;
    case ENOMEM:
        return kErrNotEnoughMemory;
    case EXDEV:
        return kErrNotSameDevice;
    default:
        return kErrPosixBase | e;
    }
}

bool Fail(int code) {
    t_nLastError = code;
    return false;
}

bool FailErrno(const std::string& path) {
    if (errno != ENOENT || path.empty())
        return Fail(MapErrno(errno, path));
    t_strMissing = path;
    t_nLastError = kErrMissingUntold;
    return false;
}

// A stdio failure (with errno cleared before the call) made the last error; a stream that
// fails without an errno has met a full disk. Always false.
bool FailStdio() {
    return Fail(errno != 0 ? MapErrno(errno, std::string()) : kErrDiskFull);
}

bool IsReadOnlyMode(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool WritesTo(const char* mode) {
    return std::strpbrk(mode, "wa+") != nullptr;
}

// Refuses writes into read-only files and folders as Windows does, whatever the user's rights.
bool CheckWritable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return true;
    if (S_ISDIR(st.st_mode) || IsReadOnlyMode(st.st_mode))
        return Fail(kErrAccessDenied);
    return true;
}

// Windows refuses to rename or delete a file that another process holds open without sharing;
// here an exclusive flock held on it stands for that.
bool CheckNotHeld(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0)
        return true;
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Fail(kErrSharingViolation);
    return true;
}

// From exists (lstat's meaning: a link counts) and no other process holds it (CheckNotHeld):
// the one open that looks for a holder also finds a missing file, so that a move costs no
// separate look. The failure codes are those of lstat and CheckNotHeld.
bool CheckMovable(const std::string& from) {
    Fd fd(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FailErrno(from);             // lstat fails alike
        return Exists(from) || FailErrno(from); // a link, or a file this user cannot read
    }
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Fail(kErrSharingViolation);
    return true;
}

bool CopyContents(int in, int out, const std::string& to) {
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FailErrno(to);
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return FailErrno(to);
            }
            done += w;
        }
    }
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// "*" and "?" wildcards, ASCII letters compared without case, as FindFirstFile matches.
bool WildcardMatch(const char* pat, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pat == '*') {
            star = pat++;
            resume = name;
        } else if (*pat == '?' || (*pat && Upper(*pat) == Upper(*name))) {
            ++pat;
            ++name;
        } else if (star) {
            pat = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pat == '*')
        ++pat;
    return *pat == '\0';
}

const char* WindowsText(int code) {
    switch (code) {
    case kErrNone:
        return "The operation completed successfully.";
    case kErrFileNotFound:
        return "The system cannot find the file specified.";
    case kErrPathNotFound:
        return "The system cannot find the path specified.";
    case kErrTooManyOpenFiles:
        return "The system cannot open the file.";
    case kErrAccessDenied:
        return "Access is denied.";
    case kErrNotEnoughMemory:
        return "Not enough memory resources are available to process this command.";
    case kErrNotSameDevice:
        return "The system cannot move the file to a different disk drive.";
    case kErrSharingViolation:
        return "The process cannot access the file because it is being used by another "
               "process.";
    case kErrFileExists:
        return "The file exists.";
    case kErrInvalidParameter:
        return "The parameter is incorrect.";
    case kErrDiskFull:
        return "There is not enough space on the disk.";
    case kErrDirNotEmpty:
        return "The directory is not empty.";
    case kErrAlreadyExists:
        return "Cannot create a file when that file already exists.";
    case kErrFilenameTooLong:
        return "The filename or extension is too long.";
    default:
        return nullptr;
    }
}

// What an fsync of one file costs, as bytes that a sync of the whole file system writes in the
// same time (a device flush against about 1 GB/s).
constexpr std::uint64_t kFsyncAsBytes = 128u << 10;

// Bytes that the system has still to write to its disks (dirty or being written); 0 when it
// cannot tell.
std::uint64_t UnwrittenBytes() {
    std::FILE* fp = std::fopen("/proc/meminfo", "r");
    if (fp == nullptr)
        return 0;
    std::uint64_t nBytes = 0;
    char line[128];
    while (std::fgets(line, sizeof line, fp) != nullptr) {
        unsigned long long nKb = 0;
        if (std::sscanf(line, "Dirty: %llu kB", &nKb) == 1 ||
            std::sscanf(line, "Writeback: %llu kB", &nKb) == 1)
            nBytes += static_cast<std::uint64_t>(nKb) << 10;
    }
    std::fclose(fp);
    return nBytes;
}

// Unwritten bytes beyond which a syncfs, which waits for all of them, is not worth starting
// many small files' writing together.
constexpr std::uint64_t kSyncfsWaitMax = 256u << 20;

// One syncfs for each file system that holds one of paths.
bool SyncFileSystemsOf(const std::vector<std::string>& paths) {
    std::vector<dev_t> done;
    for (const std::string& path : paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return FailErrno(path);
        if (std::find(done.begin(), done.end(), st.st_dev) != done.end())
            continue;
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::syncfs(fd.get()) != 0)
            return FailErrno(path);
        done.push_back(st.st_dev);
    }
    return true;
}

bool FsyncPath(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0)
        return FailErrno(path);
    return true;
}

// Every file, then every folder that names one of them (their names, as syncfs makes them
// durable too).
bool FlushEachToDisk(const std::vector<std::string>& paths) {
    std::set<std::string> folders;
    for (const std::string& path : paths) {
        if (!FsyncPath(path))
            return false;
        const std::size_t sep = LastSepPos(path);
        folders.insert(sep == std::string::npos ? std::string(".")
                       : sep == 0               ? std::string("/")
                                                : path.substr(0, sep));
    }
    for (const std::string& folder : folders) {
        if (!FsyncPath(folder))
            return false;
    }
    return true;
}

// A rename failed with errno: the failure names the source when that is what is missing.
bool FailRename(const std::string& from, const std::string& to) {
    const int e = errno;
    const bool bFromMissing = e == ENOENT && !Exists(from);
    errno = e;
    return FailErrno(bFromMissing ? from : to);
}

} // namespace

int WindowsErrorFromErrno(int e, const std::string& path) {
    return MapErrno(e, path);
}

bool GetFileStatus(const std::string& path, FileStatus& status) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return FailErrno(path);
    status.bFolder = S_ISDIR(st.st_mode);
    status.nSize = status.bFolder ? 0 : static_cast<std::uint64_t>(st.st_size);
    status.tModify = static_cast<std::int64_t>(st.st_mtime);
    status.bReadOnly = IsReadOnlyMode(st.st_mode);
    return true;
}

bool CreateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0)
        return FailErrno(path);
    return true;
}

bool RemoveFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return FailErrno(path);
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)))
        return Fail(kErrAccessDenied);
    if (S_ISREG(st.st_mode) && !CheckNotHeld(path))
        return false;
    if (::unlink(path.c_str()) != 0)
        return FailErrno(path);
    return true;
}

bool RemoveLeftOverFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RemoveFolder(const std::string& path) {
    if (::rmdir(path.c_str()) != 0)
        return Fail(errno == EEXIST ? kErrDirNotEmpty : MapErrno(errno, path));
    return true;
}

bool RenameOwnFile(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return FailRename(from, to);
    // The file system cannot refuse a replacement by itself.
    if (Exists(to))
        return Fail(kErrAlreadyExists);
    if (::rename(from.c_str(), to.c_str()) != 0)
        return FailRename(from, to);
    return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return CheckMovable(from) && RenameOwnFile(from, to);
}

bool ReplaceOwnFile(const std::string& from, const std::string& to) {
    // CheckWritable passes a missing target.
    if (!CheckWritable(to))
        return false;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return FailRename(from, to);
    return true;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    if (!Exists(from))
        return FailErrno(from);
    // CheckWritable passes a missing target.
    if (!CheckWritable(to) || !CheckNotHeld(from) || !CheckNotHeld(to))
        return false;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return FailErrno(to);
    return true;
}

bool CopyFileOver(const std::string& from, const std::string& to) {
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return FailErrno(from);
    struct stat src {};
    if (::fstat(in.get(), &src) != 0)
        return FailErrno(from);
    if (S_ISDIR(src.st_mode))
        return Fail(kErrAccessDenied);
    struct stat dst {};
    if (::stat(to.c_str(), &dst) == 0) {
        if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino)
            return Fail(kErrSharingViolation);
        if (!CheckWritable(to))
            return false;
    }
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0)
        return FailErrno(to);
    if (!CopyContents(in.get(), out.get(), to))
        return false;
    const struct timespec times[2] = {{0, UTIME_OMIT}, src.st_mtim};
    if (::futimens(out.get(), times) != 0 || ::fchmod(out.get(), src.st_mode & 07777) != 0)
        return FailErrno(to);
    if (::close(out.release()) != 0)
        return FailErrno(to);
    return true;
}

bool SetFileModifyTime(const std::string& path, std::int64_t tModify) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(tModify), 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        return FailErrno(path);
    return true;
}

bool MakeExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return FailErrno(path);
    const mode_t mode = st.st_mode | ((st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2);
    if (::chmod(path.c_str(), mode & 07777) != 0)
        return FailErrno(path);
    return true;
}

bool SetReadOnly(const std::string& path, bool bReadOnly) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return FailErrno(path);
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    const mode_t mode = bReadOnly ? (st.st_mode & ~writeBits) : (st.st_mode | S_IWUSR);
    if (::chmod(path.c_str(), mode & 07777) != 0)
        return FailErrno(path);
    return true;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    if (WritesTo(mode) && !CheckWritable(path))
        return nullptr;
    std::FILE* fp = std::fopen(path.c_str(), mode);
    if (fp == nullptr)
        FailErrno(path);
    return fp;
}

std::size_t WriteToFile(std::FILE* fp, const void* data, std::size_t size) {
    errno = 0;
    const std::size_t n = std::fwrite(data, 1, size, fp);
    if (n < size)
        FailStdio();
    return n;
}

bool CloseFile(std::FILE* fp) {
    errno = 0;
    return std::fclose(fp) == 0 || FailStdio();
}

bool FlushFile(std::FILE* fp) {
    errno = 0;
    return std::fflush(fp) == 0 || FailStdio();
}

std::FILE* CreateNewFile(const std::string& path, bool bPrivate) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bPrivate ? 0600 : 0644);
    if (fd < 0) {
        FailErrno(path);
        return nullptr;
    }
    std::FILE* fp = ::fdopen(fd, "wb");
    if (fp == nullptr) {
        FailErrno(path);
        ::close(fd);
    }
    return fp;
}

bool CanonicalPath(const std::string& path, std::string& canonical) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return FailErrno(path);
    canonical = resolved;
    std::free(resolved);
    return true;
}

bool FlushToDisk(const std::string& path) {
    return FsyncPath(path);
}

bool StartWriteBack(std::FILE* fp) {
    if (!FlushFile(fp))
        return false;
    // A hint: where the file system does not take it, the later flush writes everything.
    static_cast<void>(::sync_file_range(::fileno(fp), 0, 0, SYNC_FILE_RANGE_WRITE));
    return true;
}

bool StartWriteBackFiles(const std::vector<std::string>& paths) {
    if (UnwrittenBytes() <= kSyncfsWaitMax)
        return SyncFileSystemsOf(paths);
    for (const std::string& path : paths) {
        Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::sync_file_range(fd.get(), 0, 0, SYNC_FILE_RANGE_WRITE) != 0)
            return FailErrno(path);
    }
    return true;
}

bool FlushFilesToDisk(const std::vector<std::string>& paths) {
    // One syncfs writes whatever waits for the file system, other programs' data too; an fsync
    // costs a flush of the device per file, about as long as writing kFsyncAsBytes. The
    // cheaper way by what the system holds unwritten: the files are durable either way.
    if (UnwrittenBytes() > paths.size() * kFsyncAsBytes)
        return FlushEachToDisk(paths);
    return SyncFileSystemsOf(paths);
}

bool FreeDiskSpace(const std::string& folder, std::uint64_t& nBytes) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0)
        return FailErrno(folder);
    nBytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

bool FindFiles(const std::string& pattern, std::vector<FoundFile>& found) {
    const std::size_t sep = LastSepPos(pattern);
    const std::string folder = sep == std::string::npos ? std::string() : pattern.substr(0, sep);
    const std::string namePattern = sep == std::string::npos ? pattern : pattern.substr(sep + 1);
    const std::string openName = sep == std::string::npos ? "." : (sep == 0 ? "/" : folder);
    DIR* dir = ::opendir(openName.c_str());
    if (dir == nullptr)
        return Fail(errno == ENOENT || errno == ENOTDIR ? kErrPathNotFound
                                                        : MapErrno(errno, openName));
    std::vector<FoundFile> matches;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !WildcardMatch(namePattern.c_str(), name.c_str()))
            continue;
        FoundFile file;
        file.strName = name;
        file.strPath = sep == std::string::npos ? name : pattern.substr(0, sep + 1) + name;
        struct stat st {};
        file.bFolder = ::stat(file.strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        matches.push_back(std::move(file));
    }
    ::closedir(dir);
    if (matches.empty())
        return Fail(kErrFileNotFound);
    std::sort(matches.begin(), matches.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.strName < b.strName; });
    found.insert(found.end(), matches.begin(), matches.end());
    return true;
}

std::string GetCurrentFolder() {
    std::string buf(256, '\0');
    for (;;) {
        if (::getcwd(&buf[0], buf.size()) != nullptr)
            return std::string(buf.c_str());
        if (errno != ERANGE)
            return std::string();
        buf.resize(buf.size() * 2);
    }
}

int LastErrorCode() {
    if (t_nLastError == kErrMissingUntold)
        t_nLastError = MapErrno(ENOENT, t_strMissing);
    return t_nLastError;
}

void SetLastErrorCode(int code) {
    t_nLastError = code;
}

bool SystemErrorText(int code, std::string& text) {
    if (const char* windowsText = WindowsText(code)) {
        text = windowsText;
        return true;
    }
    if ((code & kErrPosixBase) != 0) {
        char buf[256] = {};
        text = ::strerror_r(code & ~kErrPosixBase, buf, sizeof buf);
        return true;
    }
    return Fail(kErrMessageNotFound);
}

} // namespace plat
