#include "engine/RunReport.h"

#include "app/ProgramDir.h"
#include "diag/MyLog.h"
#include "platform/EventLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/SignedList.h"

#include <nlohmann/json.hpp>

#include <chrono>

namespace {

// "YYYY-MM-DDThh:mm:ss.mmmZ".
std::string IsoTime(std::int64_t nMs) {
    const std::string digits = UtcDigitsFromTime(nMs / 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%.4s-%.2s-%.2sT%.2s:%.2s:%.2s.%03dZ", digits.c_str(),
                  digits.c_str() + 4, digits.c_str() + 6, digits.c_str() + 8, digits.c_str() + 10,
                  digits.c_str() + 12, static_cast<int>(nMs % 1000));
    return text;
}

// The event's text: the same facts as the file, one per line.
std::string EventText(const CRunReport& report) {
    std::string text = "KestrelSync " + report.strVersion + ": " + report.strResult;
    if (!report.strCause.empty())
        text += " (" + report.strCause + ": " + report.strDetail + ")";
    text += "\nserial: " + (report.nSerial > 0 ? std::to_string(report.nSerial) : "none");
    text +=
        "\nfiles: " + std::to_string(report.nFiles) + ", bytes: " + std::to_string(report.nBytes);
    text +=
        "\nstarted: " + IsoTime(report.nStartedMs) + ", finished: " + IsoTime(report.nFinishedMs);
    return text;
}

} // namespace

void CRunCause::Fail(const char* pszCause, const std::string& detail) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_strCause.empty())
        return;
    m_strCause = pszCause;
    m_strDetail = detail;
}

bool CRunCause::Get(std::string& cause, std::string& detail) const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    cause = m_strCause;
    detail = m_strDetail;
    return !cause.empty();
}

void CRunCause::Clear() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_strCause.clear();
    m_strDetail.clear();
}

int ExitStatusOf(const std::string& result) {
    if (result == kResultUpdated || result == kResultCurrent)
        return 0;
    return result == kResultNoRun ? 2 : 1;
}

std::string RunReportJson(const CRunReport& report) {
    nlohmann::ordered_json json;
    json["result"] = report.strResult;
    json["serial"] = report.nSerial > 0 ? nlohmann::ordered_json(report.nSerial) : nullptr;
    json["files"] = report.nFiles;
    json["bytes"] = report.nBytes;
    json["cause"] = report.strCause.empty() ? nlohmann::ordered_json(nullptr)
                                            : nlohmann::ordered_json(report.strCause);
    json["detail"] = report.strDetail;
    json["started"] = IsoTime(report.nStartedMs);
    json["finished"] = IsoTime(report.nFinishedMs);
    json["version"] = report.strVersion;
    json["server"] = report.strServer.empty() ? nlohmann::ordered_json(nullptr)
                                              : nlohmann::ordered_json(report.strServer);
    // Text that is not UTF-8 (a system message in the ANSI code page) is replaced, never thrown.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void PublishRunReport(const std::string& programFolder, const CRunReport& report) {
    const std::string folder = plat::JoinPath(programFolder, g_pszLogFolder);
    const std::string path = plat::JoinPath(folder, "last-run.json");
    plat::CreateFolderChain(folder);
    if (!plat::WriteWholeFile(path, RunReportJson(report), false))
        WriteLog(g_pMyLog, 3, "CSyncEngine::PublishRunReport> %s Not Written, ErrCode = %d",
                 path.c_str(), plat::LastErrorCode());
    const plat::EventKind kind =
        report.strResult == kResultFailed ? plat::EventKind::Error
        : report.strResult == kResultNoRun || report.strResult == kResultStopped
            ? plat::EventKind::Warning
            : plat::EventKind::Information;
    if (!plat::ReportSystemEvent("KestrelSync", kind, ExitStatusOf(report.strResult) + 1000,
                                 EventText(report)))
        WriteLog(g_pMyLog, 3, "CSyncEngine::PublishRunReport> Event Not Reported, ErrCode = %d",
                 plat::LastErrorCode());
}

std::int64_t UtcNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
