// Trusted mode's download loop: nothing under a target name changes until every file the run
// needs is staged and verified; then the set goes into place as one transaction.
#include "engine/TrustedRun.h"

#include "apply/Apply.h"
#include "apply/PartialValidators.h"
#include "config/SyncConfig.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "transfer/Fetch.h"
#include "transfer/FileSink.h"
#include "transfer/HttpDate.h"
#include "transfer/ServerFailOver.h"
#include "transfer/StagedWriteBack.h"
#include "transfer/StagingSink.h"
#include "transfer/Transfer.h"
#include "trust/FormIndex.h"
#include "trust/SignedList.h"
#include "updatelist/StringUtil.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace {

bool Exists(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status);
}

bool FileHasHash(const std::string& path, const plat::Sha256Digest& expected) {
    plat::CSha256 sha;
    plat::Sha256Digest digest{};
    return HashFileInto(path, sha) && sha.Finish(digest) && digest == expected;
}

} // namespace

int CTrustedRun::StageItem(CSyncEngine& engine, CItemLane& lane, const DownFileItem& item,
                           std::string& staged) {
    plat::Sha256Digest expected{};
    if (!ParseSha256Hex(item.m_strSha256, expected)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::DownloadOneFileFromServer> File(%s) Has No Valid SHA-256, Column "
                 "7 = [%s]",
                 item.m_strServerFile.c_str(), item.m_strSha256.c_str());
        return -8;
    }
    // Its folder was made before the downloads began (EnsureStagedFileFolders).
    staged =
        StagedFilePath(StagingFolder(engine.m_pConfig->m_strLocalBaseDir), Sha256Hex(expected));
    // Staged and verified by an earlier run that could not apply it: checked once more.
    if (Exists(staged)) {
        if (plat::FileSizeOf(staged) == AtoiValue(item.m_strFileSize) &&
            FileHasHash(staged, expected)) {
            WriteLog(g_pMyLog, 2, "CSyncEngine::StageItem> File(%s) Already Staged",
                     item.m_strServerFile.c_str());
            return 0;
        }
        plat::RemoveFile(staged);
    }
    if (StageFromSmallerForms(engine, lane, item, expected, staged))
        return 0;
    CFetchSpec spec;
    spec.strPath = engine.m_pConfig->m_strDownloadBaseUrl + "/" + item.m_strServerFile;
    spec.nExpected = AtoiValue(item.m_strFileSize);
    return engine.WithRetries(lane, item.m_strServerFile, true, [&] {
        return OnServers(lane.conn, spec.strPath, true, [&] {
            CStagingSink sink(item, staged, expected);
            CFetchResult result;
            return FetchBody(lane, spec, sink, result);
        });
    });
}

bool CTrustedRun::StageFromSmallerForms(CSyncEngine& engine, CItemLane& lane,
                                        const DownFileItem& item,
                                        const plat::Sha256Digest& expected,
                                        const std::string& staged) const {
    CFormStager::CFormPlan plan;
    const bool bForms = m_pForms != nullptr && m_pForms->Plan(item, plan);
    // The local store first, whatever form it holds: it is nearer than any server.
    if (m_pLocal != nullptr && m_pLocal->Usable()) {
        if (bForms && m_pForms->Stage(engine, lane, item, plan, expected, staged, m_pLocal.get()))
            return true;
        const std::string why = m_pLocal->Stage(item.m_strServerFile, item, expected, staged);
        WriteLog(g_pMyLog, why.empty() ? 2 : 3, "CSyncEngine::StageItem> File(%s) %s%s",
                 item.m_strServerFile.c_str(),
                 why.empty() ? "Staged From LOCAL_STORE" : "Not Taken From LOCAL_STORE, ",
                 why.c_str());
        if (why.empty())
            return true;
    }
    return bForms && m_pForms->Stage(engine, lane, item, plan, expected, staged, nullptr);
}

bool CTrustedRun::ApplyStagedFiles(CSyncEngine& engine, const std::vector<DownFileItem*>& items,
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
    engine.View().SetStepText("업데이트 파일 적용 중...");
    CApplyTransaction transaction(ApplyJournalPath(engine.m_pConfig->m_strLocalBaseDir));
    transaction.m_origin = m_listOrigin;
    transaction.m_afterStep = engine.m_applyStepHook;
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
    ReportApplyFailure(engine, r, failure);
    return false;
}

void CTrustedRun::ReportApplyFailure(CSyncEngine& engine, int r, const CApplyFailure& failure) {
    const std::string reason = plat::SystemErrorTextOf(failure.nError);
    engine.m_runCause.Fail(r == -1 ? "locked-file" : "apply", failure.strTarget + ": " + reason);
    if (r == -1) {
        const std::string holders = plat::ProcessesUsingFile(failure.strTarget);
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::ApplyStagedFiles> File(%s) Stays Locked, ErrCode = %d, %s%s%s",
                 failure.strTarget.c_str(), failure.nError, reason.c_str(),
                 holders.empty() ? "" : ", Held By ", holders.c_str());
        engine.AddFormattedRow(kStatusError,
                               failure.strName + " 파일 교체 실패 : 다른 프로그램이 사용 중");
    } else {
        WriteLog(g_pMyLog, 4, "CSyncEngine::ApplyStagedFiles> File(%s) Fail, ErrCode = %d, %s",
                 failure.strTarget.c_str(), failure.nError, reason.c_str());
        engine.AddFormattedRow(kStatusError,
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

bool EveryItemListed(const DownFileItemList& items) {
    return std::all_of(items.begin(), items.end(),
                       [](const auto& item) { return item->HasListedInfo(); });
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
    const std::string staged = StagedFilePath(staging, Sha256Hex(digest));
    if (plat::FileSizeOf(staged) == nSize)
        return 0;
    const std::int64_t nPartial = plat::FileSizeOf(CStagingSink::PartialPath(staged));
    return static_cast<std::uint64_t>(nPartial > 0 && nPartial < nSize ? nSize - nPartial : nSize);
}

// The folders of the files to stage, each made once before the downloads (sixteen at most),
// rather than looked at once for every file.
void EnsureStagedFileFolders(const std::string& staging, const std::vector<DownFileItem*>& items) {
    std::string made;
    for (const DownFileItem* item : items) {
        plat::Sha256Digest digest{};
        if (!ParseSha256Hex(item->m_strSha256, digest))
            continue; // refused when it is staged
        const std::string hex = Sha256Hex(digest);
        if (made.find(hex[0]) != std::string::npos)
            continue;
        made += hex[0];
        const std::string staged = StagedFilePath(staging, hex);
        if (!EnsureStagedFileFolder(staged))
            WriteLog(g_pMyLog, 3,
                     "CSyncEngine::StageItem> Folder Of %s Not Made Or Not Restricted, ErrCode = "
                     "%d",
                     staged.c_str(), plat::LastErrorCode());
    }
}

} // namespace

int CTrustedRun::DecideItems(CSyncEngine& engine, std::vector<DownFileItem*>& toFetch,
                             std::vector<DownFileItem*>& deletions,
                             std::vector<std::size_t>& counting) {
    DownFileItemList& items = engine.m_DownFileItemList;
    const int nCount = static_cast<int>(items.size());
    int nResult = 1;
    std::vector<int> decisions(static_cast<std::size_t>(nCount));
    const std::vector<CSyncEngine::CTargetCheck> targets = CheckTargets(items);
    counting = CountingLines(items);
    // Nothing of this run writes beside a target: what lies there an ended run left.
    const auto decide = [&](CItemLane& lane, int i) {
        const std::size_t n = static_cast<std::size_t>(i);
        decisions[n] = engine.DecideItem(lane, *items[n], i + 1, nCount, &targets[n], true);
        return true;
    };
    const auto report = [&](int i, bool) {
        const std::size_t n = static_cast<std::size_t>(i);
        DownFileItem* item = items[n].get();
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
    };
    // With every item's time and size in the list, a decision asks no server: the other
    // lanes' threads and hand-overs would cost more than the decisions themselves.
    if (EveryItemListed(items))
        engine.ForEachItemOnLane(nCount, decide, report);
    else
        engine.ForEachItem(nCount, decide, report);
    return nResult;
}

bool CTrustedRun::HasRoomToStage(CSyncEngine& engine, const std::vector<DownFileItem*>& toFetch) {
    const std::string staging = StagingFolder(engine.m_pConfig->m_strLocalBaseDir);
    if (!EnsureStagingFolder(engine.m_pConfig->m_strLocalBaseDir))
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
    nNeeded += nNeeded / 20 + (1u << 20) +
               static_cast<std::uint64_t>(
                   std::max<std::int64_t>(plat::FileSizeOf(m_listOrigin.strListFile), 0));
    std::uint64_t nFree = 0;
    if (!plat::FreeDiskSpace(staging, nFree) || nFree >= nNeeded)
        return true;
    std::string text;
    FormatWithCommas(std::to_string(nNeeded), text);
    WriteLog(g_pMyLog, 4,
             "CSyncEngine::DownloadFilesTrusted> Disk Full, Needed = %llu, Free = %llu",
             static_cast<unsigned long long>(nNeeded), static_cast<unsigned long long>(nFree));
    engine.AddFormattedRow(kStatusError, "디스크 공간 부족 (필요 " + text + " 바이트)");
    engine.m_runCause.Fail("disk-space", "the staging volume lacks room for " + text + " bytes");
    return false;
}

bool CTrustedRun::StageAll(CSyncEngine& engine, const std::vector<DownFileItem*>& toFetch,
                           std::vector<std::string>& stagedPaths) {
    const int nFetch = static_cast<int>(toFetch.size());
    bool bAllStaged = true;
    int nStagedOk = 0;
    EnsureStagedFileFolders(StagingFolder(engine.m_pConfig->m_strLocalBaseDir), toFetch);
    CStagedWriteBack writeBack;
    const int nStaged = engine.ForEachItem(
        nFetch,
        [&](CItemLane& lane, int i) {
            DownFileItem& item = *toFetch[static_cast<std::size_t>(i)];
            engine.ShowTotal(lane.View(), i + 1, nFetch);
            engine.ShowFileName(lane.View(), item);
            std::string& staged = stagedPaths[static_cast<std::size_t>(i)];
            const int r = StageItem(engine, lane, item, staged);
            if (r < 0)
                engine.ReportFailedDownload(lane, item, r);
            const std::int64_t nSize = AtoiValue(item.m_strFileSize);
            if (r >= 0 && nSize < CStagingSink::kWriteBackFrom)
                writeBack.Add(staged, static_cast<std::uint64_t>(nSize));
            return r >= 0;
        },
        [&](int, bool bOk) {
            bAllStaged = bAllStaged && bOk;
            nStagedOk += bOk ? 1 : 0;
        },
        // Staging writes no target: items that share a content share its staged file (and
        // its forms' files), and only those must not be in flight at once.
        [&](int i) { return ObjectHashKey(toFetch[static_cast<std::size_t>(i)]->m_strSha256); });
    for (const std::string& folder :
         StagedFileFolders(StagingFolder(engine.m_pConfig->m_strLocalBaseDir)))
        CPartialValidators::DropUnused(folder);
    if (engine.m_nRequestStopFlag != 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 engine.m_nRequestStopFlag.load());
        bAllStaged = bAllStaged && nStaged == nFetch;
    }
    if (!bAllStaged)
        WriteLog(g_pMyLog, 3,
                 "CSyncEngine::DownloadFilesTrusted> %d Of %d Files Staged, Nothing Applied",
                 nStagedOk, nFetch);
    return bAllStaged;
}

void CTrustedRun::KeepInstalledRelease(CSyncEngine& engine) const {
    const std::string& ini = engine.m_pConfig->m_strIniPath;
    if (m_nListSerial == 0 || ReadReleaseSerial(ini) == m_nListSerial)
        return;
    if (!WriteReleaseSerial(ini, m_nListSerial))
        WriteLog(g_pMyLog, 3, "CSyncEngine::DownloadFilesTrusted> RELEASE_SERIAL Not Written To %s",
                 ini.c_str());
}

int CTrustedRun::DownloadFiles(CSyncEngine& engine, bool& bAllDone) {
    std::vector<DownFileItem*> toFetch;
    std::vector<DownFileItem*> deletions;
    std::vector<std::size_t> counting;
    const int nResult = DecideItems(engine, toFetch, deletions, counting);
    bAllDone = false;
    if (engine.m_nRequestStopFlag != 0) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadFilesInListFromServer> m_nRequestStopFlag = %d",
                 engine.m_nRequestStopFlag.load());
        return nResult; // nothing staged, nothing changed
    }
    std::vector<std::string> stagedPaths(toFetch.size());
    if (!toFetch.empty()) {
        m_pLocal = std::make_unique<CLocalStore>(engine.m_pConfig->m_strLocalStore);
        m_pForms = CFormStager::Load(engine, m_formsRef, *m_pLocal, InstalledList(engine));
    }
    const bool bApplied = HasRoomToStage(engine, toFetch) &&
                          StageAll(engine, toFetch, stagedPaths) &&
                          ApplyStagedFiles(engine, toFetch, stagedPaths, deletions);
    for (DownFileItem* item : toFetch) {
        item->m_nSyncOkFlag = bApplied ? 1 : 0;
        if (bApplied) {
            ++engine.m_nDownloadedFiles;
            engine.m_nDownloadedBytes += AtoiValue(item->m_strFileSize);
        }
    }
    // A line that another one overrides ends as the line that counts.
    DownFileItemList& items = engine.m_DownFileItemList;
    for (std::size_t i = 0; i < counting.size(); ++i)
        items[i]->m_nSyncOkFlag = items[counting[i]]->m_nSyncOkFlag;
    if (bApplied && nResult == 1) {
        ClearStagingFolder(
            engine.m_pConfig->m_strLocalBaseDir); // nothing staged is needed any more
        KeepInstalledRelease(engine);
    }
    const int nFinal = bApplied ? nResult : 0;
    bAllDone = nFinal == 1;
    return nFinal;
}
