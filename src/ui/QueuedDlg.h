// A main dialog without a message loop of the system's: what it posts to itself queues up,
// and RunQueue serves it on the calling thread. Nobody presses Start: the dialog presses it
// itself once it is up, unless the copy started with "2" starts by itself. The dialog ends
// after the run (or when a run cannot start). The terminal's dialog and the unattended run are
// made of it.
#pragma once

#include "ui/VentoDlg.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

class CQueuedDlg : public CVentoDlg {
public:
    using CVentoDlg::CVentoDlg;

    // Serves the queue from InitDialogState until the dialog ends; the last run's outcome, or
    // -1 when none ended.
    int RunQueue();
    void PostSyncDone(int nOutcome) override { Post(kWmSyncDone, nOutcome); }

protected:
    void EnableButton(int, bool) override {}
    void PostDialogMessage(int nMessage) override { Post(nMessage, 0); }
    void Post(int nMessage, int nParam);

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::pair<int, int>> m_queue;
};
