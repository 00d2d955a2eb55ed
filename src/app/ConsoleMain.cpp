// The updater on POSIX: one update run from the settings file beside the program, shown on
// the terminal.
#include "app/ProgramDir.h"
#include "config/SpecialDirMap.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/SyncEngine.h"
#include "platform/Network.h"
#include "platform/Path.h"
#include "ui/console/ConsoleView.h"
#include "updatelist/StringUtil.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<CSyncEngine*> g_pRunningEngine{nullptr};

// Ctrl-C asks the run to stop, as the dialog's Stop button does.
extern "C" void OnInterrupt(int) {
    if (CSyncEngine* engine = g_pRunningEngine.load())
        engine->m_nRequestStopFlag = 1;
}

void PrintSummary(const CSyncEngine& engine, CConsoleView& view, double seconds) {
    std::string bytes;
    FormatWithCommas(std::to_string(engine.m_nDownloadedBytes), bytes);
    const int outcome = view.GetOutcome();
    const char* result = outcome == kSyncDoneComplete   ? "완료"
                         : outcome == kSyncDoneNoList   ? "리스트 파일 실패"
                         : outcome == kSyncDoneDeclined ? "중단 (실패 후 계속하지 않음)"
                                                        : "실행 실패";
    std::printf("\n결과: %s\n  확인한 파일: %d\n  내려받은 파일: %d (%s 바이트)\n  실패: %d\n"
                "  걸린 시간: %.1f초\n",
                result, static_cast<int>(engine.m_DownFileItemList.size()),
                engine.m_nDownloadedFiles, bytes.c_str(), view.GetErrorRowCount(), seconds);
}

int RunOnce(CSyncConfig& config, CSpecialDirMap& map) {
    CConsoleView view(stdout, stdin, ::isatty(STDOUT_FILENO) != 0, ::isatty(STDIN_FILENO) != 0);
    view.SetExpander([&map](DownFileItem& item) { map.ExpandSpecialDirPath(item); });
    SyncEnginePtr engine(new CSyncEngine);
    engine->m_pDlg = &view;
    if (engine->InitSyncEngine(&config) < 0) {
        std::fprintf(stderr, "다운로드 서버에 연결할 수 없습니다: %s:%d\n",
                     config.m_strServerIp.c_str(), config.m_nServerPort);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    g_pRunningEngine = engine.get();
    std::signal(SIGINT, OnInterrupt);
    engine->StartSyncThread();
    engine->m_pSyncThread->Join();
    std::signal(SIGINT, SIG_DFL);
    g_pRunningEngine = nullptr;
    view.Finish();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    PrintSummary(*engine, view, elapsed.count());
    return view.GetOutcome() == kSyncDoneComplete ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    InitProgramDir();
    CreateWorkDirectories();
    const std::string argument = argc > 1 ? argv[1] : "";
    const std::string prefix = argument.empty() ? "KestrelSync" : "KestrelSync_" + argument;
    g_pMyLog = new CMyLog(10, plat::JoinPath(g_szProgramDir, g_pszLogFolder), prefix);
    g_pMyLog->SetLogLevel(1);
    WriteLog(g_pMyLog, 2, "CVentoApp::InitInstance> Vento Start...");
    int nExit = 1;
    if (!plat::InitSocketLayer()) {
        std::fprintf(stderr, "Windows 소켓 초기화에 실패하였습니다.\n");
    } else {
        CSpecialDirMap map;
        map.LoadSpecialDirMap();
        CSyncConfig config(ConfigFilePath(g_szProgramDir));
        UpdateLinkNames(config);
        if (config.CheckConfig() != 1)
            std::fprintf(stderr, "환경 정보가 올바르지 않습니다. 확인하여 주세요...\n");
        else
            nExit = RunOnce(config, map);
    }
    WriteLog(g_pMyLog, 1, "CVentoApp::ExitInstance> Delete g_pMyLog.");
    delete g_pMyLog;
    g_pMyLog = nullptr;
    return nExit;
}
