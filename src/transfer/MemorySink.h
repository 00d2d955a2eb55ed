// A body kept in memory, up to a limit (a signature).
#pragma once

#include "transfer/BodySink.h"

#include <algorithm>
#include <cstdlib>
#include <string>

class CMemorySink : public CBodySink {
public:
    CMemorySink(std::string& body, std::size_t nLimit) : m_body(body), m_nLimit(nLimit) {}
    // Room for the announced length up to the limit at once: a body of some hundred
    // kilobytes (a list) would otherwise be copied into ever larger blocks as it arrives.
    int Begin(plat::CHttpRequest& request, bool) override {
        std::string length;
        if (request.QueryHeader("Content-Length", length)) {
            const unsigned long long nAnnounced = std::strtoull(length.c_str(), nullptr, 10);
            m_body.reserve(m_body.size() + static_cast<std::size_t>(std::min<unsigned long long>(
                                               nAnnounced, m_nLimit + 1ULL)));
        }
        return 0;
    }
    // -4 once the body is longer than the limit.
    int Write(const char* pData, std::size_t nSize) override {
        m_body.append(pData, nSize);
        return m_body.size() > m_nLimit ? -4 : 0;
    }
    int Finish(std::int64_t) override { return 0; }

private:
    std::string& m_body;
    const std::size_t m_nLimit;
};
