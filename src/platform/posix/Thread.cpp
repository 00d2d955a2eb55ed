// POSIX worker thread on std::thread; a thread is never killed.
#include "platform/Thread.h"

#include "platform/FileSystem.h"
#include "platform/posix/ErrnoMap.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace plat {

namespace {

// Shared with the thread, so that a detached thread never refers to a freed object.
struct StartGate {
    std::mutex mutex;
    std::condition_variable cv;
    bool bResumed = false;
    bool bCancelled = false;
};

} // namespace

struct CWorkerThread::Impl {
    std::thread thread;
    std::shared_ptr<StartGate> gate = std::make_shared<StartGate>();
};

CWorkerThread::CWorkerThread() : m_pImpl(std::make_unique<Impl>()) {}

CWorkerThread::~CWorkerThread() {
    if (!m_pImpl->thread.joinable())
        return;
    bool bResumed = false;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->gate->mutex);
        bResumed = m_pImpl->gate->bResumed;
        m_pImpl->gate->bCancelled = !bResumed;
    }
    if (bResumed) {
        m_pImpl->thread.detach();
    } else {
        // Never resumed: the thread ends without running its body.
        m_pImpl->gate->cv.notify_all();
        m_pImpl->thread.join();
    }
}

bool CWorkerThread::Create(std::function<void()> body) {
    std::shared_ptr<StartGate> gate = m_pImpl->gate;
    try {
        m_pImpl->thread = std::thread([gate, body = std::move(body)] {
            {
                std::unique_lock<std::mutex> lock(gate->mutex);
                gate->cv.wait(lock, [&gate] { return gate->bResumed || gate->bCancelled; });
                if (gate->bCancelled)
                    return;
            }
            body();
        });
    } catch (const std::system_error& error) {
        SetLastErrorCode(WindowsErrorFromErrno(error.code().value(), std::string()));
        return false;
    }
    return true;
}

void CWorkerThread::Resume() {
    {
        std::lock_guard<std::mutex> lock(m_pImpl->gate->mutex);
        m_pImpl->gate->bResumed = true;
    }
    m_pImpl->gate->cv.notify_all();
}

bool CWorkerThread::Join() {
    if (m_pImpl->thread.joinable()) {
        Resume();
        m_pImpl->thread.join();
    }
    return true;
}

void CWorkerThread::Terminate() {
    Detach();
}

void CWorkerThread::Detach() {
    if (m_pImpl->thread.joinable()) {
        Resume();
        m_pImpl->thread.detach();
    }
}

void SleepServingSentMessages(int nMs) {
    SleepMs(nMs);
}

void SleepMs(int nMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

} // namespace plat
