// The dialog of an unattended run ("--unattended"): no window, no message box, no prompt. It
// runs as the terminal's dialog does (the self-update of a copy started with "1", then the
// run), writes its status rows to the log, answers every question as a failure ("continue?"
// is No, a notice is OK) and never starts the application.
#pragma once

#include "ui/QueuedDlg.h"

class CUnattendedDlg : public CQueuedDlg {
public:
    using CQueuedDlg::CQueuedDlg;
    ~CUnattendedDlg() override { EndRun(); }

    void SetStepText(const std::string&) override {}
    void SetTotalText(const std::string&) override {}
    void SetFileNameText(const std::string&) override {}
    void SetTotalRange(int, int) override {}
    void SetTotalPos(int) override {}
    void SetFileRange(int, int) override {}
    void SetFilePos(int) override {}
    void ClearStatusList() override {}
    void AddStatusRow(int nKind, const std::string& text) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned nType) override;
    void HideWindow() override {}

protected:
    bool RunConfigDialog(CConfigFields&) override { return false; }
    bool StartsApplication() const override { return false; }
};
