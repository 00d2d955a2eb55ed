#include "publish/StoreLock.h"

#include "platform/Path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CStoreLock::~CStoreLock() {
    if (m_nFd >= 0)
        ::close(m_nFd);
}

std::string CStoreLock::LockPath(const std::string& dir) {
    return plat::JoinPath(dir, ".lock");
}

bool CStoreLock::Acquire(const std::string& dir, std::string& why) {
    const std::string path = LockPath(dir);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot open the lock " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int nError = errno;
        ::close(fd);
        why = nError == EWOULDBLOCK
                  ? "the store " + dir + " is in use by another command (" + path + " is locked)"
                  : "cannot lock " + path + ": " + std::strerror(nError);
        return false;
    }
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = fd;
    return true;
}
