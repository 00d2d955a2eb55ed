#include "ui/console/ConsoleView.h"

#include "platform/LocalTime.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr int kBarWidth = 30;

std::string TrimLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

std::string StatusRowTime() {
    const plat::LocalTime now = plat::GetLocalNow();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", now.nYear, now.nMonth, now.nDay,
                  now.nHour, now.nMinute, now.nSecond);
    return buf;
}

CConsoleView::CConsoleView(std::FILE* out, std::FILE* in, bool bTerminal, bool bInteractive)
    : m_out(out), m_in(in), m_bTerminal(bTerminal), m_bInteractive(bInteractive) {}

std::string CConsoleView::Bar(int nPos, int nLow, int nHigh, int nWidth) {
    const long long span = static_cast<long long>(nHigh) - nLow;
    long long filled = span > 0 ? (static_cast<long long>(nPos) - nLow) * nWidth / span : 0;
    filled = filled < 0 ? 0 : (filled > nWidth ? nWidth : filled);
    const long long percent = span > 0 ? (static_cast<long long>(nPos) - nLow) * 100 / span : 0;
    char pct[16];
    std::snprintf(pct, sizeof pct, "%3lld%%", percent < 0 ? 0 : (percent > 100 ? 100 : percent));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(nWidth - filled), '-') + "] " + pct;
}

void CConsoleView::EraseBars() {
    if (!m_bBarsShown)
        return;
    std::fputs("\r\033[K\033[1A\r\033[K", m_out);
    m_bBarsShown = false;
}

void CConsoleView::DrawBars(bool bForce) {
    if (!m_bTerminal)
        return;
    // Redrawn at most about 20 times a second; the next call after that draws what is new.
    const auto now = std::chrono::steady_clock::now();
    if (!bForce && m_bBarsShown && now - m_lastDrawn < std::chrono::milliseconds(50)) {
        m_bDrawPending = true;
        return;
    }
    m_lastDrawn = now;
    m_bDrawPending = false;
    EraseBars();
    const std::string total =
        "전체 " + Bar(m_nTotalPos, m_nTotalLow, m_nTotalHigh, kBarWidth) + "  " + m_strTotal;
    const std::string file =
        "파일 " + Bar(m_nFilePos, m_nFileLow, m_nFileHigh, kBarWidth) + "  " + m_strFile;
    std::fprintf(m_out, "%s\n%s", total.c_str(), file.c_str());
    std::fflush(m_out);
    m_bBarsShown = true;
}

void CConsoleView::PrintLine(const std::string& line) {
    EraseBars();
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

void CConsoleView::SetStepText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (text == m_strStep)
        return;
    m_strStep = text;
    if (!text.empty())
        PrintLine("== " + text);
    DrawBars(true);
}

void CConsoleView::SetTotalText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strTotal = text;
    DrawBars();
}

void CConsoleView::SetFileNameText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (text == m_strFile)
        return;
    m_strFile = text;
    DrawBars();
}

void CConsoleView::SetTotalRange(int nLow, int nHigh) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A 16-bit range, as the Windows progress control keeps it.
    m_nTotalLow = nLow & 0xFFFF;
    m_nTotalHigh = nHigh & 0xFFFF;
    DrawBars();
}

void CConsoleView::SetTotalPos(int nPos) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nTotalPos = nPos;
    DrawBars();
}

// A file range is set when a download begins: plain output names the file then, so that a
// run lists what it fetched rather than every file it checked.
void CConsoleView::SetFileRange(int nLow, int nHigh) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nFileLow = nLow & 0xFFFF;
    m_nFileHigh = nHigh & 0xFFFF;
    if (!m_bTerminal && !m_strFile.empty())
        PrintLine("   " + m_strTotal + (m_strTotal.empty() ? "" : "  ") + m_strFile);
    DrawBars(true);
}

void CConsoleView::SetFilePos(int nPos) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nPos == m_nFilePos)
        return;
    m_nFilePos = nPos;
    DrawBars();
}

void CConsoleView::ClearStatusList() {}

void CConsoleView::AddStatusRow(int nKind, const std::string& text) {
    if (nKind != kStatusError && nKind != kStatusNormal)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (nKind == kStatusError)
        ++m_nErrorRows;
    PrintLine(StatusRowTime() + (nKind == kStatusError ? "  [오류] " : "         ") + text);
    DrawBars();
}

int CConsoleView::ShowMessageBox(const std::string& text, const std::string& caption,
                                 unsigned nType) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool bYesNo = (nType & 0xF) == kMbYesNo;
    const int nDefault = plat::DefaultMessageBoxAnswer(nType);
    PrintLine("");
    PrintLine("[" + (caption.empty() ? std::string("알림") : caption) + "]");
    PrintLine(TrimLine(text));
    const std::string prompt =
        bYesNo ? (nDefault == kIdYes ? "예(y) / 아니요(n) [y]: " : "예(y) / 아니요(n) [n]: ")
               : "확인 [Enter]: ";
    std::fputs(prompt.c_str(), m_out);
    int nAnswer = nDefault;
    char line[256];
    if (m_bInteractive && std::fgets(line, sizeof line, m_in) != nullptr) {
        const char c = line[0];
        if (bYesNo && (c == 'y' || c == 'Y'))
            nAnswer = kIdYes;
        else if (bYesNo && (c == 'n' || c == 'N'))
            nAnswer = kIdNo;
    } else {
        std::fputs(bYesNo ? (nDefault == kIdYes ? "y (기본값)\n" : "n (기본값)\n") : "\n", m_out);
    }
    std::fflush(m_out);
    DrawBars();
    return nAnswer;
}

void CConsoleView::HideWindow() {}

void CConsoleView::PostSyncDone(int nOutcome) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nOutcome = nOutcome;
}

void CConsoleView::ExpandSpecialDirPath(DownFileItem& item) {
    if (m_expander)
        m_expander(item);
}

void CConsoleView::SetExpander(std::function<void(DownFileItem&)> expander) {
    m_expander = std::move(expander);
}

int CConsoleView::GetErrorRowCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nErrorRows;
}

int CConsoleView::GetOutcome() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nOutcome;
}

void CConsoleView::Finish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bDrawPending)
        DrawBars(true); // the last state is shown once
    EraseBars();
    std::fflush(m_out);
}
