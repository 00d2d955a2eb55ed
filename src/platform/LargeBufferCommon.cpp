#include "platform/LargeBuffer.h"

namespace plat {

CLargeBuffer::~CLargeBuffer() {
    Release();
}

void CLargeBuffer::Release() {
    if (m_pMapping != nullptr)
        Unmap();
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nMapping = m_nCapacity = 0;
}

bool CLargeBuffer::Reserve(std::size_t nBytes) {
    if (nBytes <= m_nCapacity && m_pData != nullptr)
        return true;
    Release();
    return nBytes == 0 || Map(nBytes);
}

} // namespace plat
