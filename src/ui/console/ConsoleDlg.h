// The main dialog on a terminal (POSIX): the same behaviour as the Windows dialog, with the
// console view for the progress display (see CQueuedDlg for how it runs).
#pragma once

#include "ui/QueuedDlg.h"
#include "ui/console/ConsoleView.h"

class CConsoleDlg : public CQueuedDlg {
public:
    CConsoleDlg(CVentoApp* pApp, const std::string& strArgument, std::FILE* out, std::FILE* in,
                bool bTerminal, bool bInteractive);
    ~CConsoleDlg() override;

    // Runs the dialog until it ends; returns the last run's outcome, or -1 when none ended.
    int DoModal();

    void SetStepText(const std::string& text) override { m_view.SetStepText(text); }
    void SetTotalText(const std::string& text) override { m_view.SetTotalText(text); }
    void SetFileNameText(const std::string& text) override { m_view.SetFileNameText(text); }
    void SetTotalRange(int nLow, int nHigh) override { m_view.SetTotalRange(nLow, nHigh); }
    void SetTotalPos(int nPos) override { m_view.SetTotalPos(nPos); }
    void SetFileRange(int nLow, int nHigh) override { m_view.SetFileRange(nLow, nHigh); }
    void SetFilePos(int nPos) override { m_view.SetFilePos(nPos); }
    void ClearStatusList() override { m_view.ClearStatusList(); }
    void AddStatusRow(int nKind, const std::string& text) override {
        m_view.AddStatusRow(nKind, text);
    }
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned nType) override {
        return m_view.ShowMessageBox(text, caption, nType);
    }
    void HideWindow() override {}
    void PostSyncDone(int nOutcome) override;

protected:
    bool RunConfigDialog(CConfigFields& fields) override;

private:
    void PrintSummary();

    CConsoleView m_view;
    std::FILE* m_out;
};
