#include "platform/LargeBuffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace plat {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// A smaller buffer keeps small pages: a huge page would hold 2 MiB of memory for a few KiB.
constexpr std::size_t kHugeFrom = std::size_t{1} << 20;
constexpr std::size_t kSmallUnit = std::size_t{64} << 10;

} // namespace

// A large buffer is a whole number of 2 MiB pages on a 2 MiB boundary: the system lays a huge
// page only where one fits whole.
bool CLargeBuffer::Map(std::size_t nBytes) {
    if (nBytes > SIZE_MAX - 2 * kHugePage)
        return false;
    const bool bHuge = nBytes >= kHugeFrom;
    const std::size_t nUnit = bHuge ? kHugePage : kSmallUnit;
    const std::size_t nRounded = (nBytes + nUnit - 1) / nUnit * nUnit;
    const std::size_t nMapping = nRounded + (bHuge ? kHugePage : 0);
    void* p = ::mmap(nullptr, nMapping, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return false;
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned =
        bHuge ? (at + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1) : at;
    m_pMapping = p;
    m_nMapping = nMapping;
    m_pData = reinterpret_cast<char*>(aligned);
    m_nCapacity = nRounded;
#ifdef MADV_HUGEPAGE
    // A hint: where huge pages are off, the buffer takes small ones.
    if (bHuge)
        static_cast<void>(::madvise(m_pData, m_nCapacity, MADV_HUGEPAGE));
#endif
    return true;
}

void CLargeBuffer::Unmap() {
    ::munmap(m_pMapping, m_nMapping);
}

} // namespace plat
