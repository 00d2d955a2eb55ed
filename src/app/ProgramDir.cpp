#include "app/ProgramDir.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"

std::string g_szProgramDir;

const char* const g_szVersion = "14,10,6,1";

std::string ProgramDirFromModulePath(const std::string& modulePath,
                                     const std::string& currentFolder) {
    const std::size_t sep = plat::LastSepPos(modulePath);
    if (sep == std::string::npos)
        return currentFolder;
    // An executable in the root folder keeps the root's separator: "/" rather than "".
    return modulePath.substr(0, sep == 0 ? 1 : sep);
}

void InitProgramDir() {
    g_szProgramDir = ProgramDirFromModulePath(plat::GetModulePath(), plat::GetCurrentFolder());
    plat::CreateFolder(plat::JoinPath(g_szProgramDir, g_pszLogFolder));
}

void CreateWorkDirectories() {
    plat::CreateFolder(g_szProgramDir);
    plat::CreateFolder(plat::JoinPath(g_szProgramDir, g_pszLogFolder));
    plat::CreateFolder(plat::JoinPath(g_szProgramDir, g_pszConfigFolder));
}
