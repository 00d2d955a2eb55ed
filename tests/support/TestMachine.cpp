#include "support/TestMachine.h"

#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Path.h"

namespace kstest {

TestMachine::TestMachine(bool bWithRegSvr32) {
#ifndef _WIN32
    const std::string prefix = m_root / "wine";
    const std::string windows = plat::JoinPath(plat::JoinPath(prefix, "drive_c"), "windows");
    plat::CreateFolderChain(plat::JoinPath(windows, "system32"));
    plat::CreateFolderChain(plat::JoinPath(windows, "Fonts"));
    if (bWithRegSvr32)
        WriteFileBytes(plat::JoinPath(plat::JoinPath(windows, "system32"), "regsvr32.exe"), "");
    m_prefix = std::make_unique<ScopedEnv>("WINEPREFIX", prefix);
    m_home = std::make_unique<ScopedEnv>("HOME", m_root / "home");
    m_dataHome = std::make_unique<ScopedEnv>("XDG_DATA_HOME", "");
#else
    static_cast<void>(bWithRegSvr32);
#endif
}

TestMachine::~TestMachine() = default;

std::string TestMachine::WindowsFolder() const {
    return plat::GetWindowsFolder();
}

std::string TestMachine::SystemFolder() const {
    return plat::GetSystemFolder();
}

std::string TestMachine::FontsFolder() const {
#ifdef _WIN32
    return WindowsFolder() + "\\fonts"; // as the program names it; Windows ignores the case
#else
    bool bExists = false;
    return plat::ResolveChildName(WindowsFolder(), "fonts", bExists);
#endif
}

} // namespace kstest
