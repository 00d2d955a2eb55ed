// The process's diagnostic log: one file per start day, one time-stamped line per message,
// a size cap with one ".bak" backup, and a retention of old files.
#pragma once

#include "platform/LocalTime.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#if defined(__MINGW32__)
#define KS_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define KS_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KS_PRINTF_FORMAT(fmt, args)
#endif

// Source of the local time for file names, the retention cut-off and line stamps.
using LogClock = std::function<plat::LocalTime()>;

class CMyLog {
public:
    static constexpr int kMessageMax = 1024; // bytes of one formatted message
    static constexpr int kPathMax = 260;     // characters of the log file's path
    static constexpr int kLevelDebug = 1;
    static constexpr int kLevelInfo = 2;
    static constexpr int kLevelWarn = 3;
    static constexpr int kLevelError = 4;
    static constexpr int kLevelFatal = 5;

    // Opens (or creates) "<dir>/<prefix>_YYYYMMDD.log" for appending, after creating the
    // folders on its path and deleting files older than the retention period. A file that
    // cannot be opened, or a path longer than kPathMax characters, leaves the log in its
    // no-file state, in which every write is ignored.
    CMyLog(int nMaxSizeMB, const std::string& strDir, const std::string& strPrefix,
           LogClock clock = LogClock());
    ~CMyLog();
    CMyLog(const CMyLog&) = delete;
    CMyLog& operator=(const CMyLog&) = delete;

    // Messages whose level is below nLevel are dropped.
    void SetLogLevel(int nLevel);

    // Writes, at INFO through g_pMyLog, the system's text for the calling thread's last error.
    // Call it directly after the failed system call.
    static void LogLastErrorText();

    bool IsOpen() const { return m_nOpenFlag.load() != 0; }
    const std::string& GetLogPath() const { return m_strLogPath; }

    friend void WriteLog(CMyLog* pLog, int nLevel, const char* pszFormat, ...)
        KS_PRINTF_FORMAT(3, 4);

private:
    void WriteV(int nLevel, const char* pszFormat, va_list args) KS_PRINTF_FORMAT(3, 0);
    void CreateLogDirectories() const;
    void OpenLogFile();
    int DeleteOldLogFiles();
    void CheckLogFileSize();
    void BackupLogFile();
    static const char* GetLevelName(int nLevel, char* pszLabel);

    std::FILE* m_pFile = nullptr;
    int m_nMaxSizeMB;
    std::string m_strLogPath;
    std::atomic<int> m_nOpenFlag{0};
    char m_szMessage[kMessageMax + 1] = {};
    std::atomic<int> m_nMinLevel{1};
    int m_nWriteCount = 0;
    const int m_nCheckInterval = 100;
    const int m_nRetentionDays = 10;
    std::string m_strStartDate; // YYYYMMDD of the local time at construction
    std::string m_strDir;
    std::string m_strPrefix;
    std::mutex m_lock;
    LogClock m_clock;
};

// The process's log; created at start-up by a process that runs the dialog, deleted last.
extern CMyLog* g_pMyLog;

// While set for a thread, the lines that thread writes go to sink (level and message) instead
// of the log: the lines of one item of a parallel download, written in list order later.
// A thread that sets a sink resets it (nullptr) before it ends.
using LogSink = std::function<void(int nLevel, const std::string& text)>;
void SetThreadLogSink(LogSink sink);

// printf-style write of one line at a level (1 DEBUG, 2 INFO, 3 WARN, 4 ERROR, 5 FATAL).
// Does nothing when pLog is null or in its no-file state. A message longer than
// CMyLog::kMessageMax bytes is cut at a character boundary.
void WriteLog(CMyLog* pLog, int nLevel, const char* pszFormat, ...) KS_PRINTF_FORMAT(3, 4);
