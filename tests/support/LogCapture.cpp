#include "support/LogCapture.h"

#include "platform/Text.h"

#include <sstream>

namespace kstest {

namespace {

// "2026/12/07=09:05:03.042 : " precedes the level label.
constexpr std::size_t kStampLength = 26;

} // namespace

LogCapture::LogCapture()
    : m_pLog(std::make_unique<CMyLog>(10, m_dir.Path(), "T")), m_pSaved(g_pMyLog) {
    g_pMyLog = m_pLog.get();
}

LogCapture::~LogCapture() {
    g_pMyLog = m_pSaved;
}

std::vector<std::string> LogCapture::LevelsAndMessages() const {
    std::istringstream text(plat::AnsiToUtf8(ReadFileBytes(m_pLog->GetLogPath())));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > kStampLength)
            lines.push_back(line.substr(kStampLength));
    }
    return lines;
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> messages;
    for (const std::string& line : LevelsAndMessages())
        messages.push_back(line.substr(6));
    return messages;
}

std::vector<std::string> LogCapture::Matching(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& line : LevelsAndMessages()) {
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

} // namespace kstest
