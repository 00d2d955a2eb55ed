// Trusted mode's list file: the workstation's keys, the signature fetched beside the list,
// and the verdict that lets a list replace the one the last run used.
#include "engine/SyncEngine.h"

#include "apply/Apply.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "transfer/Transfer.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"

#include <ctime>

int CSyncEngine::LoadListKey() {
    const std::string path = ListKeyFilePath(m_pConfig->m_strLocalBaseDir);
    std::string why;
    const int r = LoadListKeys(path, m_listKeys, why);
    m_bTrusted = r != kListKeysAbsent; // a broken key file never falls back to plain mode
    m_pfnEncodeUrl = m_bTrusted ? &CSyncEngine::EncodeUrlReserved : &CSyncEngine::EncodeUrl;
    if (r == kListKeysInvalid) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::LoadListKey> Invalid Key File(%s)", path.c_str());
        WriteLog(g_pMyLog, 4, "CSyncEngine::LoadListKey> Reason = %s", why.c_str());
        return -1;
    }
    if (r == kListKeysLoaded)
        WriteLog(g_pMyLog, 2, "CSyncEngine::LoadListKey> Trusted Mode, %d Key(s) From %s",
                 static_cast<int>(m_listKeys.size()), path.c_str());
    return r == kListKeysLoaded ? 1 : 0;
}

bool CSyncEngine::FetchSignature(const std::string& path, std::string& signature,
                                 std::string& reason) {
    try {
        std::unique_ptr<plat::CHttpRequest> request =
            m_pConnection != nullptr
                ? m_pConnection->OpenRequest("GET", m_pfnEncodeUrl(path), kAcceptTypes)
                : nullptr;
        if (request == nullptr) {
            reason = "no request could be made for the signature";
            return false;
        }
        request->Send();
        LogRedirects(*request, "CSyncEngine::VerifyListFile");
        int nStatus = 0;
        if (!request->QueryStatusCode(nStatus) || nStatus != 200) {
            reason =
                "no signature " + path + " on the server (status " + std::to_string(nStatus) + ")";
            return false;
        }
        char buf[512];
        for (std::size_t n; (n = request->Read(buf, sizeof buf)) > 0;) {
            signature.append(buf, n);
            if (signature.size() > kSignatureMax) {
                reason = "the signature is larger than " + std::to_string(kSignatureMax) + " bytes";
                return false;
            }
        }
        return true;
    } catch (const plat::CHttpError& error) {
        reason = "the signature could not be fetched: " + HttpErrorText(error);
        return false;
    }
}

int CSyncEngine::RefuseListFile(const std::string& unverified, const std::string& reason) {
    WriteLog(g_pMyLog, 4, "CSyncEngine::VerifyListFile> Fail, Reason = %s", reason.c_str());
    plat::RemoveFile(unverified);
    return -3;
}

int CSyncEngine::FetchVerifiedListFile() {
    // The new list is checked beside the old one, which stays until the new one is accepted.
    DownFileItem unverified = g_ListFileItem;
    unverified.m_strTargetFile += ".unverified";
    if (DownloadFile(unverified, false) < 0) {
        plat::RemoveFile(unverified.m_strTargetFile);
        return -1;
    }
    std::string signature;
    std::string reason;
    const std::string sigPath =
        m_pConfig->m_strDownloadBaseUrl + "/" + g_ListFileItem.m_strServerFile + ".sig";
    if (!FetchSignature(sigPath, signature, reason))
        return RefuseListFile(unverified.m_strTargetFile, reason);
    std::string bytes;
    if (!ReadListFileBytes(unverified.m_strTargetFile, bytes))
        return RefuseListFile(unverified.m_strTargetFile, "the downloaded list cannot be read");
    const std::int64_t nKept = ReadListSerial(m_pConfig->m_strIniPath);
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
    plat::CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    m_listOrigin = CApplyOrigin{};
    plat::Sha256Digest digest{};
    if (sha.Finish(digest))
        m_listOrigin = CApplyOrigin{g_ListFileItem.m_strTargetFile, Sha256Hex(digest), signature};
    if (verdict.nSerial > nKept && !WriteListSerial(m_pConfig->m_strIniPath, verdict.nSerial))
        WriteLog(g_pMyLog, 3, "CSyncEngine::VerifyListFile> LIST_SERIAL Not Written To %s",
                 m_pConfig->m_strIniPath.c_str());
    return 0;
}
