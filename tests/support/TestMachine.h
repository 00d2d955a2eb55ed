// The folders a run touches outside the program folder. On POSIX they lie in a temporary
// folder: a Wine prefix (WINEPREFIX) with drive_c/windows, system32 holding a regsvr32.exe,
// and the Fonts folder, and a HOME for the user's fonts folder. On Windows they are the
// machine's own.
#pragma once

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <memory>
#include <string>

namespace kstest {

class TestMachine {
public:
    explicit TestMachine(bool bWithRegSvr32 = true);
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    std::string WindowsFolder() const;
    std::string SystemFolder() const;
    std::string FontsFolder() const; // the Windows fonts folder, as the file system spells it

private:
    TempDir m_root;
    std::unique_ptr<ScopedEnv> m_prefix;
    std::unique_ptr<ScopedEnv> m_home;
    std::unique_ptr<ScopedEnv> m_dataHome;
};

} // namespace kstest
