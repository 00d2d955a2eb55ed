#include "ui/QueuedDlg.h"

#include <chrono>

void CQueuedDlg::Post(int nMessage, int nParam) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.emplace_back(nMessage, nParam);
    }
    m_posted.notify_all();
}

int CQueuedDlg::RunQueue() {
    InitDialogState();
    if (GetArgument() != "2")
        Post(kWmSyncStart, 0); // the press of Start
    int nOutcome = -1;
    for (;;) {
        std::pair<int, int> message{0, 0};
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // A run that ends without reporting (its system information failed) ends the
            // dialog too, as does a Start that could not begin a run.
            m_posted.wait_for(lock, std::chrono::milliseconds(100),
                              [this] { return !m_queue.empty(); });
            if (m_queue.empty()) {
                if (IsRunInProgress())
                    continue;
                break;
            }
            message = m_queue.front();
            m_queue.pop_front();
        }
        if (message.first == kWmClose)
            break;
        if (message.first == kWmSyncStart) {
            OnSyncStart();
        } else if (message.first == kWmSyncDone) {
            nOutcome = message.second;
            OnSyncDone(nOutcome);
            if (nOutcome != kSyncDoneComplete)
                break; // nobody is there to press Start again
        }
    }
    return nOutcome;
}
