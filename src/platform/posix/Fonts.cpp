// POSIX fonts: the Wine prefix's fonts are made available to the desktop through the user's
// fonts folder.
#include "platform/Fonts.h"

#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Path.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace plat {

namespace {

bool IsBareName(const std::string& name) {
    return !name.empty() && LastSepPos(name) == std::string::npos && name != "." && name != "..";
}

// Refreshes the font cache of the user's fonts folder when fc-cache exists.
void RefreshFontCache(const std::string& folder) {
    char arg0[] = "fc-cache";
    std::string target = folder;
    char* argv[] = {arg0, &target[0], nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "fc-cache", &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

// The user's fonts folder, created when missing; empty when there is none.
std::string UserFontsFolder() {
    const std::string folder = GetSpecialFolder(SpecialFolder::Fonts);
    if (!folder.empty())
        CreateFolderChain(folder);
    return folder;
}

} // namespace

std::string FontsFolder(const std::string& windowsDir) {
    bool bExists = false;
    return ResolveChildName(windowsDir, "fonts", bExists);
}

int AddFontFile(const std::string& fileName) {
    const std::string windows = GetWindowsFolder();
    const std::string fonts = UserFontsFolder();
    if (!IsBareName(fileName) || windows.empty() || fonts.empty()) {
        SetLastErrorCode(kErrFileNotFound);
        return 0;
    }
    bool bExists = false;
    const std::string source = JoinPath(ResolveChildName(windows, "Fonts", bExists), fileName);
    if (!CopyFileOver(source, JoinPath(fonts, fileName)))
        return 0;
    RefreshFontCache(fonts);
    return 1;
}

bool RemoveFontFile(const std::string& fileName) {
    const std::string fonts = GetSpecialFolder(SpecialFolder::Fonts);
    if (!IsBareName(fileName) || fonts.empty()) {
        SetLastErrorCode(kErrFileNotFound);
        return false;
    }
    if (!RemoveFile(JoinPath(fonts, fileName)))
        return false;
    RefreshFontCache(fonts);
    return true;
}

} // namespace plat
