// `kestrelsync-publish status`: the fleet as the report requests in the download server's
// access logs show it (publish/FleetReport.h). Each machine counts by its latest report. "Now"
// is the newest report's time, so that old logs give the view they had then; every time shown,
// and every day of the day chart, is in the zone of that report's log line.
#pragma once

#include "publish/FleetReport.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct CFleetCount {
    std::string strName; // a serial, a cause; empty for none
    int nMachines = 0;
};

// The fleet at the end of one day of the logs.
struct CFleetDay {
    std::string strDate;       // "YYYY-MM-DD"
    std::vector<int> machines; // per series of CFleetSummary::series
};

struct CFleetSummary {
    std::size_t nReports = 0; // report lines read
    std::size_t nSkipped = 0; // lines not in the combined format, and bad report requests
    int nMachines = 0;
    std::int64_t tNow = 0;
    int nZoneMinutes = 0;
    int nStaleDays = 0;
    std::vector<CFleetCount> serials; // newest first, machines without a release last
    std::array<int, kFleetResults.size()> results{};
    std::vector<CFleetCount> causes; // of failed and stopped machines: most first, then by name
    std::vector<CFleetReport> stale; // unseen for nStaleDays: longest unseen first
    std::vector<std::string> series; // the day chart's series: serials newest first, then
                                     // kOlderSeries and kNoRelease when there are such
    std::vector<CFleetDay> days;     // oldest first, at most kMaxFleetDays
};

inline constexpr const char* kOlderSeries = "older";
inline constexpr const char* kNoRelease = "none";
inline constexpr std::size_t kMaxFleetSerialSeries = 8;
inline constexpr int kMaxFleetDays = 366;

class CFleetStatus {
public:
    // Every line of the log at path. False, naming the file, when it cannot be read.
    bool ReadLog(const std::string& path, std::string& why);
    CFleetSummary Summarize(int nStaleDays) const;

private:
    void AddLine(const std::string& line, bool bWhole);

    std::vector<CFleetReport> m_vecReports;
    std::size_t m_nSkipped = 0;
};

// "2026-12-09 08:00 +0900": t in the zone nZoneMinutes east of UTC.
std::string FleetTimeText(std::int64_t t, int nZoneMinutes);

// The summary as plain text with aligned columns.
void PrintFleetSummary(const CFleetSummary& summary, std::FILE* out);

struct CFleetOptions {
    std::vector<std::string> logs;
    std::string strHtml; // --html: the page to write, none when empty
    int nStaleDays = 7;
};

// The command: 0 done (an empty fleet too), 1 when a log cannot be read or the page cannot be
// written (one line on err naming it).
int RunFleetStatus(const CFleetOptions& options, std::FILE* out, std::FILE* err);
