#include "transfer/StagingSink.h"

#include "apply/PartialValidators.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "trust/SignedList.h"
#include "updatelist/StringUtil.h"

#include <utility>
#include <vector>

bool HashFileInto(const std::string& path, plat::CSha256& sha) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    std::vector<char> buf(1 << 16);
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), fp)) > 0;)
        sha.Update(buf.data(), n);
    const bool bOk = std::ferror(fp) == 0;
    std::fclose(fp);
    return bOk;
}

CStagingSink::CStagingSink(const DownFileItem& item, std::string strStaged,
                           const plat::Sha256Digest& expected)
    : m_item(item), m_strStaged(std::move(strStaged)), m_expected(expected),
      m_nExpected(AtoiValue(item.m_strFileSize)) {
    m_bHash = true;
    m_nOffset = plat::FileSizeOf(PartialPath(m_strStaged));
    // Only a partial file that a try can go on with needs its validator.
    if (m_nOffset > 0 && m_nOffset < m_nExpected)
        m_strLastModified = CPartialValidators::Find(m_strStaged);
    if (m_strLastModified.empty())
        m_nOffset = 0;
}

int CStagingSink::Begin(plat::CHttpRequest& request, bool bResumed) {
    const std::string partial = PartialPath(m_strStaged);
    if (!bResumed)
        m_nOffset = 0;
    if (bResumed) {
        // The bytes already held go into the hash first.
        WriteLog(g_pMyLog, 2, "CSyncEngine::DownloadOneFileFromServer> Resume(%s) At %lld",
                 m_item.m_strServerFile.c_str(), static_cast<long long>(m_nOffset));
        if (!HashFileInto(partial, m_sha))
            return -3;
    } else {
        std::string text;
        request.QueryHeader("Last-Modified", text);
        m_answerValidator = std::move(text);
        if (m_nExpected >= kRecordValidatorFrom)
            RecordValidator();
    }
    m_local.Reset(plat::OpenFile(partial, bResumed ? "ab" : "wb"));
    if (m_local.get() != nullptr)
        return 0;
    WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> Local File Open(%s) Fail",
             partial.c_str());
    return -3;
}

int CStagingSink::BeginLocal() {
    // No validator: the bytes written are the file's own from its start, which a later try
    // may go on with only under a validator an earlier answer recorded.
    m_nOffset = 0;
    m_local.Reset(plat::OpenFile(PartialPath(m_strStaged), "wb"));
    return m_local.get() != nullptr ? 0 : -3;
}

int CStagingSink::Finish(std::int64_t nReceived) {
    // A large file's bytes head for the disk while other files download: the apply's flush
    // then finds little left to write. A small file's are left to that flush, which writes
    // many at once: a write of its own for each cost more than it saved.
    const bool bLarge = m_nOffset + nReceived >= kWriteBackFrom;
    if ((bLarge && !plat::StartWriteBack(m_local.get())) || !m_local.Close())
        return -3;
    return Verify(m_nOffset + nReceived);
}

void CStagingSink::Abandon(int /*r*/) {
    RecordValidator();
}

void CStagingSink::RecordValidator() {
    if (m_answerValidator)
        CPartialValidators::Record(m_strStaged, *m_answerValidator);
    m_answerValidator.reset();
}

int CStagingSink::Verify(std::int64_t nTotal) {
    const std::string partial = PartialPath(m_strStaged);
    if (nTotal != m_nExpected) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> Server File Size = %d, Write File "
                 "Size = %d",
                 static_cast<int>(m_nExpected), static_cast<int>(nTotal));
        if (nTotal > m_nExpected)
            plat::RemoveFile(partial);
        else
            RecordValidator(); // the next try goes on with it
        return -4;
    }
    plat::Sha256Digest computed{};
    if (!m_sha.Finish(computed) || computed != m_expected) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> File(%s) SHA-256 Mismatch, Expected "
                 "= %s, Computed = %s",
                 m_item.m_strServerFile.c_str(), Sha256Hex(m_expected).c_str(),
                 Sha256Hex(computed).c_str());
        plat::RemoveFile(partial);
        return -8;
    }
    return plat::ReplaceOwnFile(partial, m_strStaged) ? 0 : -3;
}
