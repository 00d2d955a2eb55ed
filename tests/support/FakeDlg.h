// The main dialog's behaviour with a recording window, for tests.
#pragma once

#include "support/FakeView.h"
#include "ui/VentoDlg.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kstest {

class FakeDlg : public CVentoDlg {
public:
    FakeDlg(CVentoApp* pApp, const std::string& argument) : CVentoDlg(pApp, argument) {}
    ~FakeDlg() override { EndRun(); }

    FakeView view; // the progress display and message boxes
    std::function<bool(CConfigFields&)> onConfig = [](CConfigFields&) { return false; };

    void SetStepText(const std::string& text) override { view.SetStepText(text); }
    void SetTotalText(const std::string& text) override { view.SetTotalText(text); }
    void SetFileNameText(const std::string& text) override { view.SetFileNameText(text); }
    void SetTotalRange(int nLow, int nHigh) override { view.SetTotalRange(nLow, nHigh); }
    void SetTotalPos(int nPos) override { view.SetTotalPos(nPos); }
    void SetFileRange(int nLow, int nHigh) override { view.SetFileRange(nLow, nHigh); }
    void SetFilePos(int nPos) override { view.SetFilePos(nPos); }
    void ClearStatusList() override { view.ClearStatusList(); }
    void AddStatusRow(int nKind, const std::string& text) override {
        view.AddStatusRow(nKind, text);
    }
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       unsigned nType) override {
        return view.ShowMessageBox(text, caption, nType);
    }
    void HideWindow() override { view.HideWindow(); }
    void PostSyncDone(int nOutcome) override { view.PostSyncDone(nOutcome); }

    // "start+", "stop-", ... in call order; posted messages as numbers; the fields each
    // settings dialog was opened with.
    std::vector<std::string> Buttons() const;
    std::vector<int> Posted() const;
    std::vector<CConfigFields> ConfigDialogs() const;
    // Waits (bounded) for the worker to report the end of its run; its outcome or -1.
    int WaitForSyncDone() const;

protected:
    void EnableButton(int nId, bool bEnable) override;
    void PostDialogMessage(int nMessage) override;
    bool RunConfigDialog(CConfigFields& fields) override;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_buttons;
    std::vector<int> m_posted;
    std::vector<CConfigFields> m_configDialogs;
};

} // namespace kstest
