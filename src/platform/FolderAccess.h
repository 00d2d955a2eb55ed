// Who may change what lies in a folder: the folders that a process running elevated (or as
// root) trusts, which no ordinary user may fill.
#pragma once

#include <string>

namespace plat {

// Lets only the administrators and the system create, change or delete entries of the folder
// at path, and everyone read them. Windows: a protected access list (nothing inherited from
// the parent) with full control for SYSTEM and Administrators, read and list for Users,
// inherited by what is created inside, and Administrators as owner. POSIX: the running user as
// owner, mode 0755; a link is not followed. False when the folder is missing, is a link, or the
// system refused (LastErrorCode tells why: kErrAccessDenied when the caller may not).
bool RestrictFolderWriters(const std::string& path);

} // namespace plat
