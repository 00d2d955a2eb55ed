// The local file a download writes, closed on every way out.
#pragma once

#include <cstdio>

class CLocalFile {
public:
    CLocalFile() = default;
    ~CLocalFile() { Close(); }
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;

    std::FILE* get() const { return m_fp; }
    void Reset(std::FILE* fp) {
        Close();
        m_fp = fp;
    }
    // False when buffered bytes could not be written.
    bool Close() {
        std::FILE* fp = m_fp;
        m_fp = nullptr;
        return fp == nullptr || std::fclose(fp) == 0;
    }

private:
    std::FILE* m_fp = nullptr;
};
