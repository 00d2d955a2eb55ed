#include "config/DirKeyMap.h"

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

} // namespace

void CDirKeyMap::LoadSpecialDirMap(const FolderSource& source) {
    m_entries.clear();
    for (const SpecialKey& key : kSpecialKeys)
        m_entries.emplace_back(key.pszKey,
                               source ? source(key.folder) : plat::GetSpecialFolder(key.folder));

    std::string windows;
    GetSpecialDir("_WINDOWS", windows);
    bool bExists = false;
    const std::string sysWow64 = plat::ResolveChildName(windows, "SysWOW64", bExists);
    m_entries.emplace_back(
        "_SYSTEM_32BIT", bExists ? sysWow64 : plat::ResolveChildName(windows, "System32", bExists));

    const std::string drive = plat::DriveRootOf(windows);
    std::string programFiles32;
    if (!drive.empty()) {
        const std::string x86 = plat::ResolveChildName(drive, "Program Files (x86)", bExists);
        programFiles32 = bExists ? x86 : plat::ResolveChildName(drive, "Program Files", bExists);
    }
    m_entries.emplace_back("_PROGRAM_FILES_32BIT", programFiles32);

    for (const auto& entry : m_entries)
        WriteLog(g_pMyLog, 1, "CVentoDlg::LoadSpecialDirMap> %s = [%s]", entry.first.c_str(),
                 entry.second.c_str());
}

bool CDirKeyMap::GetSpecialDir(const std::string& key, std::string& value) const {
    for (const auto& entry : m_entries) {
        if (entry.first == key) {
            value = entry.second;
            return true;
        }
    }
    return false;
}

void CDirKeyMap::ExpandSpecialDirPath(DownFileItem& item) const {
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

void CDirKeyMap::ClearSpecialDirMap() {
    WriteLog(g_pMyLog, 1, "CVentoExeApp::ClearSpecialDirMap> Map Count = %d",
             static_cast<int>(m_entries.size()));
    m_entries.clear();
}
