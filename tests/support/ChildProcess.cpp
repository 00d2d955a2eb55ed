#include "support/ChildProcess.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include "platform/win32/WinText.h"

#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace kstest {

ChildProcess::~ChildProcess() {
    if (m_bRunning) {
        Kill();
        Wait(10000);
    }
#ifdef _WIN32
    if (m_nPid != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_nPid));
#endif
}

std::vector<std::string> OnlyTest(const std::string& filter) {
    return {"--gtest_filter=" + filter, "--gtest_also_run_disabled_tests"};
}

namespace {

std::vector<std::string> CommandOf(const std::string& program,
                                   const std::vector<std::string>& arguments) {
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

// The argv of command, ending in a null pointer; it points into command.
std::vector<char*> ArgumentVector(std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return argv;
}

} // namespace

#ifdef _WIN32

HeldFile::HeldFile(const std::string& path) {
    const HANDLE h = ::CreateFileW(plat::Wide(path).c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        m_nHandle = reinterpret_cast<long long>(h);
}

void HeldFile::Release() {
    if (m_nHandle != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_nHandle));
    m_nHandle = -1;
}

void EndThisProcessNow(int nCode) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(nCode));
    for (;;)
        ::Sleep(1000);
}

namespace {

// Wine starts a host program (a POSIX path) from CreateProcess but hands back no process or
// thread handle: the caller's PROCESS_INFORMATION keeps what its stack held, and waiting on
// and closing those values hit handles this process owns (once the event Winsock keeps for the
// thread, after which every bind failed). Wine's own spawn takes no handle and returns none;
// such a child's end is learned from what it writes.
bool StartHostProgram(std::vector<std::string> command) {
    using Spawn = LONG(__cdecl*)(char* const*, int);
    const auto spawn = reinterpret_cast<Spawn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (spawn == nullptr)
        return false;
    const std::vector<char*> argv = ArgumentVector(command);
    return spawn(argv.data(), 0) == 0;
}

} // namespace

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    if (program.compare(0, 1, "/") == 0)
        return StartHostProgram(CommandOf(program, arguments));
    std::wstring commandLine = L"\"" + plat::Wide(program) + L"\"";
    for (const std::string& argument : arguments)
        commandLine += L" \"" + plat::Wide(argument) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(plat::Wide(program).c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &info))
        return false;
    ::CloseHandle(info.hThread);
    m_nPid = reinterpret_cast<long long>(info.hProcess);
    m_bRunning = true;
    return true;
}

void ChildProcess::Kill() {
    if (m_bRunning)
        ::TerminateProcess(reinterpret_cast<HANDLE>(m_nPid), 137);
}

int ChildProcess::Wait(int timeoutMs) {
    if (m_nPid == -1)
        return -1;
    const HANDLE process = reinterpret_cast<HANDLE>(m_nPid);
    if (::WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return -1;
    m_bRunning = false;
    DWORD code = 0;
    return ::GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
}

#else

HeldFile::HeldFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        m_nHandle = fd;
    else if (fd >= 0)
        ::close(fd);
}

void HeldFile::Release() {
    if (m_nHandle != -1)
        ::close(static_cast<int>(m_nHandle));
    m_nHandle = -1;
}

void EndThisProcessNow(int nCode) {
    ::_exit(nCode);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = CommandOf(program, arguments);
    const std::vector<char*> argv = ArgumentVector(command);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    m_nPid = pid;
    m_bRunning = true;
    return true;
}

void ChildProcess::Kill() {
    if (m_bRunning)
        ::kill(static_cast<pid_t>(m_nPid), SIGKILL);
}

int ChildProcess::Wait(int timeoutMs) {
    if (!m_bRunning)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(m_nPid), &status, WNOHANG);
        if (done == static_cast<pid_t>(m_nPid)) {
            m_bRunning = false;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

#endif

} // namespace kstest
