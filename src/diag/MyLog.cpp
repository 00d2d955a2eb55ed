#include "diag/MyLog.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"

#include <cstring>
#include <vector>

CMyLog* g_pMyLog = nullptr;

namespace {

struct LevelEntry {
    int nLevel;
    const char* pszLabel;
};

// Searched in order; the entry of value 100 ends the table and is never matched.
constexpr LevelEntry kLevelTable[] = {
    {1, "DEBUG"}, {2, "INFO"}, {3, "WARN"}, {4, "ERROR"}, {5, "FATAL"}, {100, "ETC"},
};

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kBytesPerMB = 1048576;

std::string FormatDate(const plat::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.nYear, t.nMonth, t.nDay);
    return buf;
}

} // namespace

CMyLog::CMyLog(int nMaxSizeMB, const std::string& strDir, const std::string& strPrefix,
               LogClock clock)
    : m_nMaxSizeMB(nMaxSizeMB), m_strDir(strDir), m_strPrefix(strPrefix),
      m_clock(clock ? std::move(clock) : LogClock(&plat::GetLocalNow)) {
    const plat::LocalTime now = m_clock();
    m_strStartDate = FormatDate(now);
    m_strLogPath = plat::JoinPath(m_strDir, m_strPrefix + "_" + m_strStartDate + ".log");
    if (plat::Utf8CharCount(m_strLogPath) > static_cast<std::size_t>(kPathMax))
        return; // a shortened path would name another file; stay without a file
    CreateLogDirectories();
    DeleteOldLogFiles();
    OpenLogFile();
}

CMyLog::~CMyLog() {
    if (m_pFile != nullptr) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
        m_nOpenFlag = 0;
    }
}

void CMyLog::SetLogLevel(int nLevel) {
    m_nMinLevel = nLevel;
}

// Creates every folder on the path, from the outermost down.
void CMyLog::CreateLogDirectories() const {
    const std::size_t sep = plat::LastSepPos(m_strLogPath);
    if (sep != std::string::npos && sep > 0)
        plat::CreateFolderChain(m_strLogPath.substr(0, sep));
}

void CMyLog::OpenLogFile() {
    if (m_pFile != nullptr)
        std::fclose(m_pFile);
    m_pFile = plat::OpenFile(m_strLogPath, "a");
    m_nOpenFlag = m_pFile != nullptr ? 1 : 0;
}

// Deletes the files of this prefix whose names sort at or before the cut-off name
// "<prefix>_<date of now minus the retention>.log". The comparison is textual, so a ".bak"
// of the cut-off day survives until a later start.
int CMyLog::DeleteOldLogFiles() {
    if (m_nRetentionDays < 1)
        return 0;
    const std::string pattern = plat::JoinPath(m_strDir, m_strPrefix + "_????????.log*");
    std::int64_t tNow = 0;
    plat::LocalTime cutoff;
    if (!plat::EpochFromLocalTime(m_clock(), tNow) ||
        !plat::LocalTimeFromEpoch(tNow - m_nRetentionDays * kSecondsPerDay, cutoff))
        return 0;
    const std::string cutoffName = m_strPrefix + "_" + FormatDate(cutoff) + ".log";
    std::vector<plat::FoundFile> files;
    if (!plat::FindFiles(pattern, files))
        return 0;
    int nDeleted = 0;
    for (const plat::FoundFile& file : files) {
        if (file.strName.compare(cutoffName) <= 0) {
            plat::RemoveFile(file.strPath);
            ++nDeleted;
        }
    }
    return nDeleted;
}

// A file of exactly the limit is rotated.
void CMyLog::CheckLogFileSize() {
    plat::FileStatus status;
    if (!plat::GetFileStatus(m_strLogPath, status))
        return;
    if (static_cast<std::int64_t>(status.nSize) < m_nMaxSizeMB * kBytesPerMB)
        return;
    if (m_pFile != nullptr) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
        m_nOpenFlag = 0;
    }
    BackupLogFile();
    plat::RemoveFile(m_strLogPath);
    OpenLogFile();
}

void CMyLog::BackupLogFile() {
    const std::string backup = m_strLogPath + ".bak";
    plat::RemoveFile(backup);
    plat::RenameFile(m_strLogPath, backup);
}

const char* CMyLog::GetLevelName(int nLevel, char* pszLabel) {
    for (const LevelEntry& entry : kLevelTable) {
        if (entry.nLevel == 100)
            break;
        if (entry.nLevel == nLevel) {
            std::strcpy(pszLabel, entry.pszLabel);
            return entry.pszLabel;
        }
    }
    std::strcpy(pszLabel, "  ");
    return "  ";
}

void CMyLog::WriteV(int nLevel, const char* pszFormat, va_list args) {
    if (m_nOpenFlag.load() == 0 || nLevel < m_nMinLevel.load())
        return;
    char szLabel[10] = {};
    GetLevelName(nLevel, szLabel);

    std::lock_guard<std::mutex> guard(m_lock);
    if (++m_nWriteCount > m_nCheckInterval) {
        m_nWriteCount = 0;
        CheckLogFileSize();
    }
    std::memset(m_szMessage, 0, sizeof m_szMessage);
    va_list again;
    va_copy(again, args);
    const int nNeeded = std::vsnprintf(m_szMessage, sizeof m_szMessage, pszFormat, args);
    if (nNeeded > kMessageMax) {
        // Cut where no character is split, so the line stays valid text.
        std::string full(static_cast<std::size_t>(nNeeded) + 1, '\0');
        std::vsnprintf(&full[0], full.size(), pszFormat, again);
        m_szMessage[plat::Utf8FitLength(full, kMessageMax)] = '\0';
    }
    va_end(again);

    const plat::LocalTime now = m_clock();
    if (m_pFile == nullptr)
        return;
    char szStamp[128];
    std::snprintf(szStamp, sizeof szStamp, "%04d/%02d/%02d=%02d:%02d:%02d.%03d : %-5s ", now.nYear,
                  now.nMonth, now.nDay, now.nHour, now.nMinute, now.nSecond, now.nMilli, szLabel);
    std::string line = szStamp;
    line += m_szMessage;
    line += '\n';
    const std::string bytes = plat::Utf8ToAnsi(line);
    std::fwrite(bytes.data(), 1, bytes.size(), m_pFile);
    std::fflush(m_pFile);
}

void CMyLog::LogLastErrorText() {
    const int nError = plat::LastErrorCode();
    std::string text;
    if (!plat::SystemErrorText(nError, text)) {
        WriteLog(g_pMyLog, kLevelInfo,
                 "CMyLog::LogLastErrorText> FormatMessage() Fail, ErrCode = %d",
                 plat::LastErrorCode());
        return;
    }
    // The system's texts end with a line break of their own; the line keeps it.
    WriteLog(g_pMyLog, kLevelInfo, "CMyLog::LogLastErrorText> %s\n", text.c_str());
}

namespace {

// A plain pointer: a thread-local object with a destructor is destroyed at thread exit in an
// order the Windows runtime does not keep (its storage can be gone first, and the destructor
// then calls through freed memory). The sink is owned here and given back by resetting it.
thread_local LogSink* t_pLogSink = nullptr;

} // namespace

void SetThreadLogSink(LogSink sink) {
    delete t_pLogSink;
    t_pLogSink = sink ? new LogSink(std::move(sink)) : nullptr;
}

void WriteLog(CMyLog* pLog, int nLevel, const char* pszFormat, ...) {
    if (pLog == nullptr)
        return;
    va_list args;
    va_start(args, pszFormat);
    if (t_pLogSink != nullptr) {
        va_list again;
        va_copy(again, args);
        const int n = std::vsnprintf(nullptr, 0, pszFormat, args);
        std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
        if (n > 0)
            std::vsnprintf(&text[0], text.size() + 1, pszFormat, again);
        va_end(again);
        va_end(args);
        (*t_pLogSink)(nLevel, text);
        return;
    }
    pLog->WriteV(nLevel, pszFormat, args);
    va_end(args);
}
