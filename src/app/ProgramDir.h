// The program folder, the work folders beneath it and the names of the updater's files.
#pragma once

#include <string>

// Folder that holds the running executable, without a trailing separator. Set first thing at
// start-up on the user-interface thread, then only read.
extern std::string g_szProgramDir;

// Version text written to the log and the status list at the start of each run.
extern const char* const g_szVersion;

// Names of the updater's files and of the application it keeps current; file names are
// relative to g_szProgramDir.
inline constexpr const char* g_pszUpdaterExe = "KestrelSync.exe";
inline constexpr const char* g_pszRun1Exe = "KestrelSyncRun1.exe";
inline constexpr const char* g_pszRun2Exe = "KestrelSyncRun2.exe";
inline constexpr const char* g_pszMenuFolder = "Arbor Lumen";
inline constexpr const char* g_pszTargetExe = "Lumen@Forge.exe";
inline constexpr const char* g_pszAppName = "Lumen Forge";
inline constexpr const char* g_pszEmergencyName = "Lumen Forge - 다운로드 장애시";

// Names of the work folders under the program folder.
inline constexpr const char* g_pszLogFolder = "log";
inline constexpr const char* g_pszConfigFolder = "config";

// Folder part of an executable path: the text before the last separator. A path without any
// separator (an executable named relative to the current folder) gives currentFolder.
std::string ProgramDirFromModulePath(const std::string& modulePath,
                                     const std::string& currentFolder);

// Sets g_szProgramDir from the running executable's path and creates its "log" folder.
void InitProgramDir();

// Creates the program folder, its "log" and its "config" folder; existing ones are left alone
// and failures are ignored (the log and the settings then fail in their own ways).
void CreateWorkDirectories();
