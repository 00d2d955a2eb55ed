#include "engine/RunEnd.h"

#include "app/ProgramDir.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/FleetReport.h"
#include "engine/SyncEngine.h"

const char* RunResultOf(bool bStopped, bool bFailed, int nOutcome, int nDownloadedFiles) {
    if (nOutcome < 0)
        return kResultNoRun;
    if (bStopped)
        return kResultStopped;
    if (bFailed || nOutcome != kSyncDoneComplete)
        return kResultFailed;
    return nDownloadedFiles > 0 ? kResultUpdated : kResultCurrent;
}

void EndRunWithReport(CSyncEngine& engine, std::int64_t nStartedMs, int nOutcome) {
    CRunReport report;
    const bool bFailed = engine.m_runCause.Get(report.strCause, report.strDetail);
    report.nFiles = engine.m_nDownloadedFiles;
    report.strResult =
        RunResultOf(engine.m_nRequestStopFlag != 0, bFailed, nOutcome, report.nFiles);
    report.nBytes = engine.m_nDownloadedBytes;
    report.nSerial = ReadReleaseSerial(engine.m_pConfig->m_strIniPath);
    report.nStartedMs = nStartedMs;
    report.nFinishedMs = UtcNowMs();
    report.strVersion = g_szVersion;
    if (engine.m_connection.Servers() != nullptr)
        report.strServer = engine.m_connection.Servers()->ListServerName();
    WriteLog(g_pMyLog, 2, "SyncThreadMain> Result = %s, Cause = %s", report.strResult.c_str(),
             report.strCause.empty() ? "none" : report.strCause.c_str());
    PublishRunReport(engine.m_pConfig->m_strLocalBaseDir, report);
    SendFleetReport(*engine.m_pConfig, report, engine.m_connection.Servers());
    engine.m_runReport = report;
    engine.m_bRunReported = true;
}
