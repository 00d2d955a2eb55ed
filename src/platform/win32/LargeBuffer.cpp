#include "platform/LargeBuffer.h"

#include <windows.h>

namespace plat {

// Large pages need a privilege a workstation's user does not hold: the system's own pages.
bool CLargeBuffer::Map(std::size_t nBytes) {
    void* p = ::VirtualAlloc(nullptr, nBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr)
        return false;
    m_pMapping = p;
    m_nMapping = nBytes;
    m_pData = static_cast<char*>(p);
    m_nCapacity = nBytes;
    return true;
}

void CLargeBuffer::Unmap() {
    ::VirtualFree(m_pMapping, 0, MEM_RELEASE);
}

} // namespace plat
