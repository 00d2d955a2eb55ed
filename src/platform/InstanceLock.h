// One updater run per program folder: a lock that the process that does the work holds until
// it ends. Windows: a named mutex of the folder; POSIX: an advisory lock (flock) on a file in
// the folder's config folder. The lock goes with the process, also when it is killed, and is
// never inherited by the programs it starts.
#pragma once

#include <memory>
#include <string>

namespace plat {

class CInstanceLock {
public:
    CInstanceLock();
    // Releases the lock when it is held.
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Takes the lock of programFolder, waiting up to nWaitMs for another process to give it
    // up. False when it stays held (or cannot be made: LastErrorCode tells why).
    bool Acquire(const std::string& programFolder, int nWaitMs);
    void Release();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// True when another process (or another thread of this one) holds the lock of programFolder
// now. Not for asking about a lock the calling thread holds itself.
bool IsInstanceLockHeld(const std::string& programFolder);

} // namespace plat
