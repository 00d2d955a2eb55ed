// Fetching one file with GET into its local path.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "transfer/HttpDate.h"
#include "transfer/Transfer.h"

#include <cstdio>

namespace {

constexpr std::size_t kBlockSize = 4096;

// A failure to change a local file's attributes or times: it ends a download like a
// transport error does.
class CFileStatusError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string SystemText(int nError) {
    std::string text;
    if (!plat::SystemErrorText(nError, text))
        text = "error " + std::to_string(nError);
    return text;
}

// The local file of one download, closed on every way out.
class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile() { Close(); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
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

} // namespace

void CSyncEngine::CreateTargetFolder(const std::string& strPath) {
    const std::size_t sep = plat::LastSepPos(strPath);
    if (sep == std::string::npos)
        return;
    const std::string folder = strPath.substr(0, sep);
    plat::FileStatus status;
    if (plat::GetFileStatus(folder, status) && status.bFolder)
        return;
    plat::CreateFolderChain(folder);
}

int CSyncEngine::ClearReadOnlyPropertyOfLocalFile(const DownFileItem& item) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(item.m_strTargetFile, status) || !status.bReadOnly)
        return 0;
    WriteLog(g_pMyLog, 1,
             "CSyncEngine::ClearReadOnlyPropertyOfLocalFile> Try To Remove Read Only Property, "
             "File = %s",
             item.m_strTargetFile.c_str());
    if (!plat::SetReadOnly(item.m_strTargetFile, false))
        throw CFileStatusError(SystemText(plat::LastErrorCode()));
    return 0;
}

int CSyncEngine::SetDownFileModifyDate(const DownFileItem& item) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(item.m_strTargetFile, status))
        return -1;
    std::int64_t t = 0;
    if (!ModifyTimeToEpoch(item.m_strModifyTime, t))
        throw CFileStatusError("invalid modification time " + item.m_strModifyTime);
    WriteLog(g_pMyLog, 1, "CSyncEngine::SetDownFileModifyDate> Set File(%s) Modify Time = %s",
             item.m_strTargetFile.c_str(), item.m_strModifyTime.c_str());
    if (!plat::SetFileModifyTime(item.m_strTargetFile, t))
        throw CFileStatusError(SystemText(plat::LastErrorCode()));
    return 0;
}

// Copies the body into fp in blocks until nExpected bytes arrived or the body ends. 0, -3 a
// write failed, -7 stop requested. Raises CHttpError.
int CSyncEngine::ReceiveBody(plat::CHttpRequest& request, std::FILE* fp, int nExpected,
                             std::int64_t& nReceived) {
    char buf[kBlockSize];
    while (nReceived < nExpected) {
        const std::size_t nRead = request.Read(buf, sizeof buf);
        if (nRead == 0)
            break;
        const std::size_t nWritten = std::fwrite(buf, 1, nRead, fp);
        nReceived += static_cast<std::int64_t>(nRead);
        if (nWritten < nRead) {
            WriteLog(g_pMyLog, 1,
                     "CSyncEngine::DownloadOneFileFromPeer> fwrite() Fail, RetVal = %d",
                     static_cast<int>(nWritten));
            return -3;
        }
        if (nExpected != 0)
            View().SetFilePos(static_cast<int>(nReceived * 100 / nExpected));
        if (m_nRequestStopFlag != 0) {
            WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = %d",
                     m_nRequestStopFlag.load());
            return -7;
        }
    }
    return 0;
}

int CSyncEngine::DownloadOneFileFromServer(const DownFileItem& item, int /*nIndex*/,
                                           int /*nCount*/) {
    const std::string path = m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    const std::string encoded = EncodeUrl(path);
    WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::DownloadOneFileFromServer> File URL = %s",
             path.c_str());
    std::unique_ptr<plat::CHttpRequest> request;
    LocalFile local;
    try {
        if (m_pConnection != nullptr)
            request = m_pConnection->OpenRequest("GET", encoded, kAcceptTypes);
        if (request == nullptr) {
            WriteLog(g_pMyLog, 4,
                     "CCobaltSyncEngine::DownloadOneFileFromServer> OpenRequest() Return NULL");
            return -1;
        }
        request->Send();
        int nStatus = 0;
        if (!request->QueryStatusCode(nStatus) || nStatus != 200) {
            WriteLog(g_pMyLog, 4,
                     "CCobaltSyncThread::DownloadOneFileFromServer> QueryInfoStatusCode(%s) "
                     "Return = %d",
                     path.c_str(), nStatus);
            return -2;
        }
        CreateTargetFolder(item.m_strTargetFile);
        ClearReadOnlyPropertyOfLocalFile(item);
        plat::RemoveFile(item.m_strTargetFile);
        local.Reset(plat::OpenFile(item.m_strTargetFile, "wb"));
        if (local.get() == nullptr) {
            const int nError = plat::LastErrorCode();
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> Local File Open(%s) Fail",
                     item.m_strTargetFile.c_str());
            plat::SetLastErrorCode(nError);
            CMyLog::LogLastErrorText();
            return -3;
        }
        const int nExpected = AtoiValue(item.m_strFileSize);
        View().SetFileRange(0, 100);
        View().SetFilePos(0);
        std::int64_t nReceived = 0;
        const int r = ReceiveBody(*request, local.get(), nExpected, nReceived);
        if (r != 0)
            return r;
        if (!local.Close()) {
            const int nError = plat::LastErrorCode();
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> Local File Close(%s) Fail",
                     item.m_strTargetFile.c_str());
            plat::SetLastErrorCode(nError);
            CMyLog::LogLastErrorText();
            return -3;
        }
        request->Close();
        if (nReceived != nExpected) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> Server File Size = %d, Write File "
                     "Size = %lld",
                     nExpected, static_cast<long long>(nReceived));
            return -4;
        }
        const int nSet = SetDownFileModifyDate(item);
        if (nSet < 0) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> SetDownFileModifyDate() Fail, "
                     "RetVal = %d",
                     nSet);
            return -5;
        }
        return 0;
    } catch (const plat::CHttpError& error) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> ErrMsg = %s",
                 HttpErrorText(error).c_str());
    } catch (const CFileStatusError& error) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> ErrMsg = %s", error.what());
    }
    return -6;
}
