// Trusted mode's download loop: nothing under a target name changes until every file the run
// needs is staged and verified; then the set goes into place as one transaction.
#include "engine/SyncEngine.h"

#include "apply/Apply.h"
#include "apply/PartialValidators.h"
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
#include <unordered_map>

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

// Where a download into staged is received.
std::string PartialPath(const std::string& staged) {
    return staged + ".part";
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

namespace {

// True when a 206 answer carries the rest of the file from nOffset on.
bool AnswersRangeFrom(plat::CHttpRequest& request, std::int64_t nOffset) {
    std::string range;
    return request.QueryHeader("Content-Range", range) &&
           range.compare(0, 6 + std::to_string(nOffset).size() + 1,
                         "bytes " + std::to_string(nOffset) + "-") == 0;
}

// What the partial file holds before the body is appended: for a resumed download its bytes
// go into sha; for a whole one the answer's Last-Modified becomes the validator of the next
// try. 0, or -3 when the partial file cannot be read.
int BeginPartial(plat::CHttpRequest& request, bool bResumed, const DownFileItem& item,
                 const std::string& partial, const std::string& staged, std::int64_t nOffset,
                 plat::CSha256& sha) {
    if (bResumed) {
        WriteLog(g_pMyLog, 2, "CSyncEngine::DownloadOneFileFromServer> Resume(%s) At %lld",
                 item.m_strServerFile.c_str(), static_cast<long long>(nOffset));
        return HashFile(partial, sha) ? 0 : -3;
    }
    std::string text;
    request.QueryHeader("Last-Modified", text);
    CPartialValidators::Record(staged, text);
    return 0;
}

// The whole partial file of nTotal bytes checked against the list's size and hash, then moved
// to staged. 0, -4 for a size that differs, -8 for a hash that differs, -3 when the move
// fails. A partial file that is too long or has another hash is removed; a short one stays for
// the next try.
int FinishStaging(const DownFileItem& item, const std::string& staged, std::int64_t nTotal,
                  std::int64_t nExpected, plat::CSha256& sha, const plat::Sha256Digest& expected) {
    const std::string partial = PartialPath(staged);
    if (nTotal != nExpected) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> Server File Size = %d, Write File "
                 "Size = %d",
                 static_cast<int>(nExpected), static_cast<int>(nTotal));
        if (nTotal > nExpected)
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
        return -8;
    }
    return plat::ReplaceFileWith(partial, staged) ? 0 : -3;
}

} // namespace

std::unique_ptr<plat::CHttpRequest> CSyncEngine::SendStagingRequest(const std::string& path,
                                                                    std::int64_t nOffset,
                                                                    const std::string& lastModified,
                                                                    int& nStatus) {
    std::unique_ptr<plat::CHttpRequest> request =
        m_pConnection != nullptr
            ? m_pConnection->OpenRequest("GET", m_pfnEncodeUrl(path), kAcceptTypes)
            : nullptr;
    if (request == nullptr)
        return nullptr;
    if (nOffset > 0) {
        // The rest of what an earlier try left, if the file is still the one it began.
        request->AddHeader("Range: bytes=" + std::to_string(nOffset) + "-");
        request->AddHeader("If-Range: " + lastModified);
    }
    ++m_nRequestsSent;
    request->Send();
    LogRedirects(*request, "CSyncEngine::DownloadOneFileFromServer");
    nStatus = 0;
    request->QueryStatusCode(nStatus);
    m_nLastHttpStatus = nStatus;
    m_nResponses += nStatus != 0 ? 1 : 0;
    return request;
}

int CSyncEngine::ReceiveIntoPartial(plat::CHttpRequest& request, const std::string& partial,
                                    bool bResumed, std::int64_t nRest, plat::CSha256& sha,
                                    std::int64_t& nReceived) {
    CLocalFile local;
    local.Reset(plat::OpenFile(partial, bResumed ? "ab" : "wb"));
    if (local.get() == nullptr) {
        WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> Local File Open(%s) Fail",
                 partial.c_str());
        return -3;
    }
    View().SetFileRange(0, 100);
    View().SetFilePos(0);
    const int r = ReceiveBody(request, local.get(), static_cast<int>(nRest), nReceived, &sha);
    if (r != 0)
        return r; // what arrived stays for the next try
    request.Close();
    // The staged bytes head for the disk while other files download: the apply's flush then
    // finds little left to write.
    return plat::StartWriteBack(local.get()) && local.Close() ? 0 : -3;
}

int CSyncEngine::DownloadToStaging(const DownFileItem& item, const std::string& staged,
                                   const plat::Sha256Digest& expected) {
    const std::string path = m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    const std::string partial = PartialPath(staged);
    const std::int64_t nExpected = AtoiValue(item.m_strFileSize);
    std::int64_t nOffset = FileSize(partial);
    // Only a partial file that a try can go on with needs its validator.
    const std::string lastModified =
        nOffset > 0 && nOffset < nExpected ? CPartialValidators::Find(staged) : std::string();
    if (lastModified.empty())
        nOffset = 0;
    WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::DownloadOneFileFromServer> File URL = %s",
             path.c_str());
    try {
        int nStatus = 0;
        std::unique_ptr<plat::CHttpRequest> request =
            SendStagingRequest(path, nOffset, lastModified, nStatus);
        if (request == nullptr)
            return -1;
        const bool bResumed = nOffset > 0 && nStatus == 206 && AnswersRangeFrom(*request, nOffset);
        if (!bResumed && nStatus != 200) {
            WriteLog(g_pMyLog, 4,
                     "CCobaltSyncThread::DownloadOneFileFromServer> QueryInfoStatusCode(%s) "
                     "Return = %d",
                     path.c_str(), nStatus);
            return -2;
        }
        if (!bResumed)
            nOffset = 0;
        plat::CSha256 sha;
        std::int64_t nReceived = 0;
        int r = BeginPartial(*request, bResumed, item, partial, staged, nOffset, sha);
        if (r == 0)
            r = ReceiveIntoPartial(*request, partial, bResumed, nExpected - nOffset, sha,
                                   nReceived);
        if (r != 0)
            return r;
        return FinishStaging(item, staged, nOffset + nReceived, nExpected, sha, expected);
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
                                   const std::vector<std::string>& stagedPaths,
                                   const std::vector<DownFileItem*>& deletions) {
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
    for (const DownFileItem* item : deletions) {
        if (!Exists(item->m_strTargetFile))
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
    transaction.m_origin = m_listOrigin;
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
    ReportApplyFailure(r, failure);
    return false;
}

void CSyncEngine::ReportApplyFailure(int r, const CApplyFailure& failure) {
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
    if (failure.bUndone)
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::ApplyStagedFiles> Undone, The Installed Files Are Kept");
    else
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::ApplyStagedFiles> Undo Incomplete, The Journal Stays For The "
                 "Recovery At The Next Start");
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

// For each item, the item whose line counts for its target (itself when no other names it).
// The one-by-one loop writes an earlier line's file and then a later one's over it, and
// deletes the DEL lines' files after every download: so the later line counts, and a DEL line
// over any other.
std::vector<std::size_t> CountingLines(const DownFileItemList& items) {
    std::unordered_map<std::string, std::size_t> last;
    std::vector<std::string> keys(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        keys[i] = plat::PathKey(items[i]->m_strTargetFile);
        const auto found = last.emplace(keys[i], i);
        const bool bDelKept = items[found.first->second]->m_nFileType == kFileTypeDel &&
                              items[i]->m_nFileType != kFileTypeDel;
        if (!found.second && !bDelKept)
            found.first->second = i;
    }
    std::vector<std::size_t> counting(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        counting[i] = last[keys[i]];
    return counting;
}

// What of the item's file is still to be fetched: nothing when an earlier run staged it (the
// stage checks its hash again before it is used), the rest when it began it. With bNoneStaged
// (an empty staging folder) nothing is looked for.
std::uint64_t BytesStillToStage(const DownFileItem& item, const std::string& staging,
                                bool bNoneStaged) {
    const std::int64_t nSize = std::max<std::int64_t>(AtoiValue(item.m_strFileSize), 0);
    plat::Sha256Digest digest{};
    if (bNoneStaged || !ParseSha256Hex(item.m_strSha256, digest))
        return static_cast<std::uint64_t>(nSize);
    const std::string staged = plat::JoinPath(staging, Sha256Hex(digest));
    if (FileSize(staged) == nSize)
        return 0;
    const std::int64_t nPartial = FileSize(PartialPath(staged));
    return static_cast<std::uint64_t>(nPartial > 0 && nPartial < nSize ? nSize - nPartial : nSize);
}

} // namespace

int CSyncEngine::DecideTrustedItems(std::vector<DownFileItem*>& toFetch,
                                    std::vector<DownFileItem*>& deletions,
                                    std::vector<std::size_t>& counting) {
    const int nCount = static_cast<int>(m_DownFileItemList.size());
    int nResult = 1;
    std::vector<int> decisions(static_cast<std::size_t>(nCount));
    const std::vector<CTargetCheck> targets = CheckTargets(m_DownFileItemList);
    counting = CountingLines(m_DownFileItemList);
    ForEachItem(
        nCount,
        [&](CSyncEngine& engine, int i) {
            const std::size_t n = static_cast<std::size_t>(i);
            decisions[n] = engine.DecideItem(*m_DownFileItemList[n], i + 1, nCount, &targets[n]);
            return true;
        },
        [&](int i, bool) {
            const std::size_t n = static_cast<std::size_t>(i);
            DownFileItem* item = m_DownFileItemList[n].get();
            if (decisions[n] < 0)
                nResult = 0;
            if (counting[n] != n) {
                WriteLog(g_pMyLog, 3,
                         "CSyncEngine::DownloadFilesTrusted> Items %d And %d Name One Target(%s), "
                         "Item %d Counts",
                         i + 1, static_cast<int>(counting[n]) + 1, item->m_strTargetFile.c_str(),
                         static_cast<int>(counting[n]) + 1);
            } else if (item->m_nFileType == kFileTypeDel) {
                deletions.push_back(item);
            } else if (decisions[n] > 0) {
                toFetch.push_back(item);
            }
        });
    return nResult;
}

bool CSyncEngine::HasRoomToStage(const std::vector<DownFileItem*>& toFetch) {
    const std::string staging = StagingFolder(m_pConfig->m_strLocalBaseDir);
    if (!EnsureStagingFolder(m_pConfig->m_strLocalBaseDir))
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::DownloadFilesTrusted> Staging Folder(%s) Access Not Restricted, "
                 "ErrCode = %d",
                 staging.c_str(), plat::LastErrorCode());
    // After a committed run the folder is empty: one look at it instead of two per item.
    std::vector<plat::FoundFile> found;
    const bool bNoneStaged = !toFetch.empty() &&
                             !plat::FindFiles(plat::JoinPath(staging, "*"), found) &&
                             plat::LastErrorCode() == plat::kErrFileNotFound;
    std::uint64_t nNeeded = 0;
    for (const DownFileItem* item : toFetch)
        nNeeded += BytesStillToStage(*item, staging, bNoneStaged);
    if (nNeeded == 0)
        return true;
    // A margin, and the copy of the list that the apply keeps with its journal.
    nNeeded +=
        nNeeded / 20 + (1u << 20) +
        static_cast<std::uint64_t>(std::max<std::int64_t>(FileSize(m_listOrigin.strListFile), 0));
    std::uint64_t nFree = 0;
    if (!plat::FreeDiskSpace(staging, nFree) || nFree >= nNeeded)
        return true;
    std::string text;
    FormatWithCommas(std::to_string(nNeeded), text);
    WriteLog(g_pMyLog, 4,
             "CSyncEngine::DownloadFilesTrusted> Disk Full, Needed = %llu, Free = %llu",
             static_cast<unsigned long long>(nNeeded), static_cast<unsigned long long>(nFree));
    AddFormattedRow(kStatusError, "디스크 공간 부족 (필요 " + text + " 바이트)");
    return false;
}

bool CSyncEngine::StageAll(const std::vector<DownFileItem*>& toFetch,
                           std::vector<std::string>& stagedPaths) {
    const int nFetch = static_cast<int>(toFetch.size());
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
    CPartialValidators::DropUnused(StagingFolder(m_pConfig->m_strLocalBaseDir));
    if (m_nRequestStopFlag != 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 m_nRequestStopFlag.load());
        bAllStaged = bAllStaged && nStaged == nFetch;
    }
    if (!bAllStaged)
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::DownloadFilesTrusted> %d Of %d Files Staged, Nothing Applied",
                 nStagedOk, nFetch);
    return bAllStaged;
}

int CSyncEngine::DownloadFilesTrusted() {
    std::vector<DownFileItem*> toFetch;
    std::vector<DownFileItem*> deletions;
    std::vector<std::size_t> counting;
    const int nResult = DecideTrustedItems(toFetch, deletions, counting);
    if (m_nRequestStopFlag != 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 m_nRequestStopFlag.load());
        return nResult; // nothing staged, nothing changed
    }
    std::vector<std::string> stagedPaths(toFetch.size());
    const bool bApplied = HasRoomToStage(toFetch) && StageAll(toFetch, stagedPaths) &&
                          ApplyStagedFiles(toFetch, stagedPaths, deletions);
    for (DownFileItem* item : toFetch) {
        item->m_nSyncOkFlag = bApplied ? 1 : 0;
        if (bApplied) {
            ++m_nDownloadedFiles;
            m_nDownloadedBytes += AtoiValue(item->m_strFileSize);
        }
    }
    // A line that another one overrides ends as the line that counts.
    for (std::size_t i = 0; i < counting.size(); ++i)
        m_DownFileItemList[i]->m_nSyncOkFlag = m_DownFileItemList[counting[i]]->m_nSyncOkFlag;
    if (bApplied && nResult == 1)
        ClearStagingFolder(m_pConfig->m_strLocalBaseDir); // nothing staged is needed any more
    return bApplied ? nResult : 0;
}
