// The report request a workstation ends its run with, when its settings ask for one, as a web
// server's access log keeps it (publish/AccessLog.h):
//
//   GET <base>/_report?id=<32 hex>&serial=<digits or empty>&result=<result>&cause=<code>
//       &bytes=<n>&ms=<n>&v=<updater version>
//
// Values are percent-encoded, in any order; parameters not named here are ignored.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The results a report may carry, in the order the fleet's summary lists them.
inline constexpr std::array<const char*, 5> kFleetResults = {"updated", "current", "failed",
                                                             "stopped", "no-run"};

// Whether a result of kFleetResults is a run that failed or was stopped (the runs with a cause).
inline bool IsFleetFailure(int nResult) {
    return nResult == 2 || nResult == 3;
}

struct CFleetReport {
    std::string strId;      // the machine's random identifier: 32 lower-case hex digits
    std::string strSerial;  // the list serial installed, empty when none
    int nResult = 0;        // index into kFleetResults
    std::string strCause;   // printable ASCII, at most kMaxFleetText bytes; may be empty
    std::string strVersion; // the updater's version, as strCause
    std::int64_t tTime = 0; // the log line's time, seconds since 1970 UTC
    int nZoneMinutes = 0;   // the zone the log wrote that time in
};

// Longer causes and versions are no code a workstation sends.
inline constexpr std::size_t kMaxFleetText = 64;

enum class EFleetLine {
    kReport,    // a report, read into the CFleetReport
    kOther,     // a line of the log that is no report (the list, objects, probes)
    kMalformed, // not in the combined format, or a report request with a bad value
};

EFleetLine ReadFleetLine(const std::string& line, CFleetReport& report);

// Whether a is a later report of its machine than b: by time, and for one second, by a fixed
// order of their values, so that the files' order never changes the answer.
bool IsLaterReport(const CFleetReport& a, const CFleetReport& b);
