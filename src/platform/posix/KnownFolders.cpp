// POSIX special folders: XDG folders of the user, and the folders of the Wine prefix for the
// Windows ones.
#include "platform/KnownFolders.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"

#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// An XDG base folder: the variable when it holds an absolute path, else fallback under $HOME.
std::string XdgBase(const char* variable, const char* fallback) {
    const std::string value = Env(variable);
    if (!value.empty() && value[0] == '/')
        return WithoutTrailingSeparator(value);
    const std::string home = Env("HOME");
    if (home.empty() || home[0] != '/')
        return std::string();
    return JoinPath(WithoutTrailingSeparator(home), fallback);
}

// XDG_DESKTOP_DIR from the user's user-dirs.dirs ("$HOME/..." or an absolute path), else
// ~/Desktop.
std::string DesktopFolder() {
    const std::string home = WithoutTrailingSeparator(Env("HOME"));
    if (home.empty() || home[0] != '/')
        return std::string();
    const std::string config = XdgBase("XDG_CONFIG_HOME", ".config");
    if (std::FILE* fp = OpenFile(JoinPath(config, "user-dirs.dirs"), "r")) {
        char line[1024];
        std::string found;
        while (std::fgets(line, sizeof line, fp) != nullptr) {
            const char* key = "XDG_DESKTOP_DIR=\"";
            if (std::strncmp(line, key, std::strlen(key)) != 0)
                continue;
            std::string value = line + std::strlen(key);
            value = value.substr(0, value.find('"'));
            if (value.compare(0, 5, "$HOME") == 0)
                value = home + value.substr(5);
            if (!value.empty() && value[0] == '/')
                found = WithoutTrailingSeparator(value);
            break;
        }
        std::fclose(fp);
        if (!found.empty())
            return found;
    }
    return JoinPath(home, "Desktop");
}

// drive_c of the Wine prefix, or empty when there is no prefix.
std::string WineDriveC() {
    std::string prefix = Env("WINEPREFIX");
    if (prefix.empty()) {
        const std::string home = Env("HOME");
        if (home.empty())
            return std::string();
        prefix = JoinPath(WithoutTrailingSeparator(home), ".wine");
    }
    const std::string driveC = JoinPath(WithoutTrailingSeparator(prefix), "drive_c");
    FileStatus status;
    if (!GetFileStatus(driveC, status) || !status.bFolder)
        return std::string();
    return driveC;
}

std::string InWinePrefix(const char* relative) {
    const std::string driveC = WineDriveC();
    if (driveC.empty()) {
        SetLastErrorCode(kErrPathNotFound);
        return driveC;
    }
    return JoinPath(driveC, relative);
}

} // namespace

std::string GetSpecialFolder(SpecialFolder folder) {
    switch (folder) {
    case SpecialFolder::Desktop:
    case SpecialFolder::DesktopDirectory:
        return DesktopFolder();
    case SpecialFolder::Programs: {
        const std::string data = XdgBase("XDG_DATA_HOME", ".local/share");
        return data.empty() ? data : JoinPath(data, "applications");
    }
    case SpecialFolder::Startup: {
        const std::string config = XdgBase("XDG_CONFIG_HOME", ".config");
        return config.empty() ? config : JoinPath(config, "autostart");
    }
    case SpecialFolder::Fonts: {
        const std::string data = XdgBase("XDG_DATA_HOME", ".local/share");
        return data.empty() ? data : JoinPath(data, "fonts");
    }
    case SpecialFolder::Windows:
        return GetWindowsFolder();
    case SpecialFolder::System:
        return GetSystemFolder();
    case SpecialFolder::ProgramFiles:
        return InWinePrefix("Program Files");
    }
    return std::string();
}

std::string GetWindowsFolder() {
    return InWinePrefix("windows");
}

std::string GetSystemFolder() {
    return InWinePrefix("windows/system32");
}

std::string DriveRootOf(const std::string& folder) {
    const std::size_t sep = LastSepPos(folder);
    if (folder.empty() || sep == std::string::npos)
        return std::string();
    return folder.substr(0, sep == 0 ? 1 : sep);
}

} // namespace plat
