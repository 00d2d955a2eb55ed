#include "transfer/StagedWriteBack.h"

#include "platform/FileSystem.h"

CStagedWriteBack::~CStagedWriteBack() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bEnd = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void CStagedWriteBack::Add(const std::string& path, std::uint64_t nBytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back(path);
    m_nPendingBytes += nBytes;
    if (m_nPendingBytes < m_nBatchBytes)
        return;
    m_ready.insert(m_ready.end(), m_pending.begin(), m_pending.end());
    m_pending.clear();
    m_nPendingBytes = 0;
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
    m_wake.notify_one();
}

int CStagedWriteBack::Batches() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nBatches;
}

void CStagedWriteBack::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bEnd || !m_ready.empty(); });
        if (m_bEnd)
            return;
        // Batches that queued while one was written go out together.
        std::vector<std::string> batch;
        batch.swap(m_ready);
        lock.unlock();
        // A file that went (a later try replaced it) fails the batch: the apply's flush
        // decides.
        static_cast<void>(plat::StartWriteBackFiles(batch));
        lock.lock();
        ++m_nBatches;
    }
}
