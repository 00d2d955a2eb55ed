// A log in a temporary folder that stands in for the process's log during one test.
#pragma once

#include "diag/MyLog.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace kstest {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Messages written so far (the part after the level label), one per line.
    std::vector<std::string> Messages() const;
    // Lines "LEVEL message" (label padded to five characters) written so far.
    std::vector<std::string> LevelsAndMessages() const;
    // Messages that contain text.
    std::vector<std::string> Matching(const std::string& text) const;

private:
    TempDir m_dir;
    std::unique_ptr<CMyLog> m_pLog;
    CMyLog* m_pSaved;
};

} // namespace kstest
