// Shortcuts that start a program: Windows shell links (".lnk"), desktop entries (".desktop")
// on POSIX.
#pragma once

#include <string>

namespace plat {

// The file-name extension of a shortcut on this platform (".lnk" or ".desktop").
const char* ShortcutExtension();

// Writes a shortcut at linkPath (a full path that already ends with ShortcutExtension())
// that starts target with arguments (may be empty); an existing file is replaced. No working
// folder, icon or description of its own. Windows: IShellLinkW saved with IPersistFile.
// POSIX: a desktop entry named after the file, whose Exec line starts target (through wine
// when target is a Windows program, a file that begins with "MZ") with the words of arguments
// as a Windows command line splits them, made executable.
// Returns 0 on success, else a negative code: -1 the system offers no shell-link object,
// -2 it has no file interface, -3 the file could not be saved (LastErrorCode tells why).
int CreateShortcut(const std::string& linkPath, const std::string& target,
                   const std::string& arguments);

// The target of a shortcut written by CreateShortcut, or an empty string when linkPath is
// not one (for checks and tests).
std::string ReadShortcutTarget(const std::string& linkPath);

} // namespace plat
