// The worker thread and the sequence of one run.
#include "engine/SyncEngine.h"

#include "app/ProgramDir.h"
#include "apply/Apply.h"
#include "diag/MyLog.h"
#include "engine/PlainRun.h"
#include "engine/ProxyRefusal.h"
#include "engine/RunEnd.h"
#include "engine/TrustedRun.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "platform/Path.h"
#include "platform/Thread.h"
#include "transfer/ServerList.h"
#include "trust/ListKeys.h"
#include "updatelist/ListFile.h"

#include <cstdio>
#include <cstdlib>

int CSyncEngine::StartSyncThread() {
    return StartWorkerThread([this] { SyncThreadMain(this); });
}

int CSyncEngine::SetListFileItem() {
    g_ListFileItem.m_strServerFile = m_pConfig->m_strListFileName;
    g_ListFileItem.m_strTargetFile =
        plat::JoinPath(m_pConfig->m_strLocalBaseDir, m_pConfig->m_strListFileName);
    g_ListFileItem.m_strLocalFile = m_pConfig->m_strListFileName;
    g_ListFileItem.m_nFileType = kFileTypeFile;
    g_ListFileItem.m_strFileType = "FILE";
    g_ListFileItem.m_nFileClass = kFileClassApp;
    g_ListFileItem.m_strFileClass = "APP";
    return 0;
}

int CSyncEngine::LoadListKey() {
    const std::string path = ListKeyFilePath(m_pConfig->m_strLocalBaseDir);
    std::string why;
    std::vector<plat::CP256PublicKey> keys;
    const int r = LoadListKeys(path, keys, why);
    const int nKeys = static_cast<int>(keys.size());
    // A broken key file never falls back to plain mode.
    if (r != kListKeysAbsent)
        m_pMode = std::make_unique<CTrustedRun>(std::move(keys));
    else
        m_pMode = std::make_unique<CPlainRun>();
    m_connection.m_pfnEncode = m_pMode->UrlEncoding();
    if (r == kListKeysInvalid) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::LoadListKey> Invalid Key File(%s)", path.c_str());
        WriteLog(g_pMyLog, 4, "CSyncEngine::LoadListKey> Reason = %s", why.c_str());
        return -1;
    }
    if (r == kListKeysLoaded)
        WriteLog(g_pMyLog, 2, "CSyncEngine::LoadListKey> Trusted Mode, %d Key(s) From %s", nKeys,
                 path.c_str());
    return r == kListKeysLoaded ? 1 : 0;
}

int CSyncEngine::FetchListFile() {
    return m_pMode->FetchListFile(*this);
}

void CSyncEngine::NoteListServer() {
    CServerList& servers = *m_connection.Servers();
    servers.SetListServer(m_connection.ServerIndex());
    if (servers.HasMirrors())
        WriteLog(g_pMyLog, 2, "CSyncEngine::DownloadAndMergeListFile> List File Server = %s",
                 servers.ListServerName().c_str());
}

int CSyncEngine::DownloadAndMergeListFile() {
    WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadAndMergeListFile> Start Download List File....");
    ClearDownFileItemList();
    View().SetStepText("서버로부터 리스트 파일 다운로드 중...");
    // A list file no server needs is refused before a byte of it is fetched.
    const long long nListSize = std::strtoll(g_ListFileItem.m_strFileSize.c_str(), nullptr, 10);
    if (nListSize > kListFileMaxBytes) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadAndMergeListFile> List File Too Large, Size = %lld, Limit = "
                 "%lld",
                 nListSize, static_cast<long long>(kListFileMaxBytes));
        return -1;
    }
    int r = FetchListFile();
    if (r == 0 || r == kListNotYetDue)
        NoteListServer();
    if (r == -3 || r == kListNotYetDue)
        return r;
    if (r < 0) {
        WriteLog(g_pMyLog, 1,
                 "CCobaltSyncEngine::DownloadAndMergeListFileFromServer> Fail To Get List File, "
                 "RetVal = %d",
                 r);
        return -1;
    }
    View().SetStepText("리스트 파일 내용 정리중...");
    r = GetFileListFileFromFile(m_DownFileItemList);
    if (r < 0) {
        WriteLog(g_pMyLog, 1,
                 "CCobaltSyncEngine::DownloadAndMergeListFileFromServer> Fail To Get Master File "
                 "List, RetVal = %d",
                 r);
        return -2;
    }
    return 0;
}

namespace {

const char* const kListRetryLater =
    "리스트 파일을 가져오는 도중에 오류가 발생했습니다.\r\n잠시후에 재시도 하여 주십시요.";

// The list could not be had: with START_ON_SERVER_FAILURE, an installation that is whole
// starts after 3 seconds when the server gave no answer or a 5xx one; true when it does.
bool StartsAnyway(CSyncEngine& engine) {
    const int nStatus = engine.m_connection.m_nLastHttpStatus;
    if (!engine.m_pConfig->m_bStartOnServerFailure || (nStatus != 0 && nStatus < 500) ||
        IsFileExist(ApplyJournalPath(engine.m_pConfig->m_strLocalBaseDir)))
        return false;
    WriteLog(g_pMyLog, 2,
             "SyncThreadMain> START_ON_SERVER_FAILURE = 1, The Application Starts In 3 Seconds");
    for (int i = 0; i < 30 && engine.m_nRequestStopFlag == 0; ++i)
        plat::SleepMs(100);
    return engine.m_nRequestStopFlag == 0;
}

// A proxy that refused the list's request is the run's cause.
void NoteListProxyRefusal(CSyncEngine& engine) {
    if (engine.m_nRequestStopFlag != 0)
        return;
    NoteProxyRefusal(*engine.m_pConfig, engine.m_connection, engine.m_runCause,
                     [&](const std::string& row) { engine.AddFormattedRow(kStatusError, row); });
}

// Ends a run that could not fetch the list file's information.
int EndWithoutListInfo(CSyncEngine& engine, int r) {
    NoteListProxyRefusal(engine);
    const std::string row =
        "다운로드 대상 리스트 파일 정보 추출 실패(에러코드 : " + std::to_string(r) + ")";
    engine.AddFormattedRow(kStatusError, row);
    engine.m_runCause.Fail("list-download",
                           "the list's information: code " + std::to_string(r) + ", status " +
                               std::to_string(engine.m_connection.m_nLastHttpStatus));
    if (StartsAnyway(engine))
        return kSyncDoneComplete;
    const std::string message =
        std::string("리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다.\n") +
        "더이상 진행하지 못하고 종료합니다.\n" +
        "긴급 상황인 경우, 아래의 메뉴를 선택하여 프로그램을 기동하십시요.\n" +
        "메뉴 경로 : 프로그램->" + g_pszMenuFolder + "->" + g_szAppDisplayName +
        " - 다운로드 장애시";
    engine.View().ShowMessageBox(message, "오류", kMbOk | kMbIconError);
    WriteLog(g_pMyLog, 1, "SyncThreadMain> Exit Thread Main Function By Failure...");
    return kSyncDoneNoList;
}

// Ends a run before any request: the key file of trusted mode is there but unusable.
int EndWithInvalidKeyFile(CSyncEngine& engine) {
    engine.AddFormattedRow(kStatusError, "서명 키 파일 오류");
    engine.m_runCause.Fail("key-file", ListKeyFilePath(engine.m_pConfig->m_strLocalBaseDir));
    engine.View().SetStepText("");
    WriteLog(g_pMyLog, 1, "SyncThreadMain> Exit Thread Main Function By Failure...");
    return kSyncDoneNoList;
}

// Ends a run whose signed list was refused: nothing was downloaded, deleted or registered.
int EndWithRefusedList(CSyncEngine& engine) {
    engine.AddFormattedRow(kStatusError, "리스트 파일 서명 확인 실패");
    engine.View().ShowMessageBox(kListRetryLater, "오류", kMbOk | kMbIconError);
    engine.View().SetStepText("");
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Exit Thread Main Function By Failure.");
    return kSyncDoneNoList;
}

// Ends a run that could not download or read the list file.
int EndWithoutList(CSyncEngine& engine, int r) {
    NoteListProxyRefusal(engine);
    engine.AddFormattedRow(kStatusError, "다운로드 대상 리스트 파일 다운로드 실패(에러코드 : " +
                                             std::to_string(r) + ")");
    engine.m_runCause.Fail("list-download",
                           "the list: code " + std::to_string(r) + ", status " +
                               std::to_string(engine.m_connection.m_nLastHttpStatus));
    if (StartsAnyway(engine))
        return kSyncDoneComplete;
    engine.View().ShowMessageBox(kListRetryLater, "오류", kMbOk | kMbIconError);
    engine.View().SetStepText("");
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Exit Thread Main Function By Failure.");
    return kSyncDoneNoList;
}

// Ends a run whose list is a phased release that this workstation takes later: it keeps the
// release it has and starts the application as after a successful run.
int EndNotYetDue(CSyncEngine& engine) {
    plat::LocalTime local;
    const std::int64_t tTurn = engine.m_pMode->TurnComesAt();
    char when[32] = "?";
    if (plat::LocalTimeFromEpoch(tTurn, local))
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", local.nYear, local.nMonth,
                      local.nDay, local.nHour, local.nMinute);
    engine.View().SetStepText("");
    engine.AddFormattedRow(kStatusNormal,
                           std::string("새 버전은 ") + when + " 이후에 이 PC에 설치됩니다");
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Hide CobaltSync Dialog");
    engine.View().HideWindow();
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Exit Thread Main Function By Normal....");
    return kSyncDoneComplete;
}

// The post-install steps in their order; false when one that counts failed.
bool RunPostInstallSteps(CSyncEngine& engine) {
    bool bSuccess = true;
    engine.HandleExecuteTypeFiles();
    engine.HandleRegistryTypeFiles();
    if (engine.HandleRegisterTypeFilesByRegSvr32() < 0)
        bSuccess = false;
    engine.HandleDeleteTypeFiles();
    if (engine.HandleFontTypeFiles() < 0)
        bSuccess = false;
    if (!bSuccess)
        engine.m_runCause.Fail("post-install", "a registration or a font failed");
    return bSuccess;
}

// The outcome after a run whose steps went through, asking the user after failures.
int DecideOutcome(CSyncEngine& engine, bool bAllSequenceSuccess) {
    if (bAllSequenceSuccess) {
        WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Hide CobaltSync Dialog");
        engine.View().HideWindow();
        engine.View().AddStatusRow(kStatusNormal, "프로그램 다운로드 완료");
        return kSyncDoneComplete;
    }
    engine.View().AddStatusRow(kStatusError, "일부 프로그램 파일 다운로드 실패");
    const std::string message =
        std::string("모든 다운로드 과정을 완료했지만,\n\n") +
        "일부 다운로드에 실패한 파일들이 있습니다.\n\n" + "계속 진행하시겠습니까?\n\n" +
        "계속 진행하실 경우 시스템이 정상적으로 동작하지 않을수도 있습니다.";
    const int answer = engine.View().ShowMessageBox(message, "오류 확인",
                                                    kMbYesNo | kMbIconQuestion | kMbDefButton2);
    if (answer == kIdYes) {
        engine.View().HideWindow();
        return kSyncDoneComplete;
    }
    return kSyncDoneDeclined;
}

// The steps of a run after the system information: the outcome to report.
int RunSequence(CSyncEngine& engine) {
    LogPolicyValues(*engine.m_pConfig);
    LogMirrorsSetting(*engine.m_pConfig);
    engine.SetListFileItem();
    if (engine.LoadListKey() < 0)
        return EndWithInvalidKeyFile(engine);
    engine.m_pMode->Recover(engine);
    int r = engine.GetItemServerFileInfo(g_ListFileItem);
    if (r < 0)
        return EndWithoutListInfo(engine, r);
    r = engine.DownloadAndMergeListFile();
    if (r == -3)
        return EndWithRefusedList(engine);
    if (r == kListNotYetDue)
        return EndNotYetDue(engine);
    if (r < 0)
        return EndWithoutList(engine, r);

    bool bAllSequenceSuccess = engine.DownloadFilesInListFromServer() >= 1;
    if (!RunPostInstallSteps(engine))
        bAllSequenceSuccess = false;
    engine.View().SetStepText("");
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Register Download Info Complete....");
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> nAllSequenceSuccessFlag = %d",
             bAllSequenceSuccess ? 1 : 0);
    const int nOutcome = DecideOutcome(engine, bAllSequenceSuccess);
    WriteLog(g_pMyLog, 1, "CobaltSyncThreadMain> Exit Thread Main Function By Normal....");
    return nOutcome;
}

} // namespace

int SyncThreadMain(CSyncEngine* pEngine) {
    CSyncEngine& engine = *pEngine;
    WriteLog(g_pMyLog, 1, "SyncThreadMain> Start Thread Main Function, Set m_nNowRunningFlag = 1");
    const std::int64_t nStartedMs = UtcNowMs();
    engine.m_nNowRunningFlag = 1;
    engine.View().ClearStatusList();
    if (engine.GetAndDisplaySystemInfo() < 0) {
        engine.m_runCause.Fail("system-info", "the system information could not be read");
        EndRunWithReport(engine, nStartedMs, -1);
        engine.m_nNowRunningFlag = 0;
        return -1;
    }
    const int nOutcome = RunSequence(engine);
    EndRunWithReport(engine, nStartedMs, nOutcome);
    engine.View().PostSyncDone(nOutcome);
    engine.m_nNowRunningFlag = 0;
    return nOutcome == kSyncDoneNoList ? 1 : 0;
}
