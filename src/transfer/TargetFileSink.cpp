#include "transfer/TargetFileSink.h"

#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/SyncEngine.h"
#include "platform/FileSystem.h"
#include "transfer/Transfer.h"
#include "trust/SignedList.h"
#include "updatelist/StringUtil.h"

namespace {

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

CTargetFileSink::CTargetFileSink(const DownFileItem& item, bool bKeepTarget, bool bVerifyHash)
    : m_item(item), m_bKeepTarget(bKeepTarget) {
    m_bHash = bVerifyHash;
}

int CTargetFileSink::Ready() {
    if (!m_bHash || ParseSha256Hex(m_item.m_strSha256, m_expected))
        return 0;
    WriteLog(g_pMyLog, 4,
             "CSyncEngine::DownloadOneFileFromServer> File(%s) Has No Valid SHA-256, Column 7 = "
             "[%s]",
             m_item.m_strServerFile.c_str(), m_item.m_strSha256.c_str());
    return -8;
}

int CTargetFileSink::Begin(plat::CHttpRequest& /*request*/, bool /*bResumed*/) {
    const std::string& target = m_item.m_strTargetFile;
    CSyncEngine::CreateTargetFolder(target);
    if (CSyncEngine::ClearReadOnlyPropertyOfLocalFile(m_item) < 0)
        return FileStatusFailure(plat::SystemErrorTextOf(plat::LastErrorCode()));
    plat::FileStatus status;
    if (plat::GetFileStatus(target, status)) {
        // Opened without truncation: a folder, a running program or a file without write
        // access refuses here, before any byte is fetched.
        std::FILE* probe = status.bFolder ? nullptr : plat::OpenFile(target, "r+b");
        if (probe == nullptr) {
            if (status.bFolder)
                plat::SetLastErrorCode(plat::kErrAccessDenied);
            const int r = LocalFileFailure("Open", target);
            if (!m_bKeepTarget)
                plat::RemoveFile(target);
            return r;
        }
        std::fclose(probe);
    }
    m_local.Reset(plat::OpenFile(DownloadTempPath(target), "wb"));
    if (m_local.get() == nullptr)
        return LocalFileFailure("Open", target);
    m_bOpened = true;
    return 0;
}

// After a failure that the download reports: the partial file takes the target's place (the
// caller deletes it), or goes when the target is kept.
void CTargetFileSink::Abandon(int /*r*/) {
    if (!m_bOpened)
        return;
    m_local.Close();
    DropPartial();
}

void CTargetFileSink::DropPartial() {
    const std::string temp = DownloadTempPath(m_item.m_strTargetFile);
    if (m_bKeepTarget || !plat::ReplaceFileWith(temp, m_item.m_strTargetFile))
        plat::RemoveFile(temp);
}

// The file closed whole, the size the list gave, and the hash when asked.
int CTargetFileSink::CheckContent(std::int64_t nReceived) {
    const int nExpected = AtoiValue(m_item.m_strFileSize);
    if (!m_local.Close()) {
        const int r = LocalFileFailure("Close", m_item.m_strTargetFile);
        DropPartial();
        return r;
    }
    if (nReceived != nExpected) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> Server File Size = %d, Write File "
                 "Size = %d",
                 nExpected, static_cast<int>(nReceived));
        DropPartial();
        return -4;
    }
    plat::Sha256Digest computed{};
    if (m_bHash && (!m_sha.Finish(computed) || computed != m_expected)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> File(%s) SHA-256 Mismatch, Expected = "
                 "%s, Computed = %s",
                 m_item.m_strServerFile.c_str(), Sha256Hex(m_expected).c_str(),
                 Sha256Hex(computed).c_str());
        plat::RemoveFile(DownloadTempPath(m_item.m_strTargetFile));
        return -8;
    }
    return 0;
}

int CTargetFileSink::Finish(std::int64_t nReceived) {
    if (const int r = CheckContent(nReceived))
        return r;
    const std::string temp = DownloadTempPath(m_item.m_strTargetFile);
    if (!plat::ReplaceFileWith(temp, m_item.m_strTargetFile)) {
        const int r = LocalFileFailure("Replace", m_item.m_strTargetFile);
        plat::RemoveFile(temp);
        return r;
    }
    return SetTime();
}

int CTargetFileSink::SetTime() {
    const int nSet = CSyncEngine::SetDownFileModifyDate(m_item);
    if (nSet == -2)
        return FileStatusFailure(m_item.m_strModifyTime.size() >= 14
                                     ? plat::SystemErrorTextOf(plat::LastErrorCode())
                                     : "invalid modification time " + m_item.m_strModifyTime);
    if (nSet < 0) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> SetDownFileModifyDate() Fail, RetVal = "
                 "%d",
                 nSet);
        return -5;
    }
    return 0;
}
