// Trusted mode's list file: the signature fetched beside the list, and the verdict that lets
// a list replace the one the last run used.
#include "engine/TrustedRun.h"

#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Fetch.h"
#include "transfer/MemorySink.h"
#include "transfer/TargetFileSink.h"
#include "transfer/Transfer.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"
#include "updatelist/StringUtil.h"

#include <ctime>

CSyncConnection::EncodeFn CTrustedRun::UrlEncoding() const {
    return &CSyncConnection::EncodeUrlPathReserved;
}

std::size_t CTrustedRun::ListLineMax() const {
    return kSignedLineMax + 1; // a signed list was checked line by line: its lines are read whole
}

int CTrustedRun::Retries(const CSyncEngine& engine) const {
    return engine.m_pConfig->m_nRetryCount;
}

void CTrustedRun::Recover(CSyncEngine& engine) {
    RecoverApplyOfFolder(engine.m_pConfig->m_strLocalBaseDir, "CSyncEngine::RecoverApply");
}

std::unique_ptr<CBodySink> CTrustedRun::TargetSink(const DownFileItem& item) const {
    return std::make_unique<CTargetFileSink>(item, true, true);
}

bool CTrustedRun::FetchSignature(CSyncEngine& engine, const std::string& path,
                                 std::string& signature, std::string& reason) {
    CFetchSpec spec;
    spec.strPath = path;
    spec.pszWho = "CSyncEngine::VerifyListFile";
    spec.bQuiet = true;
    CMemorySink sink(signature, kSignatureMax);
    CFetchResult result;
    CItemLane lane = engine.Lane();
    switch (FetchBody(lane, spec, sink, result)) {
    case 0:
        return true;
    case -1:
        reason = "no request could be made for the signature";
        return false;
    case -2:
        reason = "no signature " + path + " on the server (status " +
                 std::to_string(result.nStatus) + ")";
        return false;
    case -4:
        reason = "the signature is larger than " + std::to_string(kSignatureMax) + " bytes";
        return false;
    default:
        reason = "the signature could not be fetched: " + result.strError;
        return false;
    }
}

int CTrustedRun::RefuseListFile(const std::string& unverified, const std::string& reason) {
    WriteLog(g_pMyLog, 4, "CSyncEngine::VerifyListFile> Fail, Reason = %s", reason.c_str());
    plat::RemoveFile(unverified);
    return -3;
}

int CTrustedRun::FetchListFile(CSyncEngine& engine) {
    // The new list is checked beside the old one, which stays until the new one is accepted.
    DownFileItem unverified = g_ListFileItem;
    unverified.m_strTargetFile += ".unverified";
    CTargetFileSink sink(unverified, true, false);
    CFetchSpec spec;
    spec.strPath = engine.m_pConfig->m_strDownloadBaseUrl + "/" + unverified.m_strServerFile;
    spec.nExpected = AtoiValue(unverified.m_strFileSize);
    CFetchResult result;
    CItemLane lane = engine.Lane();
    if (FetchBody(lane, spec, sink, result) < 0) {
        plat::RemoveFile(unverified.m_strTargetFile);
        return -1;
    }
    std::string signature;
    std::string reason;
    const std::string sigPath =
        engine.m_pConfig->m_strDownloadBaseUrl + "/" + g_ListFileItem.m_strServerFile + ".sig";
    if (!FetchSignature(engine, sigPath, signature, reason))
        return RefuseListFile(unverified.m_strTargetFile, reason);
    std::string bytes;
    if (!ReadListFileBytes(unverified.m_strTargetFile, bytes))
        return RefuseListFile(unverified.m_strTargetFile, "the downloaded list cannot be read");
    const std::int64_t nKept = ReadListSerial(engine.m_pConfig->m_strIniPath);
    const CListVerdict verdict = VerifySignedList(bytes, signature, m_listKeys, nKept,
                                                  static_cast<std::int64_t>(std::time(nullptr)));
    if (!verdict.bAccepted)
        return RefuseListFile(unverified.m_strTargetFile, verdict.strReason);
    if (!plat::ReplaceFileWith(unverified.m_strTargetFile, g_ListFileItem.m_strTargetFile)) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::VerifyListFile> Local File Replace(%s) Fail",
                 g_ListFileItem.m_strTargetFile.c_str());
        plat::RemoveFile(unverified.m_strTargetFile);
        return -1;
    }
    WriteLog(g_pMyLog, 2, "CSyncEngine::VerifyListFile> Verified, Serial = %lld",
             static_cast<long long>(verdict.nSerial));
    KeepAccepted(engine, bytes, signature, verdict.nSerial, nKept);
    return 0;
}

void CTrustedRun::KeepAccepted(CSyncEngine& engine, const std::string& bytes,
                               const std::string& signature, std::int64_t nSerial,
                               std::int64_t nKept) {
    const std::string hash = Sha256HexOf(bytes);
    m_listOrigin = CApplyOrigin{};
    if (!hash.empty())
        m_listOrigin = CApplyOrigin{g_ListFileItem.m_strTargetFile, hash, signature};
    if (nSerial > nKept && !WriteListSerial(engine.m_pConfig->m_strIniPath, nSerial))
        WriteLog(g_pMyLog, 3, "CSyncEngine::VerifyListFile> LIST_SERIAL Not Written To %s",
                 engine.m_pConfig->m_strIniPath.c_str());
}
