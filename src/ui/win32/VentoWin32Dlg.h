// The main dialog on Windows: dialog template 102 with its controls, the settings dialog
// (template 130) and the About dialog (template 100).
#pragma once

#include "ui/VentoDlg.h"

#include <windows.h>

#include <commctrl.h>

class CVentoWin32Dlg : public CVentoDlg {
public:
    CVentoWin32Dlg(CVentoApp* pApp, const std::string& strArgument);
    ~CVentoWin32Dlg() override;

    // Runs the dialog modally until it ends.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The progress display, written from both threads: each call is a synchronous call to
    // the dialog's control, served by the user-interface thread.
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

    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    HIMAGELIST m_imageList = nullptr;
};
