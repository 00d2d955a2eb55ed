// POSIX view of the running process; Windows programs are started through wine.
#include "platform/Process.h"

#include "platform/FileSystem.h"
#include "platform/posix/ErrnoMap.h"
#include "platform/posix/WindowsProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace plat {

namespace {

constexpr int kStarted = 33;      // the smallest "started" answer of ShellExecute
constexpr int kErrNotStarted = 2; // ERROR_FILE_NOT_FOUND, as both Windows calls give it

// Splits a command line at blanks (no quoting: the command lines of this program have none).
std::vector<std::string> SplitBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

// Starts argv through wine with its output discarded; true when it was started.
bool SpawnWine(std::vector<std::string> args, const std::string& workFolder) {
    args.insert(args.begin(), "wine");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!workFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workFolder.c_str());
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "wine", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        SetLastErrorCode(WindowsErrorFromErrno(rc, "wine"));
        return false;
    }
    return true;
}

// Starts argv[0] with argv, output and errors inherited; the child runs on its own.
bool Spawn(const std::vector<std::string>& args, int* pPid = nullptr) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        SetLastErrorCode(WindowsErrorFromErrno(rc, args[0]));
        return false;
    }
    if (pPid != nullptr)
        *pPid = static_cast<int>(pid);
    return true;
}

bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                  int* pPid) {
    // A Windows program runs through wine.
    const bool bWindows = IsWindowsProgram(program);
    if (!bWindows && ::access(program.c_str(), X_OK) != 0) {
        SetLastErrorCode(WindowsErrorFromErrno(errno, program));
        return false;
    }
    std::vector<std::string> args;
    if (bWindows)
        args = {"wine", program};
    else
        args = {program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return Spawn(args, pPid);
}

} // namespace

int RunAndWait(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {program};
    if (IsWindowsProgram(program))
        args.insert(args.begin(), "wine");
    args.insert(args.end(), arguments.begin(), arguments.end());
    int pid = 0;
    if (!Spawn(args, &pid))
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            SetLastErrorCode(WindowsErrorFromErrno(errno, program));
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool HasUpdateRights(const std::string& folder, std::string& why) {
    if (::access(folder.c_str(), W_OK) == 0)
        return true;
    why = "the program folder " + folder + " is not writable by this user (" +
          std::string(std::strerror(errno)) + ")";
    return false;
}

int GetOsMajorVersion() {
    return 0;
}

bool StartElevated(const std::string& program, const std::string& argument) {
    return StartProgram(program, {argument}, nullptr);
}

bool StartDirect(const std::string& program, const std::string& argument) {
    return StartProgram(program, {argument}, nullptr);
}

bool StartApplication(const std::string& commandLine, int& nProcessId) {
    // "<program> <arguments>": the program is the text before the last blank.
    const std::size_t blank = commandLine.rfind(' ');
    const std::string program =
        blank == std::string::npos ? commandLine : commandLine.substr(0, blank);
    const std::string rest =
        blank == std::string::npos ? std::string() : commandLine.substr(blank + 1);
    std::vector<std::string> arguments;
    if (!rest.empty())
        arguments.push_back(rest);
    int pid = 0;
    if (!StartProgram(program, arguments, &pid))
        return false;
    nProcessId = pid;
    return true;
}

std::string GetModulePath() {
    std::string buf(512, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", &buf[0], buf.size());
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < buf.size())
            return buf.substr(0, static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

bool SetCurrentFolder(const std::string& path) {
    if (::chdir(path.c_str()) != 0) {
        SetLastErrorCode(WindowsErrorFromErrno(errno, path));
        return false;
    }
    return true;
}

std::string ToWinePath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return path;
    std::string wine = "Z:" + path;
    for (char& c : wine) {
        if (c == '/')
            c = '\\';
    }
    return wine;
}

int StartHidden(const std::string& file, const std::string& parameters,
                const std::string& workFolder) {
    std::vector<std::string> args{file};
    for (const std::string& word : SplitBlanks(parameters))
        args.push_back(ToWinePath(word));
    return SpawnWine(args, workFolder) ? kStarted : kErrNotStarted;
}

int ExecHidden(const std::string& commandLine, const std::string& workFolder) {
    std::vector<std::string> args = SplitBlanks(commandLine);
    if (args.empty())
        return kErrNotStarted;
    args[0] = ToWinePath(args[0]);
    return SpawnWine(args, workFolder) ? kStarted : kErrNotStarted;
}

} // namespace plat

namespace plat {

std::string ProcessesUsingFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string();
    std::FILE* locks = std::fopen("/proc/locks", "r");
    if (locks == nullptr)
        return std::string();
    std::string holders;
    char line[512];
    while (std::fgets(line, sizeof line, locks) != nullptr) {
        // "1: FLOCK  ADVISORY  WRITE 4242 08:02:131090 0 EOF"
        char kind[16] = {};
        char mode[16] = {};
        char access[16] = {};
        int pid = 0;
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*d: %15s %15s %15s %d %x:%x:%llu", kind, mode, access, &pid, &major,
                        &minor, &inode) != 7 ||
            inode != static_cast<unsigned long long>(st.st_ino) || major != major(st.st_dev) ||
            minor != minor(st.st_dev))
            continue;
        std::string name = "pid";
        if (std::FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r")) {
            char text[64] = {};
            if (std::fgets(text, sizeof text, comm) != nullptr) {
                name = text;
                while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
                    name.pop_back();
            }
            std::fclose(comm);
        }
        holders += (holders.empty() ? "" : ", ") + name + " (" + std::to_string(pid) + ")";
    }
    std::fclose(locks);
    return holders;
}

} // namespace plat
