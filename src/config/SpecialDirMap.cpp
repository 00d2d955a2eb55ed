#include "config/SpecialDirMap.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "updatelist/DownFileItem.h"

namespace {

struct SpecialKey {
    const char* pszKey;
    plat::SpecialFolder folder;
};

const SpecialKey kSpecialKeys[] = {
    {"_FONTS", plat::SpecialFolder::Fonts},
    {"_WINDOWS", plat::SpecialFolder::Windows},
    {"_DESKTOPDIRECTORY", plat::SpecialFolder::DesktopDirectory},
    {"_PROGRAMS", plat::SpecialFolder::Programs},
    {"_STARTUP", plat::SpecialFolder::Startup},
    {"_SYSTEM", plat::SpecialFolder::System},
    {"_PROGRAM_FILES", plat::SpecialFolder::ProgramFiles},
};

// folder + separator + name; the name as the file system spells it when such an entry
// exists (POSIX file systems are case-sensitive, a Wine prefix writes "syswow64").
// Sets bExists to whether the entry exists.
std::string ChildPath(const std::string& folder, const char* name, bool& bExists) {
    const std::string path = folder + plat::kPathSep + name;
    std::vector<plat::FoundFile> found;
    bExists = plat::FindFiles(path, found);
    if (!bExists)
        return path;
    for (const plat::FoundFile& file : found) {
        if (file.strName == name)
            return file.strPath;
    }
    return found[0].strPath;
}

} // namespace

void CSpecialDirMap::LoadSpecialDirMap(const FolderSource& source) {
    m_entries.clear();
    for (const SpecialKey& key : kSpecialKeys)
        m_entries.emplace_back(key.pszKey,
                               source ? source(key.folder) : plat::GetSpecialFolder(key.folder));

    std::string windows;
    GetSpecialDir("_WINDOWS", windows);
    bool bExists = false;
    const std::string sysWow64 = ChildPath(windows, "SysWOW64", bExists);
    m_entries.emplace_back("_SYSTEM_32BIT",
                           bExists ? sysWow64 : ChildPath(windows, "System32", bExists));

    const std::string drive = plat::DriveRootOf(windows);
    std::string programFiles32;
    if (!drive.empty()) {
        const std::string x86 = ChildPath(drive, "Program Files (x86)", bExists);
        programFiles32 = bExists ? x86 : ChildPath(drive, "Program Files", bExists);
    }
    m_entries.emplace_back("_PROGRAM_FILES_32BIT", programFiles32);

    for (const auto& entry : m_entries)
        WriteLog(g_pMyLog, 1, "CVentoDlg::LoadSpecialDirMap> %s = [%s]", entry.first.c_str(),
                 entry.second.c_str());
}

bool CSpecialDirMap::GetSpecialDir(const std::string& key, std::string& value) const {
    for (const auto& entry : m_entries) {
        if (entry.first == key) {
            value = entry.second;
            return true;
        }
    }
    return false;
}

void CSpecialDirMap::ExpandSpecialDirPath(DownFileItem& item) const {
    std::string& path = item.m_strTargetFile;
    if (path.empty() || path[0] != '_')
        return;
    const std::size_t sep = path.find(plat::kPathSep);
    if (sep == std::string::npos)
        return;
    std::string value;
    if (GetSpecialDir(path.substr(0, sep), value))
        path = value + path.substr(sep);
}

void CSpecialDirMap::ClearSpecialDirMap() {
    WriteLog(g_pMyLog, 1, "CVentoExeApp::ClearSpecialDirMap> Map Count = %d",
             static_cast<int>(m_entries.size()));
    m_entries.clear();
}
