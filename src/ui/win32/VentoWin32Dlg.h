// The main dialog on Windows: dialog template 102 with its controls, the settings dialog
// (template 130) and the About dialog (template 100).
#pragma once

#include "ui/VentoDlg.h"

#include <windows.h>

#include <commctrl.h>

#include <mutex>

class CVentoWin32Dlg : public CVentoDlg {
public:
    CVentoWin32Dlg(CVentoApp* pApp, const std::string& strArgument);
    ~CVentoWin32Dlg() override;

    // Runs the dialog modally until it ends.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The progress display, written from both threads. The step text, the status list, the
    // message boxes and the window itself are synchronous calls to the dialog's controls,
    // served by the user-interface thread. The two bars and the overall and file texts change
    // many times a second: the worker leaves their newest values here, and the
    // user-interface thread shows them every 50 ms, and before every other call of the
    // worker (so the screen never shows them out of order with a row or a box).
    void SetStepText(const std::string& text) override;
    void SetTotalText(const std::string& text) override;
    void SetFileNameText(const std::string& text) override;
    void SetTotalRange(int nLow, int nHigh) override;
    void SetTotalPos(int nPos) override;
    void SetFileRange(int nLow, int nHigh) override;
    void SetFilePos(int nPos) override;
    void ClearStatusList() override;
    void AddStatusRow(int nKind, const std::string& text) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned nType) override;
    void HideWindow() override;
    void PostSyncDone(int nOutcome) override;

protected:
    void EnableButton(int nId, bool bEnable) override;
    void PostDialogMessage(int nMessage) override;
    bool RunConfigDialog(CConfigFields& fields) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void SetUpStatusList();
    void OnPaint();
    void End(INT_PTR result);
    void SetText(int nId, const std::string& text);
    // Shows the progress values the worker left (on the user-interface thread).
    void ShowProgress();
    // From the worker: lets the user-interface thread show them now, before another call.
    void FlushProgress();
    template <typename Assign>
    void ChangeProgress(unsigned nChanged, Assign assign);
    bool OnUiThread() const { return ::GetCurrentThreadId() == m_nUiThread; }

    // The values of the bars and texts not shown yet.
    struct CProgress {
        std::string strTotal;
        std::string strFile;
        int nTotalLow = 0;
        int nTotalHigh = 100;
        int nTotalPos = 0;
        int nFileLow = 0;
        int nFileHigh = 100;
        int nFilePos = 0;
        unsigned nChanged = 0; // kChanged... bits
    };
    std::mutex m_progressMutex;
    CProgress m_progress;
    DWORD m_nUiThread = 0;

    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HIMAGELIST m_imageList = nullptr;
};
