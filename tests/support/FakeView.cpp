#include "support/FakeView.h"

namespace kstest {

void FakeView::Record(const std::string& call) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
        hook = m_hook;
    }
    if (hook)
        hook(call);
}

void FakeView::SetCallHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void FakeView::SetStepText(const std::string& text) {
    Record("step:" + text);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_bBlockNext)
        return;
    m_bBlockNext = false;
    m_bBlocked = true;
    m_cv.notify_all();
    m_cv.wait(lock, [this] { return m_bReleased; });
    m_bBlocked = false;
}

void FakeView::SetTotalText(const std::string& text) {
    Record("total:" + text);
}
void FakeView::SetFileNameText(const std::string& text) {
    Record("file:" + text);
}
void FakeView::SetTotalRange(int nLow, int nHigh) {
    Record("totalrange:" + std::to_string(nLow) + "-" + std::to_string(nHigh));
}
void FakeView::SetTotalPos(int nPos) {
    Record("totalpos:" + std::to_string(nPos));
}
void FakeView::SetFileRange(int nLow, int nHigh) {
    Record("filerange:" + std::to_string(nLow) + "-" + std::to_string(nHigh));
}

void FakeView::SetFilePos(int nPos) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_filePositions.push_back(nPos);
    }
    Record("filepos:" + std::to_string(nPos));
}

void FakeView::ClearStatusList() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("clear");
    m_rows.clear();
}

void FakeView::AddStatusRow(int nKind, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("row" + std::to_string(nKind) + ":" + text);
    if (nKind == kStatusError || nKind == kStatusNormal)
        m_rows.emplace_back(nKind, text);
}

int FakeView::ShowMessageBox(const std::string& text, const std::string& caption, unsigned nType) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("box:" + caption);
    m_boxes.push_back({text, caption, nType});
    return m_nAnswer != 0 ? m_nAnswer : plat::DefaultMessageBoxAnswer(nType);
}

void FakeView::HideWindow() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("hide");
    m_bHidden = true;
}

void FakeView::PostSyncDone(int nOutcome) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("done:" + std::to_string(nOutcome));
    m_outcomes.push_back(nOutcome);
}

void FakeView::ExpandSpecialDirPath(DownFileItem& item) {
    std::function<void(DownFileItem&)> expander;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        expander = m_expander;
    }
    if (expander)
        expander(item);
}

std::vector<std::string> FakeView::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}
std::vector<std::pair<int, std::string>> FakeView::Rows() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rows;
}
std::vector<int> FakeView::FilePositions() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_filePositions;
}
std::vector<MessageBoxSeen> FakeView::MessageBoxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}
std::vector<int> FakeView::Outcomes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outcomes;
}
bool FakeView::IsHidden() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bHidden;
}

void FakeView::SetMessageBoxAnswer(int nAnswer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nAnswer = nAnswer;
}

void FakeView::SetExpander(std::function<void(DownFileItem&)> expander) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_expander = std::move(expander);
}

void FakeView::BlockNextStepText() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bBlockNext = true;
    m_bReleased = false;
}

void FakeView::ReleaseBlock() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bReleased = true;
    }
    m_cv.notify_all();
}

bool FakeView::IsBlocked() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bBlocked;
}

} // namespace kstest
