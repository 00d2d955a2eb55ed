// Trusted mode's download loop: nothing under a target name changes until every file the run
// needs is staged and verified; then the set goes into place as one transaction.
#include "engine/SyncEngine.h"

#include "apply/Apply.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "transfer/HttpDate.h"
#include "transfer/Transfer.h"
#include "trust/SignedList.h"
#include "updatelist/StringUtil.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>

namespace {

constexpr int kRetryDelayMaxS = 30;

bool Exists(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status);
}

std::int64_t FileSize(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status) ? static_cast<std::int64_t>(status.nSize) : -1;
}

// The SHA-256 of a whole file; false when it cannot be read.
bool HashFile(const std::string& path, plat::CSha256& sha) {
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

bool FileHasHash(const std::string& path, const plat::Sha256Digest& expected) {
    plat::CSha256 sha;
    plat::Sha256Digest digest{};
    return HashFile(path, sha) && sha.Finish(digest) && digest == expected;
}

// The validator of a partial download (the server's Last-Modified), a line of text.
std::string ReadSmallFile(const std::string& path) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return std::string();
    char buf[256];
    const std::size_t n = std::fread(buf, 1, sizeof buf, fp);
    std::fclose(fp);
    return std::string(buf, n);
}

void WriteSmallFile(const std::string& path, const std::string& text) {
    if (std::FILE* fp = plat::OpenFile(path, "wb")) {
        plat::WriteToFile(fp, text.data(), text.size());
        plat::CloseFile(fp);
    }
}

std::string SystemText(int nError) {
    std::string text;
    if (!plat::SystemErrorText(nError, text))
        text = "error " + std::to_string(nError);
    return text;
}

} // namespace

int CSyncEngine::WithRetries(const std::string& what, bool bGet,
                             const std::function<int()>& attempt) {
    const int nRetries = m_bTrusted ? m_pConfig->m_nRetryCount : 0;
    for (int nAttempt = 0;; ++nAttempt) {
        const int r = attempt();
        const bool bStatusTransient = m_nLastHttpStatus == 0 || m_nLastHttpStatus >= 500;
        const bool bTransient =
            bGet ? (r == -1 || r == -4 || r == -6 || (r == -2 && bStatusTransient))
                 : (r == -1 || r == -9 || ((r == -2 || r == -5) && bStatusTransient));
        if (r >= 0 || !bTransient || nAttempt >= nRetries || m_nRequestStopFlag != 0)
            return r;
        const int nDelayS = std::min(1 << std::min(nAttempt, 5), kRetryDelayMaxS);
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::RetryTransfer> %s Failed, RetVal = %d, Status = %d, Retry %d Of %d "
                 "In %d s",
                 what.c_str(), r, m_nLastHttpStatus, nAttempt + 1, nRetries, nDelayS);
        for (int nWaited = 0; nWaited < nDelayS * 1000 && m_nRequestStopFlag == 0; nWaited += 50)
            plat::SleepMs(50);
        if (m_nRequestStopFlag != 0)
            return r;
    }
}

int CSyncEngine::DownloadToStaging(const DownFileItem& item, const std::string& staged,
                                   const plat::Sha256Digest& expected) {
    const std::string path = m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    const std::string partial = staged + ".part";
    const std::string validator = staged + ".part.lm";
    const std::int64_t nExpected = AtoiValue(item.m_strFileSize);
    std::int64_t nOffset = FileSize(partial);
    std::string lastModified = ReadSmallFile(validator);
    if (nOffset <= 0 || nOffset >= nExpected || lastModified.empty())
        nOffset = 0;
    WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::DownloadOneFileFromServer> File URL = %s",
             path.c_str());
    try {
        std::unique_ptr<plat::CHttpRequest> request =
            m_pConnection != nullptr
                ? m_pConnection->OpenRequest("GET", m_pfnEncodeUrl(path), kAcceptTypes)
                : nullptr;
        if (request == nullptr)
            return -1;
        if (nOffset > 0) {
            // The rest of what an earlier try left, if the file is still the one it began.
            request->AddHeader("Range: bytes=" + std::to_string(nOffset) + "-");
            request->AddHeader("If-Range: " + lastModified);
        }
        ++m_nRequestsSent;
        request->Send();
        LogRedirects(*request, "CSyncEngine::DownloadOneFileFromServer");
        int nStatus = 0;
        request->QueryStatusCode(nStatus);
        m_nLastHttpStatus = nStatus;
        m_nResponses += nStatus != 0 ? 1 : 0;
        std::string range;
        const bool bResumed = nOffset > 0 && nStatus == 206 &&
                              request->QueryHeader("Content-Range", range) &&
                              range.compare(0, 6 + std::to_string(nOffset).size() + 1,
                                            "bytes " + std::to_string(nOffset) + "-") == 0;
        if (!bResumed && nStatus != 200) {
            WriteLog(g_pMyLog, 4,
                     "CCobaltSyncThread::DownloadOneFileFromServer> QueryInfoStatusCode(%s) "
                     "Return = %d",
                     path.c_str(), nStatus);
            return -2;
        }
        plat::CSha256 sha;
        if (bResumed) {
            WriteLog(g_pMyLog, 2, "CSyncEngine::DownloadOneFileFromServer> Resume(%s) At %lld",
                     item.m_strServerFile.c_str(), static_cast<long long>(nOffset));
            if (!HashFile(partial, sha))
                return -3;
        } else {
            nOffset = 0;
            std::string text;
            request->QueryHeader("Last-Modified", text);
            WriteSmallFile(validator, text);
        }
        CLocalFile local;
        local.Reset(plat::OpenFile(partial, bResumed ? "ab" : "wb"));
        if (local.get() == nullptr) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> Local File Open(%s) Fail",
                     partial.c_str());
            return -3;
        }
        View().SetFileRange(0, 100);
        View().SetFilePos(0);
        std::int64_t nReceived = 0;
        int r = ReceiveBody(*request, local.get(), static_cast<int>(nExpected - nOffset), nReceived,
                            &sha);
        if (r != 0)
            return r; // what arrived stays for the next try
        request->Close();
        if (!local.Close())
            return -3;
        if (nOffset + nReceived != nExpected) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> Server File Size = %d, Write File "
                     "Size = %d",
                     static_cast<int>(nExpected), static_cast<int>(nOffset + nReceived));
            if (nOffset + nReceived > nExpected)
                plat::RemoveFile(partial);
            return -4;
        }
        plat::Sha256Digest computed{};
        if (!sha.Finish(computed) || computed != expected) {
            WriteLog(g_pMyLog, 4,
                     "CSyncEngine::DownloadOneFileFromServer> File(%s) SHA-256 Mismatch, Expected "
                     "= %s, Computed = %s",
                     item.m_strServerFile.c_str(), Sha256Hex(expected).c_str(),
                     Sha256Hex(computed).c_str());
            plat::RemoveFile(partial);
            plat::RemoveFile(validator);
            return -8;
        }
        if (!plat::ReplaceFileWith(partial, staged))
            return -3;
        plat::RemoveFile(validator);
        return 0;
    } catch (const plat::CHttpError& error) {
        if (error.Code() == plat::kHttpErrStopped) {
            WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = %d",
                     m_nRequestStopFlag.load());
            return -7;
        }
        WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> ErrMsg = %s",
                 HttpErrorText(error).c_str());
        return -6;
    }
}

int CSyncEngine::StageItem(const DownFileItem& item, std::string& staged) {
    plat::Sha256Digest expected{};
    if (!ParseSha256Hex(item.m_strSha256, expected)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> File(%s) Has No Valid SHA-256, Column "
                 "7 = [%s]",
                 item.m_strServerFile.c_str(), item.m_strSha256.c_str());
        return -8;
    }
    const std::string folder = StagingFolder(m_pConfig->m_strLocalBaseDir);
    plat::CreateFolderChain(folder);
    staged = plat::JoinPath(folder, Sha256Hex(expected));
    // Staged and verified by an earlier run that could not apply it: checked once more.
    if (Exists(staged)) {
        if (FileSize(staged) == AtoiValue(item.m_strFileSize) && FileHasHash(staged, expected)) {
            WriteLog(g_pMyLog, 2, "CSyncEngine::StageItem> File(%s) Already Staged",
                     item.m_strServerFile.c_str());
            return 0;
        }
        plat::RemoveFile(staged);
    }
    return WithRetries(item.m_strServerFile, true,
                       [&] { return DownloadToStaging(item, staged, expected); });
}

bool CSyncEngine::ApplyStagedFiles(const std::vector<DownFileItem*>& items,
                                   const std::vector<std::string>& stagedPaths) {
    std::vector<CApplyOp> ops;
    for (std::size_t i = 0; i < items.size(); ++i) {
        CApplyOp op;
        op.strName = items[i]->m_strServerFile;
        op.strTarget = items[i]->m_strTargetFile;
        op.strStaged = stagedPaths[i];
        ModifyTimeToEpoch(items[i]->m_strModifyTime, op.tModify);
        WriteLog(g_pMyLog, 2, "CSyncEngine::ApplyStagedFiles> Replace %s", op.strTarget.c_str());
        ops.push_back(op);
    }
    // The deletions of DEL items belong to the same transaction.
    for (const auto& item : m_DownFileItemList) {
        if (item->m_nFileType != kFileTypeDel || !Exists(item->m_strTargetFile))
            continue;
        CApplyOp op;
        op.bDelete = true;
        op.strName = item->m_strServerFile;
        op.strTarget = item->m_strTargetFile;
        WriteLog(g_pMyLog, 2, "CSyncEngine::ApplyStagedFiles> Delete Local Flle = %s",
                 op.strTarget.c_str());
        ops.push_back(op);
    }
    if (ops.empty())
        return true;
    View().SetStepText("업데이트 파일 적용 중...");
    CApplyTransaction transaction(ApplyJournalPath(m_pConfig->m_strLocalBaseDir));
    transaction.m_afterStep = m_applyStepHook;
    transaction.m_onRetry = [](const std::string& path, int nAttempt, int nError) {
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::ApplyStagedFiles> File(%s) Is Locked, ErrCode = %d, Retry %d",
                 path.c_str(), nError, nAttempt);
    };
    CApplyFailure failure;
    const int r = transaction.Apply(ops, failure);
    if (r == 0) {
        WriteLog(g_pMyLog, 2, "CSyncEngine::ApplyStagedFiles> %d Files Committed",
                 static_cast<int>(ops.size()));
        return true;
    }
    const std::string reason = SystemText(failure.nError);
    if (r == -1) {
        const std::string holders = plat::ProcessesUsingFile(failure.strTarget);
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::ApplyStagedFiles> File(%s) Stays Locked, ErrCode = %d, %s%s%s",
                 failure.strTarget.c_str(), failure.nError, reason.c_str(),
                 holders.empty() ? "" : ", Held By ", holders.c_str());
        AddFormattedRow(kStatusError,
                        failure.strName + " 파일 교체 실패 : 다른 프로그램이 사용 중");
    } else {
        WriteLog(g_pMyLog, 4, "CSyncEngine::ApplyStagedFiles> File(%s) Fail, ErrCode = %d, %s",
                 failure.strTarget.c_str(), failure.nError, reason.c_str());
        AddFormattedRow(kStatusError,
                        (failure.strName.empty() ? failure.strTarget : failure.strName) +
                            " 파일 교체 실패 : " + reason);
    }
    WriteLog(g_pMyLog, 3, "CSyncEngine::ApplyStagedFiles> Undone, The Installed Files Are Kept");
    return false;
}

namespace {

// Every item's target looked at, the list split between two threads: a no-op run of a long
// list spends most of its time in these looks.
std::vector<CSyncEngine::CTargetCheck> CheckTargets(const DownFileItemList& items) {
    std::vector<CSyncEngine::CTargetCheck> checks(items.size());
    auto check = [&](std::size_t nFirst, std::size_t nEnd) {
        for (std::size_t i = nFirst; i < nEnd; ++i)
            checks[i] = CSyncEngine::CheckTarget(items[i]->m_strTargetFile);
    };
    constexpr std::size_t kSplitFrom = 256; // below it a thread costs more than it saves
    const std::size_t nHalf = items.size() >= kSplitFrom ? items.size() / 2 : items.size();
    std::thread other;
    if (nHalf < items.size()) {
        try {
            other = std::thread(check, nHalf, items.size());
        } catch (const std::system_error&) {
            check(nHalf, items.size()); // no thread to be had: one after the other
        }
    }
    check(0, nHalf);
    if (other.joinable())
        other.join();
    return checks;
}

} // namespace

int CSyncEngine::DownloadFilesTrusted() {
    const int nCount = static_cast<int>(m_DownFileItemList.size());
    int nResult = 1;
    std::vector<DownFileItem*> toFetch;
    std::vector<int> decisions(static_cast<std::size_t>(nCount));
    const std::vector<CTargetCheck> targets = CheckTargets(m_DownFileItemList);
    ForEachItem(
        nCount,
        [&](CSyncEngine& engine, int i) {
            const std::size_t n = static_cast<std::size_t>(i);
            decisions[n] = engine.DecideItem(*m_DownFileItemList[n], i + 1, nCount, &targets[n]);
            return true;
        },
        [&](int i, bool) {
            const int d = decisions[static_cast<std::size_t>(i)];
            if (d < 0)
                nResult = 0;
            else if (d > 0)
                toFetch.push_back(m_DownFileItemList[static_cast<std::size_t>(i)].get());
        });
    if (m_nRequestStopFlag != 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 m_nRequestStopFlag.load());
        return nResult; // nothing staged, nothing changed
    }
    // Room for what is to be fetched, with a margin, before a byte of it is fetched.
    std::uint64_t nNeeded = 0;
    for (const DownFileItem* item : toFetch)
        nNeeded += static_cast<std::uint64_t>(std::max(AtoiValue(item->m_strFileSize), 0));
    nNeeded += nNeeded / 20 + (1u << 20);
    const std::string staging = StagingFolder(m_pConfig->m_strLocalBaseDir);
    plat::CreateFolderChain(staging);
    std::uint64_t nFree = 0;
    if (!toFetch.empty() && plat::FreeDiskSpace(staging, nFree) && nFree < nNeeded) {
        std::string text;
        FormatWithCommas(std::to_string(nNeeded), text);
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadFilesTrusted> Disk Full, Needed = %llu, Free "
                 "= %llu",
                 static_cast<unsigned long long>(nNeeded), static_cast<unsigned long long>(nFree));
        AddFormattedRow(kStatusError, "디스크 공간 부족 (필요 " + text + " 바이트)");
        return 0;
    }
    const int nFetch = static_cast<int>(toFetch.size());
    std::vector<std::string> stagedPaths(toFetch.size());
    bool bAllStaged = true;
    int nStagedOk = 0;
    const int nStaged = ForEachItem(
        nFetch,
        [&](CSyncEngine& engine, int i) {
            DownFileItem& item = *toFetch[static_cast<std::size_t>(i)];
            engine.ShowTotal(i + 1, nFetch);
            engine.ShowFileName(item);
            const int r = engine.StageItem(item, stagedPaths[static_cast<std::size_t>(i)]);
            if (r < 0)
                engine.HandleFailedDownload(item, r);
            return r >= 0;
        },
        [&](int, bool bOk) {
            bAllStaged = bAllStaged && bOk;
            nStagedOk += bOk ? 1 : 0;
        },
        [&](int i) { return toFetch[static_cast<std::size_t>(i)]->m_strTargetFile; });
    if (m_nRequestStopFlag != 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 m_nRequestStopFlag.load());
        bAllStaged = bAllStaged && nStaged == nFetch;
    }
    if (!bAllStaged) {
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::DownloadFilesTrusted> %d Of %d Files Staged, Nothing Applied",
                 nStagedOk, nFetch);
        for (DownFileItem* item : toFetch)
            item->m_nSyncOkFlag = 0;
        return 0;
    }
    const bool bApplied = ApplyStagedFiles(toFetch, stagedPaths);
    for (DownFileItem* item : toFetch) {
        item->m_nSyncOkFlag = bApplied ? 1 : 0;
        if (bApplied) {
            ++m_nDownloadedFiles;
            m_nDownloadedBytes += AtoiValue(item->m_strFileSize);
        }
    }
    if (bApplied && nResult == 1)
        ClearStagingFolder(m_pConfig->m_strLocalBaseDir); // nothing staged is needed any more
    return bApplied ? nResult : 0;
}
