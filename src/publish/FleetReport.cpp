#include "publish/FleetReport.h"

#include "publish/AccessLog.h"

#include <algorithm>
#include <tuple>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// text with every %XX taken back; false for a % without two hex digits.
bool PercentDecode(const std::string& text, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low < 0)
            return false;
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool IsDecimal(const std::string& text, std::size_t nMaxDigits) {
    return text.size() <= nMaxDigits && text.find_first_not_of("0123456789") == std::string::npos;
}

bool IsMachineId(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool IsPrintableAscii(const std::string& text) {
    return text.size() <= kMaxFleetText &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

// The report's parameters by name; each named once at most.
struct CReportQuery {
    static constexpr std::size_t kCount = 7;
    static constexpr std::array<const char*, kCount> kNames = {"id",    "serial", "result", "cause",
                                                               "bytes", "ms",     "v"};
    std::array<std::string, kCount> values;
    std::array<bool, kCount> given{};
};

bool ReadQuery(const std::string& query, CReportQuery& parsed) {
    std::string name;
    std::string value;
    for (std::size_t pos = 0; pos <= query.size();) {
        std::size_t end = query.find('&', pos);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t equals = std::min(pair.find('='), pair.size());
        if (!PercentDecode(pair.substr(0, equals), name) ||
            !PercentDecode(pair.substr(std::min(equals + 1, pair.size())), value))
            return false;
        const auto* known =
            std::find(CReportQuery::kNames.begin(), CReportQuery::kNames.end(), name);
        if (known == CReportQuery::kNames.end())
            continue;
        const std::size_t index = static_cast<std::size_t>(known - CReportQuery::kNames.begin());
        if (parsed.given[index])
            return false;
        parsed.given[index] = true;
        parsed.values[index] = value;
    }
    return true;
}

bool FillReport(const CReportQuery& query, CFleetReport& report) {
    const auto& v = query.values;
    const auto* result = std::find_if(kFleetResults.begin(), kFleetResults.end(),
                                      [&v](const char* name) { return v[2] == name; });
    if (!IsMachineId(v[0]) || !IsDecimal(v[1], 18) || result == kFleetResults.end() ||
        !IsPrintableAscii(v[3]) || !IsDecimal(v[4], 20) || !IsDecimal(v[5], 20) ||
        !IsPrintableAscii(v[6]))
        return false;
    report.strId = v[0];
    report.strSerial = v[1];
    report.nResult = static_cast<int>(result - kFleetResults.begin());
    report.strCause = v[3];
    report.strVersion = v[6];
    return true;
}

} // namespace

EFleetLine ReadFleetLine(const std::string& line, CFleetReport& report) {
    CAccessLogLine parsed;
    if (!ParseAccessLogLine(line, parsed))
        return EFleetLine::kMalformed;
    const std::size_t question = parsed.strTarget.find('?');
    const std::string path = parsed.strTarget.substr(0, question);
    static const std::string kReportPath = "/_report";
    if (parsed.strMethod != "GET" || path.size() < kReportPath.size() ||
        path.compare(path.size() - kReportPath.size(), kReportPath.size(), kReportPath) != 0)
        return EFleetLine::kOther;
    CReportQuery query;
    if (question == std::string::npos || !ReadQuery(parsed.strTarget.substr(question + 1), query) ||
        !FillReport(query, report))
        return EFleetLine::kMalformed;
    report.tTime = parsed.tTime;
    report.nZoneMinutes = parsed.nZoneMinutes;
    return EFleetLine::kReport;
}

bool IsLaterReport(const CFleetReport& a, const CFleetReport& b) {
    const auto key = [](const CFleetReport& r) {
        return std::make_tuple(r.tTime, r.strSerial.size(), std::cref(r.strSerial), r.nResult,
                               std::cref(r.strCause), std::cref(r.strVersion));
    };
    return key(a) > key(b);
}
