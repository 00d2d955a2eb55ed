// A sink that writes the body into a local file, hashing it while it streams when asked.
#pragma once

#include "platform/Crypto.h"
#include "transfer/BodySink.h"
#include "transfer/LocalFile.h"

class CFileSink : public CBodySink {
public:
    // 0, or -3 when the file took fewer bytes than given (logged with the system's reason).
    int Write(const char* pData, std::size_t nSize) override;

protected:
    CLocalFile m_local;
    plat::CSha256 m_sha;
    bool m_bHash = false; // the bytes go into m_sha as well
};
