#include "engine/FleetReport.h"

#include "diag/MyLog.h"
#include "engine/RolloutTurn.h"
#include "transfer/SyncConnection.h"

#include <algorithm>
#include <cctype>

namespace {

// Each wait of the report (connection, answer) is bounded; together about 3 seconds.
constexpr int kConnectMs = 1500;
constexpr int kAnswerMs = 1500;

std::string QueryValue(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string value;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_')
            value += c;
        else
            value += std::string("%") + kHex[byte >> 4] + kHex[byte & 0x0F];
    }
    return value;
}

} // namespace

std::string FleetReportPath(const CSyncConfig& config, const std::string& identifier,
                            const CRunReport& report) {
    std::string version = report.strVersion;
    std::replace(version.begin(), version.end(), ',', '.');
    const std::int64_t nMs = std::max<std::int64_t>(report.nFinishedMs - report.nStartedMs, 0);
    return config.m_strDownloadBaseUrl + "/_report?id=" + QueryValue(identifier) +
           "&serial=" + (report.nSerial > 0 ? std::to_string(report.nSerial) : "") +
           "&result=" + QueryValue(report.strResult) + "&cause=" + QueryValue(report.strCause) +
           "&bytes=" + std::to_string(report.nBytes) + "&ms=" + std::to_string(nMs) +
           "&v=" + QueryValue(version);
}

void SendFleetReport(const CSyncConfig& config, const CRunReport& report,
                     std::shared_ptr<CServerList> pServers) {
    if (!config.m_bReport)
        return;
    const std::string identifier = WorkstationIdentifier(config);
    plat::HttpTimeouts timeouts;
    timeouts.nConnectMs = kConnectMs;
    timeouts.nReceiveMs = kAnswerMs;
    timeouts.nHeadMs = kAnswerMs;
    timeouts.nLowSpeedSeconds = 1;
    CSyncConnection connection;
    int nStatus = 0;
    try {
        if (connection.Open(config, timeouts, std::move(pServers)) == 0) {
            const auto request =
                connection.OpenRequest("GET", FleetReportPath(config, identifier, report));
            if (request != nullptr) {
                request->Send();
                request->QueryStatusCode(nStatus);
                request->Close();
            }
        }
    } catch (const plat::CHttpError& error) {
        WriteLog(g_pMyLog, 3, "CSyncEngine::SendFleetReport> Not Sent : %s", error.what());
        return;
    }
    WriteLog(g_pMyLog, nStatus == 0 ? 3 : 1, "CSyncEngine::SendFleetReport> Sent, Status = %d",
             nStatus);
}
