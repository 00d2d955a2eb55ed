// Scratch memory for large buffers that a thread keeps and fills again (the installed file a
// patch starts from, a decoded file): memory taken from the system by itself, not from the
// heap. A fresh heap block of a few MiB costs a page fault per 4 KiB page at its first touch;
// on POSIX a buffer of 1 MiB or more is laid on 2 MiB pages where the system offers them (one
// fault per 2 MiB). Windows gives committed memory of its own page size.
#pragma once

#include <cstddef>

namespace plat {

class CLargeBuffer {
public:
    CLargeBuffer() = default;
    ~CLargeBuffer();
    CLargeBuffer(const CLargeBuffer&) = delete;
    CLargeBuffer& operator=(const CLargeBuffer&) = delete;

    // Room for at least nBytes. What the buffer held is not kept when it has to grow. False
    // (the buffer then empty) when the system has no memory for it.
    bool Reserve(std::size_t nBytes);
    // Gives the memory back to the system.
    void Release();

    char* Data() const { return m_pData; }
    std::size_t Capacity() const { return m_nCapacity; }

private:
    // Each side's own: takes memory for nBytes (more than 0) from the system and sets every
    // member below; gives it back.
    bool Map(std::size_t nBytes);
    void Unmap();

    char* m_pData = nullptr;
    std::size_t m_nCapacity = 0;
    void* m_pMapping = nullptr; // what the system gave (may start before m_pData)
    std::size_t m_nMapping = 0;
};

} // namespace plat
