// The view of a run on a terminal: the phase and the file in hand, a bar for the file and one
// for the whole list redrawn in place, and the time-stamped status rows above them. When the
// output is not a terminal, plain lines only. Message boxes become prompts; when nobody can
// answer (input not a terminal, or at its end) the default button is taken.
#pragma once

#include "ui/SyncView.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

class CConsoleView : public CSyncView {
public:
    // out and in are the terminal's streams (or files, in tests). bInteractive tells whether
    // a person can answer prompts on in; bTerminal whether out takes cursor movements.
    CConsoleView(std::FILE* out, std::FILE* in, bool bTerminal, bool bInteractive);

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

    void SetExpander(std::function<void(DownFileItem&)> expander);
    // The outcome the run reported, or -1 when it reported none.
    int GetOutcome();
    // Error rows shown so far.
    int GetErrorRowCount();
    // Erases the bars, so that what follows starts on a clean line.
    void Finish();

    CConsoleView(const CConsoleView&) = delete;
    CConsoleView& operator=(const CConsoleView&) = delete;

private:
    void EraseBars();
    void DrawBars(bool bForce = false);
    void PrintLine(const std::string& line);
    static std::string Bar(int nPos, int nLow, int nHigh, int nWidth);

    std::FILE* m_out;
    std::FILE* m_in;
    bool m_bTerminal;
    bool m_bInteractive;
    std::mutex m_mutex;
    bool m_bBarsShown = false;
    std::chrono::steady_clock::time_point m_lastDrawn;
    bool m_bDrawPending = false; // a state newer than the bars on the screen
    std::string m_strStep;
    std::string m_strTotal;
    std::string m_strFile;
    int m_nTotalLow = 0;
    int m_nTotalHigh = 0;
    int m_nTotalPos = 0;
    int m_nFileLow = 0;
    int m_nFileHigh = 100;
    int m_nFilePos = 0;
    int m_nOutcome = -1;
    int m_nErrorRows = 0;
    std::function<void(DownFileItem&)> m_expander;
};

// "YYYY-MM-DD hh:mm:ss" of the local time now, as status rows are stamped.
std::string StatusRowTime();
