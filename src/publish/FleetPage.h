// The fleet's summary (publish/FleetStatus.h) as one self-contained HTML page: inline CSS and
// inline SVG only, nothing fetched from anywhere, readable without scripts. Every text that
// came from a log is escaped: anyone who reaches the server writes the log's lines.
#pragma once

#include "publish/FleetStatus.h"

#include <string>

class CFleetPage {
public:
    explicit CFleetPage(const CFleetSummary& summary) : m_summary(summary) {}

    std::string Html() const;

private:
    // The day chart's drawing area, and its vertical scale.
    struct CPlot {
        double nWidth;
        double nHeight;
        int nTop;  // the machines at the top of the area
        int nStep; // between the scale's lines
    };

    std::string Numbers() const;
    std::string DayChart() const;
    std::string DayBars(const CPlot& plot) const;
    std::string DayAxis(const CPlot& plot) const;
    std::string Legend() const;
    std::string CountTables() const;
    std::string CauseChart() const;
    std::string StaleTable() const;

    const CFleetSummary& m_summary;
};

// text with &, <, >, ", ' and = written as character references.
std::string HtmlEscaped(const std::string& text);

// The page written to path through a temporary file beside it, renamed over path in one step.
// False, with why naming path, when it cannot be written.
bool WriteFleetPage(const CFleetSummary& summary, const std::string& path, std::string& why);
