// The running process and the programs it starts.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Full path of the running executable (UTF-8), or an empty string when the system cannot tell.
std::string GetModulePath();

// Makes path the process's current folder; false on failure (LastErrorCode).
bool SetCurrentFolder(const std::string& path);

// Starts file with parameters in workFolder, hidden, without waiting for it (Windows:
// ShellExecute with "open"; POSIX: the Windows program is run through wine, and the
// parameters' absolute POSIX paths are given as Wine paths). Returns a value greater than 32
// when the program was started, else an error code of 32 or less (LastErrorCode tells more).
int StartHidden(const std::string& file, const std::string& parameters,
                const std::string& workFolder);

// Starts a command line (program path, blank, arguments) hidden, without waiting for it,
// with workFolder as the program's current folder (the caller's own stays as it is). Windows:
// CreateProcess as WinExec does it; POSIX: through wine. Returns 32 or more when the program
// was started, else an error code below 32.
int ExecHidden(const std::string& commandLine, const std::string& workFolder);

// The major version of the running Windows (6 and more: Vista or later), or 0 when the system
// does not tell it. POSIX has no Windows version: 0.
int GetOsMajorVersion();

// Starts program with one argument and returns at once. Elevated: Windows asks the shell to
// run it as administrator (verb "runas"); a declined prompt is a failure. Direct: Windows
// creates the process with the command line "<program> <argument>" (unquoted), a new
// console and the window title "KestrelSync". POSIX starts the program itself in both
// cases. False on failure (LastErrorCode).
bool StartElevated(const std::string& program, const std::string& argument);
bool StartDirect(const std::string& program, const std::string& argument);

// Runs program with arguments, without a window and without elevation, and waits for it to
// end: its exit status, or -1 when it could not be started (LastErrorCode tells why).
// Windows: CreateProcess with the quoted program and the arguments joined by blanks; POSIX:
// the program itself (through wine when it is a Windows program).
int RunAndWait(const std::string& program, const std::vector<std::string>& arguments);

// True when this process has the rights an update of folder needs; else false with why.
// Windows: the process runs elevated (an administrator's full token, or the system account),
// as registrations, fonts and the policy-protected folders need. POSIX: folder is writable
// by this process's user.
bool HasUpdateRights(const std::string& folder, std::string& why);

// Starts the command line of an application, shown normally, without waiting. Windows:
// CreateProcess (the program part is not quoted: the system finds it as it does). POSIX: the
// text up to the last blank names the program, started through wine when it is a Windows
// program. Writes the process id; false on failure (LastErrorCode).
bool StartApplication(const std::string& commandLine, int& nProcessId);

// The programs that hold path open so that it cannot be replaced, as "name (pid)" joined with
// ", "; empty when the system cannot tell. Windows: the Restart Manager; POSIX: the holders of
// a flock on the file (/proc/locks).
std::string ProcessesUsingFile(const std::string& path);

// The Wine path of an absolute POSIX path ("/home/a b/x.reg" is "Z:\home\a b\x.reg"); other
// text is returned as it is.
std::string ToWinePath(const std::string& path);

} // namespace plat
