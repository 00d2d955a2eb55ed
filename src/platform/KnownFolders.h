// Folders that the system names: the user's desktop and menus, fonts, program files, and the
// Windows and system folders.
//
// Windows asks the shell (SHGetSpecialFolderPathW, the folder is not created) and the system.
// POSIX gives the XDG folders for what the desktop environment offers (fonts, desktop,
// applications menu, autostart) and, for the Windows folders, those of the Wine prefix
// ($WINEPREFIX, else ~/.wine); they are unavailable when there is no prefix.
//
// Every value is an absolute folder path without a trailing separator, or an empty string
// when the system cannot name the folder.
#pragma once

#include <string>

namespace plat {

enum class SpecialFolder {
    Desktop,          // the user's desktop (shortcuts)
    DesktopDirectory, // the folder behind the desktop
    Programs,         // the user's Programs menu / applications menu
    Startup,          // programs started at log-on / autostart
    Fonts,            // fonts folder
    Windows,          // the Windows folder
    System,           // the system folder (System32)
    ProgramFiles,     // the program files folder
};

std::string GetSpecialFolder(SpecialFolder folder);

// The Windows folder (GetWindowsDirectory) and the system folder (GetSystemDirectory).
std::string GetWindowsFolder();
std::string GetSystemFolder();

// The root of the drive that holds folder, without a trailing separator: "C:" for
// "C:\Windows". On POSIX, where the Windows folders lie in a Wine prefix, the prefix's
// drive_c folder (the parent of the Windows folder). Empty for an empty folder.
std::string DriveRootOf(const std::string& folder);

} // namespace plat
