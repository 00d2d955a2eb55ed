// A body kept in memory, up to a limit (a signature).
#pragma once

#include "transfer/BodySink.h"

#include <string>

class CMemorySink : public CBodySink {
public:
    CMemorySink(std::string& body, std::size_t nLimit) : m_body(body), m_nLimit(nLimit) {}
    int Begin(plat::CHttpRequest&, bool) override { return 0; }
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
