// A view that records what a run shows, for the engine tests. Thread-safe: the engine's
// worker writes into it.
#pragma once

#include "ui/SyncView.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kstest {

struct MessageBoxSeen {
    std::string strText;
    std::string strCaption;
    unsigned nType = 0;
};

class FakeView : public CSyncView {
public:
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
    void ExpandSpecialDirPath(DownFileItem& item) override;

    // Every call in order, as "name:argument" texts (e.g. "step:...", "filepos:37").
    std::vector<std::string> Calls() const;
    std::vector<std::pair<int, std::string>> Rows() const;
    std::vector<int> FilePositions() const;
    std::vector<MessageBoxSeen> MessageBoxes() const;
    std::vector<int> Outcomes() const;
    bool IsHidden() const;

    // The answer of the next message boxes (default: the box's default button).
    void SetMessageBoxAnswer(int nAnswer);
    // Expansion of special-directory keys (default: none).
    void SetExpander(std::function<void(DownFileItem&)> expander);
    // Called with every call's text (as Calls records it) after it is recorded, outside the
    // view's lock; it may throw to act as a failing window.
    void SetCallHook(std::function<void(const std::string&)> hook);
    // Makes the next step-text call wait until ReleaseBlock (or the object goes away).
    void BlockNextStepText();
    void ReleaseBlock();
    bool IsBlocked() const;

private:
    void Record(const std::string& call);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_calls;
    std::vector<std::pair<int, std::string>> m_rows;
    std::vector<int> m_filePositions;
    std::vector<MessageBoxSeen> m_boxes;
    std::vector<int> m_outcomes;
    bool m_bHidden = false;
    int m_nAnswer = 0;
    std::function<void(DownFileItem&)> m_expander;
    std::function<void(const std::string&)> m_hook;
    bool m_bBlockNext = false;
    bool m_bBlocked = false;
    bool m_bReleased = false;
};

} // namespace kstest
