#include "support/FakeDlg.h"

#include "platform/Thread.h"

namespace kstest {

void FakeDlg::EnableButton(int nId, bool bEnable) {
    const char* name = nId == kIdcStart ? "start" : nId == kIdcStop ? "stop" : "close";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_buttons.push_back(std::string(name) + (bEnable ? "+" : "-"));
}

void FakeDlg::PostDialogMessage(int nMessage) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_posted.push_back(nMessage);
}

bool FakeDlg::RunConfigDialog(CConfigFields& fields) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_configDialogs.push_back(fields);
    }
    return onConfig(fields);
}

std::vector<std::string> FakeDlg::Buttons() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_buttons;
}

std::vector<int> FakeDlg::Posted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_posted;
}

std::vector<CConfigFields> FakeDlg::ConfigDialogs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_configDialogs;
}

int FakeDlg::WaitForSyncDone() const {
    // Two minutes: a run of 200 files takes 6 s under Wine, and more than 30 s on a busy machine.
    for (int i = 0; i < 6000; ++i) {
        const std::vector<int> outcomes = view.Outcomes();
        if (!outcomes.empty())
            return outcomes.back();
        plat::SleepMs(20);
    }
    return -1;
}

} // namespace kstest
