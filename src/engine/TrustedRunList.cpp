// Trusted mode's list file: the signature fetched beside the list, and the verdict that lets
// a list replace the one the last run used.
#include "engine/TrustedRun.h"

#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "engine/RolloutTurn.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Fetch.h"
#include "transfer/MemorySink.h"
#include "transfer/ServerFailOver.h"
#include "transfer/TargetFileSink.h"
#include "transfer/Transfer.h"
#include "trust/FormIndex.h"
#include "trust/ListKeys.h"
#include "trust/Rollout.h"
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

int CTrustedRun::RefuseListFile(CSyncEngine& engine, const std::string& reason) {
    WriteLog(g_pMyLog, 4, "CSyncEngine::VerifyListFile> Fail, Reason = %s", reason.c_str());
    engine.m_runCause.Fail("signature", reason);
    return -3;
}

// The list as the server sends it now, whatever size the HEAD before it saw: a release store
// may have put a new list in place between the two requests.
bool CTrustedRun::FetchListBytes(CSyncEngine& engine, std::string& bytes) {
    CFetchSpec spec;
    spec.strPath = engine.m_pConfig->m_strDownloadBaseUrl + "/" + g_ListFileItem.m_strServerFile;
    CItemLane lane = engine.Lane();
    const int r = OnServers(lane.conn, spec.strPath, true, [&] {
        bytes.clear();
        CMemorySink sink(bytes, static_cast<std::size_t>(kListFileMaxBytes));
        CFetchResult result;
        return FetchBody(lane, spec, sink, result);
    });
    if (r == -4)
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> List File Larger Than %lld Bytes",
                 static_cast<long long>(kListFileMaxBytes));
    return r == 0;
}

// The accepted list in the list file's place, with the server's time.
bool CTrustedRun::StoreListFile(const std::string& bytes) {
    if (!plat::WriteWholeFile(g_ListFileItem.m_strTargetFile, bytes, false)) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::VerifyListFile> Local File Replace(%s) Fail",
                 g_ListFileItem.m_strTargetFile.c_str());
        return false;
    }
    CSyncEngine::SetDownFileModifyDate(g_ListFileItem);
    return true;
}

int CTrustedRun::FetchListFile(CSyncEngine& engine) {
    // The local list file stays as it is until the new one is accepted.
    m_acceptedListBytes.reset();
    std::string bytes;
    if (!FetchListBytes(engine, bytes))
        return -1;
    std::string signature;
    std::string reason;
    std::string body;
    if (!SplitCarriedSignature(bytes, body, signature) &&
        !FetchSignature(engine,
                        engine.m_pConfig->m_strDownloadBaseUrl + "/" +
                            g_ListFileItem.m_strServerFile + ".sig",
                        signature, reason))
        return RefuseListFile(engine, reason);
    const std::int64_t nKept = ReadListSerial(engine.m_pConfig->m_strIniPath);
    const auto tNow = static_cast<std::int64_t>(std::time(nullptr));
    CListVerdict verdict = VerifySignedList(bytes, signature, m_listKeys, nKept, tNow);
    CRollout rollout;
    if (!verdict.bAccepted || !ReadRollout(bytes, rollout, verdict.strReason))
        return RefuseListFile(engine, verdict.strReason);
    m_tTurn = RolloutTurn(*engine.m_pConfig, verdict.nSerial, rollout, tNow);
    if (m_tTurn != 0) {
        WriteLog(g_pMyLog, 2,
                 "CSyncEngine::VerifyListFile> Serial = %lld Not Yet Due Here, Turn At %s UTC",
                 static_cast<long long>(verdict.nSerial), UtcDigitsFromTime(m_tTurn).c_str());
        return kListNotYetDue;
    }
    KeepInstalledListBytes(bytes);
    if (!StoreListFile(bytes))
        return -1;
    WriteLog(g_pMyLog, 2, "CSyncEngine::VerifyListFile> Verified, Serial = %lld",
             static_cast<long long>(verdict.nSerial));
    KeepAccepted(engine, bytes, signature, verdict.nSerial, nKept);
    m_acceptedListBytes = std::move(bytes);
    return 0;
}

void CTrustedRun::KeepAccepted(CSyncEngine& engine, const std::string& bytes,
                               const std::string& signature, std::int64_t nSerial,
                               std::int64_t nKept) {
    const std::string hash = Sha256HexOf(bytes);
    m_listOrigin = CApplyOrigin{};
    if (!hash.empty())
        m_listOrigin = CApplyOrigin{g_ListFileItem.m_strTargetFile, hash, signature};
    m_nListSerial = nSerial;
    if (nSerial > nKept && !WriteListSerial(engine.m_pConfig->m_strIniPath, nSerial))
        WriteLog(g_pMyLog, 3, "CSyncEngine::VerifyListFile> LIST_SERIAL Not Written To %s",
                 engine.m_pConfig->m_strIniPath.c_str());
}

void CTrustedRun::KeepInstalledListBytes(const std::string& newList) {
    m_installedListBytes.clear();
    m_formsRef = CFormsRef{};
    if (ReadFormsRef(newList, m_formsRef) &&
        !ReadListFileBytes(g_ListFileItem.m_strTargetFile, m_installedListBytes))
        m_installedListBytes.clear();
}

CInstalledList CTrustedRun::InstalledList(CSyncEngine& engine) const {
    DownFileItemList list;
    ParseListBytes(
        m_installedListBytes, engine.m_pConfig->m_strLocalBaseDir,
        [&engine](DownFileItem& item) { engine.View().ExpandSpecialDirPath(item); }, list,
        ListLineMax());
    return CInstalledList(list, engine.m_pConfig->m_nTimeCheckSpan);
}
