// The lock of a release store: an exclusive flock on "DIR/.lock", held by one command from its
// start to its end, so that two commands never write one store at once. It is taken without
// waiting (a second command is refused at once, naming the lock) and goes with the process,
// also when it is killed. The publishing tool is a native Linux program; this is POSIX only.
#pragma once

#include <string>

class CStoreLock {
public:
    CStoreLock() = default;
    // Releases the lock when it is held.
    ~CStoreLock();
    CStoreLock(const CStoreLock&) = delete;
    CStoreLock& operator=(const CStoreLock&) = delete;

    // "DIR/.lock" of the store at dir.
    static std::string LockPath(const std::string& dir);

    // Takes the lock of the store at dir (an existing folder); false with the reason when
    // another process holds it or the lock file cannot be made.
    bool Acquire(const std::string& dir, std::string& why);

private:
    int m_nFd = -1;
};
