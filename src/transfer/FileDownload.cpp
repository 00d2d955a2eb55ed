// Fetching one file with GET into its local path.
#include "engine/SyncEngine.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "transfer/HttpDate.h"
#include "transfer/Transfer.h"
#include "trust/SignedList.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// The block the size check and the stop check work in, and the size of one read.
constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kReadSize = 64 * 1024;
// The file bar changes at most this often (and at the end).
constexpr auto kProgressInterval = std::chrono::milliseconds(50);

std::string SystemText(int nError) {
    std::string text;
    if (!plat::SystemErrorText(nError, text))
        text = "error " + std::to_string(nError);
    return text;
}

// A failure of the file-status layer (attributes, times) ends a download as a transport
// error does: -6 with the error's text in the log.
int FileStatusFailure(const std::string& text) {
    WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> ErrMsg = %s", text.c_str());
    return -6;
}

// "Local File Open(path) Fail" with the system's text for the error, then -3.
int LocalFileFailure(const char* pszWhat, const std::string& path) {
    const int nError = plat::LastErrorCode();
    WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> Local File %s(%s) Fail", pszWhat,
             path.c_str());
    plat::SetLastErrorCode(nError);
    CMyLog::LogLastErrorText();
    return -3;
}

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
    return plat::SetReadOnly(item.m_strTargetFile, false) ? 0 : -1;
}

int CSyncEngine::SetDownFileModifyDate(const DownFileItem& item) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(item.m_strTargetFile, status))
        return -1;
    std::int64_t t = 0;
    if (!ModifyTimeToEpoch(item.m_strModifyTime, t)) {
        plat::SetLastErrorCode(plat::kErrInvalidParameter);
        return -2;
    }
    WriteLog(g_pMyLog, 1, "CSyncEngine::SetDownFileModifyDate> Set File(%s) Modify Time = %s",
             item.m_strTargetFile.c_str(), item.m_strModifyTime.c_str());
    return plat::SetFileModifyTime(item.m_strTargetFile, t) ? 0 : -2;
}

// The GET request with a status of 200. 0, or -1 no request, -2 status. Raises CHttpError.
int CSyncEngine::OpenDownloadRequest(const std::string& path,
                                     std::unique_ptr<plat::CHttpRequest>& request) {
    if (m_pConnection != nullptr)
        request = m_pConnection->OpenRequest("GET", m_pfnEncodeUrl(path), kAcceptTypes);
    if (request == nullptr) {
        WriteLog(g_pMyLog, 4,
                 "CCobaltSyncEngine::DownloadOneFileFromServer> OpenRequest() Return NULL");
        return -1;
    }
    ++m_nRequestsSent;
    request->Send();
    LogRedirects(*request, "CSyncEngine::DownloadOneFileFromServer");
    int nStatus = 0;
    request->QueryStatusCode(nStatus);
    m_nLastHttpStatus = nStatus;
    m_nResponses += nStatus != 0 ? 1 : 0;
    if (nStatus != 200) {
        WriteLog(g_pMyLog, 4,
                 "CCobaltSyncThread::DownloadOneFileFromServer> QueryInfoStatusCode(%s) Return = "
                 "%d",
                 path.c_str(), nStatus);
        return -2;
    }
    return 0;
}

// The target's folders and its read-only attribute cleared, and the download's temporary file
// beside it open for writing. The target keeps its content until the download is complete.
// 0, or -3 the target cannot be written (then deleted, as a failed open leaves it) or the
// temporary file cannot be opened, -6 the attribute stayed.
int CSyncEngine::PrepareLocalFile(const DownFileItem& item, CLocalFile& local) {
    CreateTargetFolder(item.m_strTargetFile);
    if (ClearReadOnlyPropertyOfLocalFile(item) < 0)
        return FileStatusFailure(SystemText(plat::LastErrorCode()));
    plat::FileStatus status;
    if (plat::GetFileStatus(item.m_strTargetFile, status)) {
        // Opened without truncation: a folder, a running program or a file without write
        // access refuses here, before any byte is fetched.
        std::FILE* probe = status.bFolder ? nullptr : plat::OpenFile(item.m_strTargetFile, "r+b");
        if (probe == nullptr) {
            if (status.bFolder)
                plat::SetLastErrorCode(plat::kErrAccessDenied);
            const int r = LocalFileFailure("Open", item.m_strTargetFile);
            if (!m_bTrusted)
                plat::RemoveFile(item.m_strTargetFile);
            return r;
        }
        std::fclose(probe);
    }
    local.Reset(plat::OpenFile(DownloadTempPath(item.m_strTargetFile), "wb"));
    if (local.get() == nullptr)
        return LocalFileFailure("Open", item.m_strTargetFile);
    return 0;
}

// After a failure that the download reports. Plain mode leaves the local file as the result
// codes say (partly written, or written with the wrong size): the partial file takes the
// target's place, and the caller deletes it. Trusted mode never lets unverified bytes near the
// target: the partial file goes and the target keeps its content.
void CSyncEngine::KeepPartialFile(const DownFileItem& item, CLocalFile& local) {
    const std::string temp = DownloadTempPath(item.m_strTargetFile);
    local.Close();
    if (m_bTrusted || !plat::ReplaceFileWith(temp, item.m_strTargetFile))
        plat::RemoveFile(temp);
}

// Copies the body into fp until nExpected bytes arrived or the body ends. The body is read in
// large pieces, but taken in blocks of kBlockSize as the program always took it: a body
// longer than expected is cut after the block that reaches the expected size, and a stop
// request ends the transfer after the current block. The file bar moves when its percentage
// changes, at most about 20 times a second, and at the end. 0, -3 a write failed, -7 stop
// requested. Raises CHttpError.
int CSyncEngine::ReceiveBody(plat::CHttpRequest& request, std::FILE* fp, int nExpected,
                             std::int64_t& nReceived, plat::CSha256* pHash) {
    std::vector<char> buf(kReadSize);
    int nShown = 0;
    auto lastShown = std::chrono::steady_clock::now();
    while (nReceived < nExpected) {
        const std::size_t nRead = request.Read(buf.data(), buf.size());
        if (nRead == 0)
            break;
        std::size_t nTake = nRead;
        const std::int64_t nMissing = nExpected - nReceived;
        if (static_cast<std::int64_t>(nRead) > nMissing) {
            const std::size_t nBlocks =
                (static_cast<std::size_t>(nMissing) + kBlockSize - 1) / kBlockSize;
            nTake = std::min(nRead, nBlocks * kBlockSize);
        }
        const bool bStop = m_nRequestStopFlag != 0;
        if (bStop)
            nTake = std::min(nTake, kBlockSize);
        if (pHash != nullptr)
            pHash->Update(buf.data(), nTake); // while the body streams: no second read
        const std::size_t nWritten = plat::WriteToFile(fp, buf.data(), nTake);
        nReceived += static_cast<std::int64_t>(nTake);
        if (nWritten < nTake) {
            const int nError = plat::LastErrorCode();
            WriteLog(g_pMyLog, 1,
                     "CSyncEngine::DownloadOneFileFromPeer> fwrite() Fail, RetVal = %d",
                     static_cast<int>(nWritten));
            WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> Write Error = %s",
                     SystemText(nError).c_str());
            return -3;
        }
        const int nPos = static_cast<int>(nReceived * 100 / nExpected);
        const auto now = std::chrono::steady_clock::now();
        if (nPos != nShown && (nPos >= 100 || now - lastShown >= kProgressInterval)) {
            nShown = nPos;
            lastShown = now;
            View().SetFilePos(nPos);
        }
        if (bStop || m_nRequestStopFlag != 0) {
            WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = %d",
                     m_nRequestStopFlag.load());
            return -7;
        }
    }
    const int nFinal = nExpected != 0 ? static_cast<int>(nReceived * 100 / nExpected) : 0;
    if (nFinal != nShown)
        View().SetFilePos(nFinal);
    return 0;
}

// The checks after the body: the file closed whole, the size the list gave, the file in the
// target's place, the server's time. 0, or -3 close or replace failed, -4 size, -5 time
// (status unreadable), -6 the time could not be set.
int CSyncEngine::FinishLocalFile(const DownFileItem& item, CLocalFile& local, int nExpected,
                                 std::int64_t nReceived, plat::CSha256* pHash,
                                 const plat::Sha256Digest& expected) {
    const std::string temp = DownloadTempPath(item.m_strTargetFile);
    if (!local.Close()) {
        const int r = LocalFileFailure("Close", item.m_strTargetFile);
        KeepPartialFile(item, local);
        return r;
    }
    if (nReceived != nExpected) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> Server File Size = %d, Write File "
                 "Size = %d",
                 nExpected, static_cast<int>(nReceived));
        KeepPartialFile(item, local);
        return -4;
    }
    plat::Sha256Digest computed{};
    if (pHash != nullptr && (!pHash->Finish(computed) || computed != expected)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> File(%s) SHA-256 Mismatch, Expected = "
                 "%s, Computed = %s",
                 item.m_strServerFile.c_str(), Sha256Hex(expected).c_str(),
                 Sha256Hex(computed).c_str());
        plat::RemoveFile(temp);
        return -8;
    }
    if (!plat::ReplaceFileWith(temp, item.m_strTargetFile)) {
        const int r = LocalFileFailure("Replace", item.m_strTargetFile);
        plat::RemoveFile(temp);
        return r;
    }
    const int nSet = SetDownFileModifyDate(item);
    if (nSet == -2)
        return FileStatusFailure(item.m_strModifyTime.size() >= 14
                                     ? SystemText(plat::LastErrorCode())
                                     : "invalid modification time " + item.m_strModifyTime);
    if (nSet < 0) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> SetDownFileModifyDate() Fail, RetVal = "
                 "%d",
                 nSet);
        return -5;
    }
    return 0;
}

int CSyncEngine::DownloadOneFileFromServer(const DownFileItem& item, int /*nIndex*/,
                                           int /*nCount*/) {
    return DownloadFile(item, m_bTrusted);
}

int CSyncEngine::DownloadFile(const DownFileItem& item, bool bVerifyHash) {
    const std::string path = m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::DownloadOneFileFromServer> File URL = %s",
             path.c_str());
    plat::Sha256Digest expected{};
    if (bVerifyHash && !ParseSha256Hex(item.m_strSha256, expected)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> File(%s) Has No Valid SHA-256, Column "
                 "7 = [%s]",
                 item.m_strServerFile.c_str(), item.m_strSha256.c_str());
        return -8;
    }
    plat::CSha256 sha;
    std::unique_ptr<plat::CHttpRequest> request;
    CLocalFile local;
    int r = 0;
    try {
        r = OpenDownloadRequest(path, request);
        if (r == 0)
            r = PrepareLocalFile(item, local);
        if (r < 0)
            return r;
        const int nExpected = AtoiValue(item.m_strFileSize);
        View().SetFileRange(0, 100);
        View().SetFilePos(0);
        std::int64_t nReceived = 0;
        plat::CSha256* pHash = bVerifyHash ? &sha : nullptr;
        r = ReceiveBody(*request, local.get(), nExpected, nReceived, pHash);
        if (r == 0) {
            request->Close();
            return FinishLocalFile(item, local, nExpected, nReceived, pHash, expected);
        }
    } catch (const plat::CHttpError& error) {
        if (error.Code() == plat::kHttpErrStopped) {
            WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = %d",
                     m_nRequestStopFlag.load());
            r = -7;
        } else {
            WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> ErrMsg = %s",
                     HttpErrorText(error).c_str());
            r = -6;
        }
    }
    if (local.get() != nullptr)
        KeepPartialFile(item, local);
    return r;
}

void LogRedirects(const plat::CHttpRequest& request, const char* pszWho) {
    for (const std::string& location : request.Redirects())
        WriteLog(g_pMyLog, 2, "%s> Redirected, Location = %s", pszWho, location.c_str());
}

std::string DownloadTempPath(const std::string& target) {
    return target + ".ks-download";
}
