#include "transfer/FileSink.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"

int CFileSink::Write(const char* pData, std::size_t nSize) {
    if (m_bHash)
        m_sha.Update(pData, nSize); // while the body streams: no second read
    const std::size_t nWritten = plat::WriteToFile(m_local.get(), pData, nSize);
    if (nWritten == nSize)
        return 0;
    const int nError = plat::LastErrorCode();
    WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromPeer> fwrite() Fail, RetVal = %d",
             static_cast<int>(nWritten));
    WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> Write Error = %s",
             plat::SystemErrorTextOf(nError).c_str());
    return -3;
}
