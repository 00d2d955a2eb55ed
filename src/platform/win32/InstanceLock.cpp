// Win32: a named mutex whose name is made from the program folder (case does not matter, as
// in Windows paths). A mutex left by a killed process is abandoned, and taken over.
#include "platform/InstanceLock.h"

#include "platform/win32/WinText.h"

#include <windows.h>

#include <cstdint>
#include <cwctype>

namespace plat {

namespace {

std::wstring MutexName(const std::string& programFolder) {
    std::wstring folder = Wide(programFolder);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a over the folded UTF-16 units
    for (const wchar_t c : folder) {
        const wchar_t folded = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
        hash = (hash ^ static_cast<std::uint16_t>(folded)) * 1099511628211ull;
    }
    wchar_t name[64];
    ::swprintf(name, 64, L"Local\\KestrelSync-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

} // namespace

struct CInstanceLock::Impl {
    HANDLE hMutex = nullptr;
};

CInstanceLock::CInstanceLock() : m_pImpl(std::make_unique<Impl>()) {}

CInstanceLock::~CInstanceLock() {
    Release();
}

bool CInstanceLock::Acquire(const std::string& programFolder, int nWaitMs) {
    Release();
    HANDLE h = ::CreateMutexW(nullptr, FALSE, MutexName(programFolder).c_str());
    if (h == nullptr)
        return false;
    const DWORD r = ::WaitForSingleObject(h, static_cast<DWORD>(nWaitMs < 0 ? 0 : nWaitMs));
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
        m_pImpl->hMutex = h;
        return true;
    }
    ::CloseHandle(h);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
}

void CInstanceLock::Release() {
    if (m_pImpl->hMutex != nullptr) {
        ::ReleaseMutex(m_pImpl->hMutex);
        ::CloseHandle(m_pImpl->hMutex);
        m_pImpl->hMutex = nullptr;
    }
}

bool IsInstanceLockHeld(const std::string& programFolder) {
    HANDLE h = ::OpenMutexW(SYNCHRONIZE, FALSE, MutexName(programFolder).c_str());
    if (h == nullptr)
        return false;
    const DWORD r = ::WaitForSingleObject(h, 0);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED)
        ::ReleaseMutex(h);
    ::CloseHandle(h);
    return r == WAIT_TIMEOUT;
}

} // namespace plat
