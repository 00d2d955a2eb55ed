#include "publish/FleetPage.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <numeric>

namespace {

// Releases newest first; older releases and machines without one in greys.
const char* const kSeriesColours[] = {"#1f6fb4", "#2e9e5b", "#e08a1e", "#8457b8",
                                      "#c2417a", "#17a2b8", "#8c6d3f", "#b8b82e"};
const char* const kOlderColour = "#9aa3ad";
const char* const kNoReleaseColour = "#d5dae0";

const char* const kStyle =
    "body{font:14px/1.45 system-ui,-apple-system,'Segoe UI',Roboto,sans-serif;color:#1d2733;"
    "background:#fff;max-width:1100px;margin:24px auto;padding:0 16px}"
    "h1{font-size:22px;margin:0 0 2px}h2{font-size:17px;margin:30px 0 8px}"
    ".sub{color:#5b6775;margin:0 0 18px}"
    ".cards{display:flex;gap:12px;flex-wrap:wrap}"
    ".card{border:1px solid #d8dee6;border-radius:6px;padding:10px 16px;min-width:200px}"
    ".card b{display:block;font-size:26px;line-height:1.2}.card span{color:#5b6775}"
    ".tables{display:flex;gap:56px;flex-wrap:wrap;align-items:flex-start}"
    "table{border-collapse:collapse}th,td{padding:3px 14px 3px 0;text-align:left}"
    "th{border-bottom:1px solid #c9d1da;font-weight:600}.n{text-align:right}"
    ".mono{font-family:ui-monospace,'DejaVu Sans Mono',Consolas,monospace}"
    ".legend{margin:6px 0 0 44px}.legend span{display:inline-block;margin-right:16px}"
    ".legend i{display:inline-block;width:12px;height:12px;margin-right:6px;"
    "vertical-align:-1px;border-radius:2px}"
    ".bars td{padding:3px 10px 3px 0}.track{width:560px}"
    ".bar{background:#c0392b;height:16px;border-radius:2px;min-width:2px}"
    "svg{display:block}svg text{font-size:11px;fill:#5b6775}.none{color:#5b6775}";

std::string Number(double n) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", n);
    return text;
}

std::string Share(int n, int nTotal) {
    return Number(nTotal > 0 ? 100.0 * n / nTotal : 0.0) + "%";
}

std::string SeriesColour(const std::vector<std::string>& series, std::size_t index) {
    if (series[index] == kOlderSeries)
        return kOlderColour;
    if (series[index] == kNoRelease)
        return kNoReleaseColour;
    return kSeriesColours[index % (sizeof kSeriesColours / sizeof kSeriesColours[0])];
}

std::string SeriesLabel(const std::string& name) {
    if (name == kOlderSeries)
        return "older releases";
    if (name == kNoRelease)
        return "no release";
    return HtmlEscaped(name);
}

// A step of 1, 2 or 5 times a power of ten that cuts 0..nMax into about five parts.
int AxisStep(int nMax) {
    int nStep = 1;
    while (nStep * 5 < nMax) {
        if (nStep * 2 * 5 >= nMax)
            return nStep * 2;
        if (nStep * 5 * 5 >= nMax)
            return nStep * 5;
        nStep *= 10;
    }
    return nStep;
}

int DayTotal(const CFleetDay& day) {
    return std::accumulate(day.machines.begin(), day.machines.end(), 0);
}

std::string Card(const std::string& value, const std::string& label) {
    return "<div class=\"card\"><b>" + value + "</b><span>" + label + "</span></div>";
}

std::string Cell(const std::string& text, const char* cls = nullptr) {
    return cls == nullptr ? "<td>" + text + "</td>"
                          : "<td class=\"" + std::string(cls) + "\">" + text + "</td>";
}

} // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        case '=':
            escaped += "&#61;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string CFleetPage::Html() const {
    const CFleetSummary& s = m_summary;
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\">"
                       "<title>KestrelSync fleet</title><style>" +
                       std::string(kStyle) + "</style></head><body>\n<h1>KestrelSync fleet</h1>\n";
    if (s.nReports == 0)
        return html + "<p class=\"sub\">No report request in the logs: no machine has reported (" +
               std::to_string(s.nSkipped) + " lines skipped).</p>\n</body></html>\n";
    html += "<p class=\"sub\">Now: " + FleetTimeText(s.tNow, s.nZoneMinutes) +
            " (the newest report in the logs) &middot; " + std::to_string(s.nReports) +
            " reports &middot; " + std::to_string(s.nSkipped) +
            (s.nSkipped == 1 ? " line" : " lines") +
            " skipped: not a report request in the combined format</p>\n";
    html += Numbers() + DayChart() + CountTables() + CauseChart() + StaleTable();
    return html + "</body></html>\n";
}

std::string CFleetPage::Numbers() const {
    const CFleetSummary& s = m_summary;
    std::string html = "<div class=\"cards\">" + Card(std::to_string(s.nMachines), "machines");
    if (!s.serials.empty() && !s.serials.front().strName.empty())
        html += Card(std::to_string(s.serials.front().nMachines) + " <small>(" +
                         Share(s.serials.front().nMachines, s.nMachines) + ")</small>",
                     "on the newest release, " + HtmlEscaped(s.serials.front().strName));
    int nFailing = 0;
    for (std::size_t r = 0; r < kFleetResults.size(); ++r)
        nFailing += IsFleetFailure(static_cast<int>(r)) ? s.results[r] : 0;
    html += Card(std::to_string(nFailing), "latest run failed or stopped");
    html += Card(std::to_string(s.stale.size()),
                 "not seen for " + std::to_string(s.nStaleDays) + " days or more");
    return html + "</div>\n";
}

std::string CFleetPage::DayChart() const {
    const CFleetSummary& s = m_summary;
    const double nWidth = 1068, nHeight = 300, nLeft = 44, nBottom = 26, nTopGap = 10;
    int nMax = 1;
    for (const CFleetDay& day : s.days)
        nMax = std::max(nMax, DayTotal(day));
    const int nStep = AxisStep(nMax);
    const int nTop = (nMax + nStep - 1) / nStep * nStep;
    const CPlot plot = {nWidth - nLeft - 8, nHeight - nBottom - nTopGap, nTop, nStep};
    std::string html = "<h2>Machines by release, at the end of each day (" +
                       s.days.front().strDate + " to " + s.days.back().strDate + ")</h2>\n";
    html += "<svg viewBox=\"0 0 " + Number(nWidth) + " " + Number(nHeight) +
            "\" width=\"100%\" role=\"img\" aria-label=\"Machines by release per day\">"
            "<g transform=\"translate(" +
            Number(nLeft) + "," + Number(nTopGap) + ")\">";
    html += DayAxis(plot) + DayBars(plot);
    return html + "</g></svg>\n" + Legend();
}

std::string CFleetPage::DayAxis(const CPlot& plot) const {
    std::string svg;
    for (int v = 0; v <= plot.nTop; v += plot.nStep) {
        const std::string y = Number(plot.nHeight - plot.nHeight * v / plot.nTop);
        svg += "<line x1=\"0\" x2=\"" + Number(plot.nWidth) + "\" y1=\"" + y + "\" y2=\"" + y +
               "\" stroke=\"" + (v == 0 ? "#8a949f" : "#e6eaef") + "\"/>";
        svg += "<text x=\"-6\" y=\"" + y + "\" dy=\"4\" text-anchor=\"end\">" + std::to_string(v) +
               "</text>";
    }
    const std::size_t nDays = m_summary.days.size();
    const double nBar = plot.nWidth / static_cast<double>(nDays);
    const std::size_t nEvery = std::max<std::size_t>(1, (nDays + 13) / 14);
    for (std::size_t i = (nDays - 1) % nEvery; i < nDays; i += nEvery)
        svg += "<text x=\"" + Number(nBar * (static_cast<double>(i) + 0.5)) + "\" y=\"" +
               Number(plot.nHeight + 17) + "\" text-anchor=\"middle\">" +
               m_summary.days[i].strDate.substr(5) + "</text>";
    return svg;
}

std::string CFleetPage::DayBars(const CPlot& plot) const {
    const std::vector<std::string>& series = m_summary.series;
    const double nBar = plot.nWidth / static_cast<double>(m_summary.days.size());
    const double nGap = nBar > 6 ? nBar * 0.18 : 0;
    std::string svg;
    for (std::size_t i = 0; i < m_summary.days.size(); ++i) {
        const CFleetDay& day = m_summary.days[i];
        std::string title = day.strDate + ": " + std::to_string(DayTotal(day)) + " machines";
        std::string rects;
        double y = plot.nHeight;
        for (std::size_t k = 0; k < series.size(); ++k) {
            if (day.machines[k] == 0)
                continue;
            const double h = plot.nHeight * day.machines[k] / plot.nTop;
            y -= h;
            rects += "<rect x=\"" + Number(nBar * static_cast<double>(i) + nGap / 2) + "\" y=\"" +
                     Number(y) + "\" width=\"" + Number(nBar - nGap) + "\" height=\"" + Number(h) +
                     "\" fill=\"" + SeriesColour(series, k) + "\"/>";
            title += ", " + std::to_string(day.machines[k]) + " " + SeriesLabel(series[k]);
        }
        svg += "<g><title>" + title + "</title>" + rects + "</g>";
    }
    return svg;
}

std::string CFleetPage::Legend() const {
    std::string html = "<div class=\"legend\">";
    for (std::size_t k = 0; k < m_summary.series.size(); ++k)
        html += "<span><i style=\"background:" + SeriesColour(m_summary.series, k) + "\"></i>" +
                SeriesLabel(m_summary.series[k]) + "</span>";
    return html + "</div>\n";
}

std::string CFleetPage::CountTables() const {
    const CFleetSummary& s = m_summary;
    std::string html = "<div class=\"tables\"><div><h2>Releases</h2><table><tr><th>Release</th>"
                       "<th class=\"n\">Machines</th><th class=\"n\">Share</th></tr>";
    for (const CFleetCount& serial : s.serials)
        html += "<tr>" +
                Cell(serial.strName.empty() ? "no release" : HtmlEscaped(serial.strName), "mono") +
                Cell(std::to_string(serial.nMachines), "n") +
                Cell(Share(serial.nMachines, s.nMachines), "n") + "</tr>";
    html += "</table></div><div><h2>Latest results</h2><table><tr><th>Result</th>"
            "<th class=\"n\">Machines</th></tr>";
    for (std::size_t r = 0; r < kFleetResults.size(); ++r)
        html += "<tr>" + Cell(kFleetResults[r]) + Cell(std::to_string(s.results[r]), "n") + "</tr>";
    return html + "</table></div></div>\n";
}

std::string CFleetPage::CauseChart() const {
    std::string html = "<h2>Failures by cause (latest run failed or stopped)</h2>\n";
    if (m_summary.causes.empty())
        return html + "<p class=\"none\">No machine's latest run failed or was stopped.</p>\n";
    const int nMax = m_summary.causes.front().nMachines;
    html += "<table class=\"bars\">";
    for (const CFleetCount& cause : m_summary.causes)
        html += "<tr>" +
                Cell(cause.strName.empty() ? "(none given)" : HtmlEscaped(cause.strName), "mono") +
                "<td class=\"track\"><div class=\"bar\" style=\"width:" +
                Number(100.0 * cause.nMachines / nMax) + "%\"></div></td>" +
                Cell(std::to_string(cause.nMachines), "n") + "</tr>";
    return html + "</table>\n";
}

std::string CFleetPage::StaleTable() const {
    const CFleetSummary& s = m_summary;
    std::string html = "<h2>Not seen for " + std::to_string(s.nStaleDays) + " days or more (" +
                       std::to_string(s.stale.size()) + ")</h2>\n";
    if (s.stale.empty())
        return html + "<p class=\"none\">Every machine has reported within that time.</p>\n";
    html += "<table><tr><th>Machine</th><th>Release</th><th>Last seen</th><th>Result</th></tr>";
    for (const CFleetReport& report : s.stale)
        html +=
            "<tr>" + Cell(HtmlEscaped(report.strId), "mono") +
            Cell(report.strSerial.empty() ? "no release" : HtmlEscaped(report.strSerial), "mono") +
            Cell(FleetTimeText(report.tTime, s.nZoneMinutes)) +
            Cell(kFleetResults[static_cast<std::size_t>(report.nResult)]) + "</tr>";
    return html + "</table>\n";
}

bool WriteFleetPage(const CFleetSummary& summary, const std::string& path, std::string& why) {
    if (plat::WriteWholeFile(path, CFleetPage(summary).Html(), true))
        return true;
    why = "cannot write " + path + ": " + plat::SystemErrorTextOf(plat::LastErrorCode());
    return false;
}
