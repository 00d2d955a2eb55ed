// The writing to disk of small staged files, started in batches on a thread of its own while
// other files still download, so that the apply's flush before READY finds little left to
// write. A hint for speed only: nothing waits for a batch but the end of this object, nothing
// depends on its success, and the apply's flush still makes every file durable.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CStagedWriteBack {
public:
    // A batch starts once the files handed over hold nBatchBytes.
    explicit CStagedWriteBack(std::uint64_t nBatchBytes = kBatchBytes)
        : m_nBatchBytes(nBatchBytes) {}
    // Waits for a batch in progress; the files of no batch yet are left to the apply's flush.
    ~CStagedWriteBack();
    CStagedWriteBack(const CStagedWriteBack&) = delete;
    CStagedWriteBack& operator=(const CStagedWriteBack&) = delete;

    // A whole staged file of nBytes, from any thread.
    void Add(const std::string& path, std::uint64_t nBytes);
    // Batches handed to the system so far.
    int Batches() const;

    static constexpr std::uint64_t kBatchBytes = 4u << 20;

private:
    void Run();

    const std::uint64_t m_nBatchBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::string> m_pending; // the batch being gathered
    std::uint64_t m_nPendingBytes = 0;
    std::vector<std::string> m_ready; // the batches the thread has still to start, as one
    bool m_bEnd = false;
    int m_nBatches = 0;
    std::thread m_thread; // begun with the first batch
};
