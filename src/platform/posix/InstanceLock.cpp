// POSIX: flock on "<program folder>/config/KestrelSync.lock", opened close-on-exec.
#include "platform/InstanceLock.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Thread.h"
#include "platform/posix/ErrnoMap.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace plat {

namespace {

std::string LockPath(const std::string& programFolder) {
    return JoinPath(JoinPath(programFolder, "config"), "KestrelSync.lock");
}

} // namespace

struct CInstanceLock::Impl {
    int fd = -1;
};

CInstanceLock::CInstanceLock() : m_pImpl(std::make_unique<Impl>()) {}

CInstanceLock::~CInstanceLock() {
    Release();
}

bool CInstanceLock::Acquire(const std::string& programFolder, int nWaitMs) {
    Release();
    const std::string path = LockPath(programFolder);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrorCode(WindowsErrorFromErrno(errno, path));
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nWaitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_pImpl->fd = fd;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            SetLastErrorCode(WindowsErrorFromErrno(errno, path));
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            SetLastErrorCode(kErrSharingViolation);
            break;
        }
        SleepMs(50);
    }
    ::close(fd);
    return false;
}

void CInstanceLock::Release() {
    if (m_pImpl->fd >= 0) {
        ::close(m_pImpl->fd); // closing the only descriptor gives the lock up
        m_pImpl->fd = -1;
    }
}

bool IsInstanceLockHeld(const std::string& programFolder) {
    const int fd = ::open(LockPath(programFolder).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false; // nobody has made it yet
    const bool bHeld = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return bHeld;
}

} // namespace plat
