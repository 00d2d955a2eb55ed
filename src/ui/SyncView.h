// What an update run shows, and the few things it asks of the window that owns it. The
// engine writes only through this interface; the Windows dialog implements it with its
// controls, the console view with lines on a terminal, and tests with a recording fake.
// Every call may come from the engine's worker thread.
#pragma once

#include "platform/MessageBox.h"

#include <string>

class DownFileItem;

// The message box constants, as the view's callers name them.
using plat::kIdCancel;
using plat::kIdNo;
using plat::kIdOk;
using plat::kIdYes;
using plat::kMbDefButton2;
using plat::kMbIconError;
using plat::kMbIconQuestion;
using plat::kMbOk;
using plat::kMbYesNo;

// Status-row kinds.
enum : int {
    kStatusError = 1,
    kStatusNormal = 2,
};

// Outcomes of a run, as WM_SYNC_DONE carries them.
enum : int {
    kSyncDoneComplete = 0,
    kSyncDoneNoList = 2,
    kSyncDoneDeclined = 3,
};

class CSyncView {
public:
    virtual ~CSyncView() = default;

    // The three one-line texts: the phase, the overall count, the file in hand.
    virtual void SetStepText(const std::string& text) = 0;
    virtual void SetTotalText(const std::string& text) = 0;
    virtual void SetFileNameText(const std::string& text) = 0;
    // The overall bar (items) and the file bar (percent). Ranges are 16-bit, as the
    // Windows progress control takes them.
    virtual void SetTotalRange(int nLow, int nHigh) = 0;
    virtual void SetTotalPos(int nPos) = 0;
    virtual void SetFileRange(int nLow, int nHigh) = 0;
    virtual void SetFilePos(int nPos) = 0;
    // The time-stamped status list: emptied at the start of a run; rows of kind 1 (error)
    // or 2 (normal) appended; other kinds add nothing.
    virtual void ClearStatusList() = 0;
    virtual void AddStatusRow(int nKind, const std::string& text) = 0;
    // A modal message box owned by the window; returns the button chosen (kIdOk, ...).
    virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                               unsigned nType) = 0;
    // Hides the window before a successful end is reported.
    virtual void HideWindow() = 0;
    // Reports the end of a run (WM_SYNC_DONE with nOutcome); does not wait.
    virtual void PostSyncDone(int nOutcome) = 0;
    // Replaces a special-directory key at the start of the item's target path.
    virtual void ExpandSpecialDirPath(DownFileItem& item) = 0;
};

// A view that shows nothing and answers message boxes with their default button.
class CNullSyncView : public CSyncView {
public:
    void SetStepText(const std::string&) override {}
    void SetTotalText(const std::string&) override {}
    void SetFileNameText(const std::string&) override {}
    void SetTotalRange(int, int) override {}
    void SetTotalPos(int) override {}
    void SetFileRange(int, int) override {}
    void SetFilePos(int) override {}
    void ClearStatusList() override {}
    void AddStatusRow(int, const std::string&) override {}
    int ShowMessageBox(const std::string&, const std::string&, unsigned nType) override;
    void HideWindow() override {}
    void PostSyncDone(int) override {}
    void ExpandSpecialDirPath(DownFileItem&) override {}
};
