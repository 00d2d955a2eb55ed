// POSIX folder access: owner and mode bits.
#include "platform/FolderAccess.h"

#include "platform/FileSystem.h"
#include "platform/posix/ErrnoMap.h"
#include "platform/posix/Fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

bool RestrictFolderWriters(const std::string& path) {
    // Opened once, without following a link, so that the checks and changes meet one folder.
    Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        SetLastErrorCode(errno == ELOOP || errno == ENOTDIR ? kErrAccessDenied
                                                            : WindowsErrorFromErrno(errno, path));
        return false;
    }
    const uid_t uid = ::geteuid();
    if ((st.st_uid != uid && ::fchown(fd.get(), uid, static_cast<gid_t>(-1)) != 0) ||
        ((st.st_mode & 07777) != 0755 && ::fchmod(fd.get(), 0755) != 0)) {
        SetLastErrorCode(WindowsErrorFromErrno(errno, path));
        return false;
    }
    return true;
}

} // namespace plat
