// A child process that a test starts and may kill for real: POSIX posix_spawn and SIGKILL,
// Windows CreateProcess and TerminateProcess. It inherits the test's environment. Under Wine a
// host program (a POSIX path) starts through Wine's own spawn, which gives back no handle: it
// can be neither waited for (Wait gives -1) nor killed, and tells its end through its files.
#pragma once

#include <string>
#include <vector>

namespace kstest {

class ChildProcess {
public:
    ChildProcess() = default;
    // Kills a child that still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with arguments; false when it could not be started.
    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    // Ends the child at once, as a power cut or the task manager would.
    void Kill();
    // Waits up to timeoutMs for the child to end; its exit status, or -1 when it has not ended
    // (or ended by a signal).
    int Wait(int timeoutMs);

private:
    long long m_nPid = -1; // POSIX: the process id; Windows: the process handle
    bool m_bRunning = false;
};

// Holds a file open as another program that shares nothing with others does (Windows: a
// handle without sharing; POSIX: an exclusive flock), until Release or the end.
class HeldFile {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile() { Release(); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool Ok() const { return m_nHandle != -1; }
    void Release();

private:
    long long m_nHandle = -1;
};

// Ends the calling process at once, as a power cut or the task manager would.
[[noreturn]] void EndThisProcessNow(int nCode);

// The test executable itself, started to run only the test named filter.
std::vector<std::string> OnlyTest(const std::string& filter);

} // namespace kstest
