#include "platform/LargeBuffer.h"

#include <windows.h>

namespace plat {

CLargeBuffer::~CLargeBuffer() {
    Release();
}

void CLargeBuffer::Release() {
    if (m_pMapping != nullptr)
        ::VirtualFree(m_pMapping, 0, MEM_RELEASE);
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nMapping = m_nCapacity = 0;
}

// Large pages need a privilege a workstation's user does not hold: the system's own pages.
bool CLargeBuffer::Reserve(std::size_t nBytes) {
    if (nBytes <= m_nCapacity && m_pData != nullptr)
        return true;
    Release();
    if (nBytes == 0)
        return true;
    void* p = ::VirtualAlloc(nullptr, nBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr)
        return false;
    m_pMapping = p;
    m_nMapping = nBytes;
    m_pData = static_cast<char*>(p);
    m_nCapacity = nBytes;
    return true;
}

} // namespace plat
