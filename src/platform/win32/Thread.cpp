// Win32 worker thread: created suspended, resumed, joined, terminated only as a last resort.
#include "platform/Thread.h"

#include <windows.h>

#include <process.h>

namespace plat {

struct CWorkerThread::Impl {
    HANDLE hThread = nullptr;
    bool bResumed = false;
    // Owned by the thread once it runs; by this object while it is suspended.
    std::function<void()>* pBody = nullptr;
};

namespace {

unsigned __stdcall ThreadEntry(void* arg) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return 0;
}

} // namespace

CWorkerThread::CWorkerThread() : m_pImpl(std::make_unique<Impl>()) {}

CWorkerThread::~CWorkerThread() {
    if (m_pImpl->hThread == nullptr)
        return;
    if (!m_pImpl->bResumed) {
        // A thread that never ran holds nothing; ending it is safe.
        ::TerminateThread(m_pImpl->hThread, 0);
        ::WaitForSingleObject(m_pImpl->hThread, INFINITE);
        delete m_pImpl->pBody;
    }
    ::CloseHandle(m_pImpl->hThread);
}

bool CWorkerThread::Create(std::function<void()> body) {
    auto* pBody = new std::function<void()>(std::move(body));
    const uintptr_t h =
        ::_beginthreadex(nullptr, 0, &ThreadEntry, pBody, CREATE_SUSPENDED, nullptr);
    if (h == 0) {
        delete pBody;
        return false;
    }
    m_pImpl->hThread = reinterpret_cast<HANDLE>(h);
    m_pImpl->pBody = pBody;
    return true;
}

void CWorkerThread::Resume() {
    if (m_pImpl->hThread != nullptr && !m_pImpl->bResumed) {
        m_pImpl->bResumed = true;
        ::ResumeThread(m_pImpl->hThread);
    }
}

bool CWorkerThread::Join() {
    if (m_pImpl->hThread == nullptr)
        return true;
    Resume();
    return ::WaitForSingleObject(m_pImpl->hThread, INFINITE) == WAIT_OBJECT_0;
}

void CWorkerThread::Terminate() {
    if (m_pImpl->hThread != nullptr)
        ::TerminateThread(m_pImpl->hThread, 0);
}

void CWorkerThread::Detach() {
    if (m_pImpl->hThread == nullptr)
        return;
    Resume();
    ::CloseHandle(m_pImpl->hThread);
    m_pImpl->hThread = nullptr;
}

void SleepServingSentMessages(int nMs) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(nMs);
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return;
        const DWORD wait = static_cast<DWORD>(deadline - now);
        if (::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0) {
            MSG msg;
            // Serves the sent messages only; posted messages stay queued.
            ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
}

void SleepMs(int nMs) {
    ::Sleep(static_cast<DWORD>(nMs));
}

} // namespace plat
