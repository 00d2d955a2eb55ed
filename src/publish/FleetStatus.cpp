#include "publish/FleetStatus.h"

#include "publish/AccessLog.h"
#include "publish/FleetPage.h"
#include "trust/SignedList.h"

#include <algorithm>
#include <map>

namespace {

constexpr std::int64_t kDaySeconds = 86400;

std::int64_t DayOf(std::int64_t t, int nZoneMinutes) {
    const std::int64_t local = t + std::int64_t{nZoneMinutes} * 60;
    return local >= 0 ? local / kDaySeconds : (local - kDaySeconds + 1) / kDaySeconds;
}

// Serials are decimal numbers without leading zeros: a longer one is a later one.
bool IsNewerSerial(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a > b;
}

std::vector<CFleetCount> Counted(const std::map<std::string, int>& counts) {
    std::vector<CFleetCount> list;
    for (const auto& count : counts)
        list.push_back({count.first, count.second});
    return list;
}

// The numbers of the machines' latest reports.
void AddLatest(const std::map<std::string, const CFleetReport*>& latest, CFleetSummary& summary) {
    std::map<std::string, int> serials;
    std::map<std::string, int> causes;
    const std::int64_t tStale = summary.tNow - std::int64_t{summary.nStaleDays} * kDaySeconds;
    for (const auto& machine : latest) {
        const CFleetReport& report = *machine.second;
        ++serials[report.strSerial];
        ++summary.results[static_cast<std::size_t>(report.nResult)];
        if (IsFleetFailure(report.nResult))
            ++causes[report.strCause];
        if (report.tTime <= tStale)
            summary.stale.push_back(report);
    }
    summary.nMachines = static_cast<int>(latest.size());
    summary.serials = Counted(serials);
    std::sort(summary.serials.begin(), summary.serials.end(),
              [](const CFleetCount& a, const CFleetCount& b) {
                  return IsNewerSerial(a.strName, b.strName);
              });
    summary.causes = Counted(causes);
    std::stable_sort(
        summary.causes.begin(), summary.causes.end(),
        [](const CFleetCount& a, const CFleetCount& b) { return a.nMachines > b.nMachines; });
    std::sort(summary.stale.begin(), summary.stale.end(),
              [](const CFleetReport& a, const CFleetReport& b) {
                  return a.tTime != b.tTime ? a.tTime < b.tTime : a.strId < b.strId;
              });
}

// The chart's series: the newest serials on their own, the rest as one, no release last.
std::vector<std::string> Series(const std::vector<std::map<std::string, int>>& snapshots) {
    std::vector<std::string> serials;
    bool bNone = false;
    for (const auto& snapshot : snapshots) {
        for (const auto& count : snapshot) {
            if (count.first.empty())
                bNone = true;
            else if (std::find(serials.begin(), serials.end(), count.first) == serials.end())
                serials.push_back(count.first);
        }
    }
    std::sort(serials.begin(), serials.end(), IsNewerSerial);
    if (serials.size() > kMaxFleetSerialSeries) {
        serials.resize(kMaxFleetSerialSeries);
        serials.push_back(kOlderSeries);
    }
    if (bNone)
        serials.push_back(kNoRelease);
    return serials;
}

CFleetDay DayOfSnapshot(std::int64_t nDay, const std::map<std::string, int>& snapshot,
                        const std::vector<std::string>& series) {
    CFleetDay day;
    const std::string digits = UtcDigitsFromTime(nDay * kDaySeconds);
    day.strDate = digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
    day.machines.assign(series.size(), 0);
    for (const auto& count : snapshot) {
        auto found = std::find(series.begin(), series.end(),
                               count.first.empty() ? std::string(kNoRelease) : count.first);
        if (found == series.end())
            found = std::find(series.begin(), series.end(), std::string(kOlderSeries));
        day.machines[static_cast<std::size_t>(found - series.begin())] += count.second;
    }
    return day;
}

using CTable = std::vector<std::vector<std::string>>;

// A header row and its rows, each column as wide as its widest cell: text to the left, counts
// (every column after the first when bCounts) to the right.
void PrintTable(std::FILE* out, const CTable& rows, bool bCounts) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - row[c].size(), ' ');
            line += c == 0 ? "" : "   ";
            line += bCounts && c > 0 ? pad + row[c] : row[c] + pad;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fprintf(out, "\n");
}

std::string Share(int n, int nTotal) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", nTotal > 0 ? 100.0 * n / nTotal : 0.0);
    return text;
}

void PrintCounts(std::FILE* out, const CFleetSummary& summary) {
    CTable serials = {{"Release", "Machines", "Share"}};
    for (const CFleetCount& serial : summary.serials)
        serials.push_back({serial.strName.empty() ? std::string(kNoRelease) : serial.strName,
                           std::to_string(serial.nMachines),
                           Share(serial.nMachines, summary.nMachines)});
    PrintTable(out, serials, true);
    CTable results = {{"Latest result", "Machines"}};
    for (std::size_t r = 0; r < kFleetResults.size(); ++r)
        results.push_back({kFleetResults[r], std::to_string(summary.results[r])});
    PrintTable(out, results, true);
    if (summary.causes.empty()) {
        std::fprintf(out, "No machine's latest run failed or was stopped.\n\n");
        return;
    }
    CTable causes = {{"Failure cause", "Machines"}};
    for (const CFleetCount& cause : summary.causes)
        causes.push_back({cause.strName.empty() ? "(none given)" : cause.strName,
                          std::to_string(cause.nMachines)});
    PrintTable(out, causes, true);
}

void PrintStale(std::FILE* out, const CFleetSummary& summary) {
    std::fprintf(out, "Not seen for %d days or more: %zu machines\n", summary.nStaleDays,
                 summary.stale.size());
    if (summary.stale.empty()) {
        std::fprintf(out, "\n");
        return;
    }
    CTable stale = {{"Machine", "Release", "Last seen", "Result"}};
    for (const CFleetReport& report : summary.stale)
        stale.push_back({report.strId, report.strSerial.empty() ? kNoRelease : report.strSerial,
                         FleetTimeText(report.tTime, summary.nZoneMinutes),
                         kFleetResults[static_cast<std::size_t>(report.nResult)]});
    PrintTable(out, stale, false);
}

void PrintSkipped(std::FILE* out, std::size_t nSkipped) {
    if (nSkipped > 0)
        std::fprintf(out, "%zu line%s skipped: not a report request in the combined format\n",
                     nSkipped, nSkipped == 1 ? "" : "s");
}

// The fleet at the end of every day from the first report's to the newest's (at most the last
// kMaxFleetDays), each machine by its latest report up to then.
void AddDays(const std::vector<const CFleetReport*>& ordered, CFleetSummary& summary) {
    const int nZone = summary.nZoneMinutes;
    const std::int64_t nLast = DayOf(summary.tNow, nZone);
    const std::int64_t nFirst =
        std::max(DayOf(ordered.front()->tTime, nZone), nLast - kMaxFleetDays + 1);
    std::map<std::string, std::string> serialOf;
    std::map<std::string, int> counts;
    std::vector<std::map<std::string, int>> snapshots;
    std::size_t i = 0;
    for (std::int64_t nDay = nFirst; nDay <= nLast; ++nDay) {
        for (; i < ordered.size() && DayOf(ordered[i]->tTime, nZone) <= nDay; ++i) {
            const auto placed = serialOf.emplace(ordered[i]->strId, ordered[i]->strSerial);
            if (!placed.second) {
                if (--counts[placed.first->second] == 0)
                    counts.erase(placed.first->second);
                placed.first->second = ordered[i]->strSerial;
            }
            ++counts[ordered[i]->strSerial];
        }
        snapshots.push_back(counts);
    }
    summary.series = Series(snapshots);
    for (std::size_t n = 0; n < snapshots.size(); ++n)
        summary.days.push_back(
            DayOfSnapshot(nFirst + static_cast<std::int64_t>(n), snapshots[n], summary.series));
}

} // namespace

std::string FleetTimeText(std::int64_t t, int nZoneMinutes) {
    const std::string d = UtcDigitsFromTime(t + std::int64_t{nZoneMinutes} * 60);
    const int nZone = nZoneMinutes < 0 ? -nZoneMinutes : nZoneMinutes;
    char zone[16];
    std::snprintf(zone, sizeof zone, " %c%02d%02d", nZoneMinutes < 0 ? '-' : '+', nZone / 60,
                  nZone % 60);
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) +
           ":" + d.substr(10, 2) + zone;
}

bool CFleetStatus::ReadLog(const std::string& path, std::string& why) {
    return ReadAccessLog(
        path, [this](const std::string& line, bool bWhole) { AddLine(line, bWhole); }, why);
}

void CFleetStatus::AddLine(const std::string& line, bool bWhole) {
    CFleetReport report;
    const EFleetLine kind = bWhole ? ReadFleetLine(line, report) : EFleetLine::kMalformed;
    if (kind == EFleetLine::kReport)
        m_vecReports.push_back(std::move(report));
    else if (kind == EFleetLine::kMalformed)
        ++m_nSkipped;
}

CFleetSummary CFleetStatus::Summarize(int nStaleDays) const {
    CFleetSummary summary;
    summary.nReports = m_vecReports.size();
    summary.nSkipped = m_nSkipped;
    summary.nStaleDays = nStaleDays;
    std::vector<const CFleetReport*> ordered;
    for (const CFleetReport& report : m_vecReports)
        ordered.push_back(&report);
    if (ordered.empty())
        return summary;
    std::sort(ordered.begin(), ordered.end(),
              [](const CFleetReport* a, const CFleetReport* b) { return IsLaterReport(*b, *a); });
    summary.tNow = ordered.back()->tTime;
    summary.nZoneMinutes = ordered.back()->nZoneMinutes;
    std::map<std::string, const CFleetReport*> latest;
    for (const CFleetReport* report : ordered)
        latest[report->strId] = report;
    AddLatest(latest, summary);
    AddDays(ordered, summary);
    return summary;
}

void PrintFleetSummary(const CFleetSummary& summary, std::FILE* out) {
    if (summary.nReports == 0) {
        std::fprintf(out, "No report request in the logs: no machine has reported.\n");
        PrintSkipped(out, summary.nSkipped);
        return;
    }
    std::fprintf(out, "%d machines, from %zu reports\n", summary.nMachines, summary.nReports);
    std::fprintf(out, "Now: %s (the newest report in the logs)\n\n",
                 FleetTimeText(summary.tNow, summary.nZoneMinutes).c_str());
    PrintCounts(out, summary);
    PrintStale(out, summary);
    PrintSkipped(out, summary.nSkipped);
}

int RunFleetStatus(const CFleetOptions& options, std::FILE* out, std::FILE* err) {
    CFleetStatus status;
    std::string why;
    for (const std::string& log : options.logs) {
        if (!status.ReadLog(log, why)) {
            std::fprintf(err, "kestrelsync-publish: %s\n", why.c_str());
            return 1;
        }
    }
    const CFleetSummary summary = status.Summarize(options.nStaleDays);
    PrintFleetSummary(summary, out);
    if (!options.strHtml.empty() && !WriteFleetPage(summary, options.strHtml, why)) {
        std::fprintf(err, "kestrelsync-publish: %s\n", why.c_str());
        return 1;
    }
    if (!options.strHtml.empty())
        std::fprintf(out, "Page written: %s\n", options.strHtml.c_str());
    return 0;
}
