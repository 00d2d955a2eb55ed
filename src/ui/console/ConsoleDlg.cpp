#include "ui/console/ConsoleDlg.h"

#include "app/ProgramDir.h"
#include "updatelist/StringUtil.h"

#include <chrono>

CConsoleDlg::CConsoleDlg(CVentoApp* pApp, const std::string& strArgument, std::FILE* out,
                         std::FILE* in, bool bTerminal, bool bInteractive)
    : CQueuedDlg(pApp, strArgument), m_view(out, in, bTerminal, bInteractive), m_out(out) {}

CConsoleDlg::~CConsoleDlg() {
    EndRun();
}

void CConsoleDlg::PostSyncDone(int nOutcome) {
    m_view.PostSyncDone(nOutcome);
    CQueuedDlg::PostSyncDone(nOutcome);
}

bool CConsoleDlg::RunConfigDialog(CConfigFields& fields) {
    std::fprintf(m_out,
                 "설정 파일이 없습니다. 기본 설정으로 진행합니다: 서버 %s:%s, 기본 URL %s, "
                 "리스트 파일 %s (%s)\n",
                 fields.m_strServerIp.c_str(), fields.m_strServerPort.c_str(),
                 fields.m_strDownloadBaseUrl.c_str(), fields.m_strListFileName.c_str(),
                 ConfigFilePath(g_szProgramDir).c_str());
    // The console never edits settings; it names the values IT staff set, which no file changes.
    for (const std::string& key : fields.m_setPolicyKeys)
        std::fprintf(m_out, "%s: 정책으로 설정된 값입니다.\n", key.c_str());
    return false;
}

int CConsoleDlg::DoModal() {
    const auto start = std::chrono::steady_clock::now();
    const int nOutcome = RunQueue();
    m_view.Finish();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    PrintSummary();
    std::fprintf(m_out, "  걸린 시간: %.1f초\n", elapsed.count());
    return nOutcome;
}

void CConsoleDlg::PrintSummary() {
    const CSyncEngine* engine = GetSyncEngine();
    const int outcome = m_view.GetOutcome();
    const char* result = outcome == kSyncDoneComplete   ? "완료"
                         : outcome == kSyncDoneNoList   ? "리스트 파일 실패"
                         : outcome == kSyncDoneDeclined ? "중단 (실패 후 계속하지 않음)"
                                                        : "실행되지 않음";
    std::string bytes;
    FormatWithCommas(std::to_string(engine != nullptr ? engine->m_nDownloadedBytes.load() : 0),
                     bytes);
    std::fprintf(
        m_out, "\n결과: %s\n  확인한 파일: %d\n  내려받은 파일: %d (%s 바이트)\n  실패: %d\n",
        result, engine != nullptr ? static_cast<int>(engine->m_DownFileItemList.size()) : 0,
        engine != nullptr ? engine->m_nDownloadedFiles.load() : 0, bytes.c_str(),
        m_view.GetErrorRowCount());
}
