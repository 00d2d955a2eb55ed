// What a run came to: "log/last-run.json" in the program folder, one event in the system's
// event log, and the exit status of the process. Every run, dialog or unattended, ends with
// one; a start that ran nothing ("no-run") writes one too.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The results, as the file names them.
inline constexpr const char* kResultUpdated = "updated";
inline constexpr const char* kResultCurrent = "current";
inline constexpr const char* kResultFailed = "failed";
inline constexpr const char* kResultStopped = "stopped";
inline constexpr const char* kResultNoRun = "no-run";

struct CRunReport {
    std::string strResult = kResultNoRun;
    std::int64_t nSerial = 0; // the list serial installed now; 0 is written as null
    int nFiles = 0;           // downloaded
    std::int64_t nBytes = 0;
    std::string strCause; // a short fixed code ("list-download", "hash", ...), empty when none
    std::string strDetail;
    std::int64_t nStartedMs = 0; // UTC milliseconds since 1970
    std::int64_t nFinishedMs = 0;
    std::string strVersion;
    std::string strServer; // "host:port[/base]" of the server the list came from; "" none
};

// The first failure of a run, from whichever thread meets it.
class CRunCause {
public:
    // Keeps cause and detail unless a failure was kept before.
    void Fail(const char* pszCause, const std::string& detail);
    bool Get(std::string& cause, std::string& detail) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::string m_strCause;
    std::string m_strDetail;
};

// The process's exit status for a result: 0 current (updated now or already), 1 failed or
// stopped, 2 no run took place.
int ExitStatusOf(const std::string& result);

// The report as the file holds it: one JSON object, UTF-8.
std::string RunReportJson(const CRunReport& report);

// "<program folder>/log/last-run.json" (through a temporary file, renamed) and the event of
// source "KestrelSync"; a failure of either is logged and changes nothing else.
void PublishRunReport(const std::string& programFolder, const CRunReport& report);

// The current UTC time in milliseconds since 1970.
std::int64_t UtcNowMs();
