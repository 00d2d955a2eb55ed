// The engine's worker thread.
#pragma once

#include <functional>
#include <memory>

namespace plat {

#ifdef _WIN32
// Windows can end a thread from outside (TerminateThread), a last resort for a stuck worker.
inline constexpr bool kCanTerminateThreads = true;
#else
// POSIX never kills a thread: a stuck worker is left to run on, detached.
inline constexpr bool kCanTerminateThreads = false;
#endif

class CWorkerThread {
public:
    CWorkerThread();
    // Releases the thread object: a thread never resumed ends without running its body; a
    // thread still running goes on unattended.
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Creates the thread, suspended until Resume, to run body once. False when the system
    // cannot create it (LastErrorCode tells why).
    bool Create(std::function<void()> body);
    void Resume();
    // Resumes the thread if needed and waits for it to end; true when it has (also for a
    // thread never made).
    bool Join();
    // Ends the thread at once (Windows, a last resort: whatever it holds stays held).
    // POSIX never kills a thread: it is left to run on, detached.
    void Terminate();
    // Resumes the thread if needed and leaves it to run on unattended; this object no longer
    // refers to it.
    void Detach();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// Sleeps about nMs milliseconds. On Windows the calling thread meanwhile serves the window
// messages other threads send to its windows (never its posted input), so that a worker
// waiting in a synchronous call to a window of this thread can go on.
void SleepServingSentMessages(int nMs);

// Sleeps nMs milliseconds.
void SleepMs(int nMs);

} // namespace plat
