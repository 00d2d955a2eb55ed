#include "apply/Apply.h"

#include "apply/ApplyJournal.h"
#include "apply/JournalCheck.h"
#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/FolderAccess.h"
#include "platform/Path.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

bool Exists(const std::string& path) {
    plat::FileStatus status;
    return plat::GetFileStatus(path, status);
}

std::string Folder(const std::string& path) {
    const std::size_t sep = plat::LastSepPos(path);
    return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
}

bool IsLockError(int nError) {
    return nError == plat::kErrSharingViolation || nError == plat::kErrAccessDenied ||
           nError == 33; // ERROR_LOCK_VIOLATION
}

// A file the transaction no longer needs; a read-only one too. True when it is gone.
bool Discard(const std::string& path) {
    plat::SetReadOnly(path, false);
    return plat::RemoveFile(path) || !Exists(path);
}

// The first pass of the undo: every target gets its old file back, and a new file that came in
// goes back to "<target>.ks-new". Until READY every new file is there; after it, one is
// missing only where it came in, until the second pass takes them away. False when a step
// failed.
bool RestoreTargets(const CApplyJournal& journal) {
    bool bOk = true;
    for (auto op = journal.ops.rbegin(); op != journal.ops.rend(); ++op) {
        const std::string newPath = ApplyNewPath(op->strTarget);
        const std::string oldPath = ApplyOldPath(op->strTarget);
        if (!op->bDelete && journal.bReady && !Exists(newPath) && Exists(op->strTarget))
            bOk = plat::RenameFile(op->strTarget, newPath) && bOk; // the new file came in
        if (Exists(oldPath) && !Exists(op->strTarget))
            bOk = plat::RenameFile(oldPath, op->strTarget) && bOk; // the old one goes back
    }
    return bOk;
}

// The second pass: a copy goes; a moved file goes back to the staging folder, still verified.
bool ReturnNewFiles(const CApplyJournal& journal) {
    bool bOk = true;
    for (auto op = journal.ops.rbegin(); op != journal.ops.rend(); ++op) {
        const std::string newPath = ApplyNewPath(op->strTarget);
        if (op->bDelete || !Exists(newPath))
            continue;
        if (Exists(op->strStaged))
            bOk = Discard(newPath) && bOk;
        else
            bOk = EnsureStagedFileFolder(op->strStaged) &&
                  plat::RenameFile(newPath, op->strStaged) && bOk;
    }
    return bOk;
}

// One record of the journal written to the stream, and with bOut flushed out of it (not yet to
// the disk).
bool WriteRecord(std::FILE* fp, const std::string& line, bool bOut) {
    const std::string text = line + "\n";
    return plat::WriteToFile(fp, text.data(), text.size()) == text.size() &&
           (!bOut || plat::FlushFile(fp));
}

bool AppendRecord(const std::string& journalPath, const std::string& line) {
    std::FILE* fp = plat::OpenFile(journalPath, "ab");
    if (fp == nullptr)
        return false;
    const bool bWritten = WriteRecord(fp, line, true);
    return plat::CloseFile(fp) && bWritten && plat::FlushToDisk(journalPath);
}

// Puts the old set back, from what the file system shows; every step can run again after an
// interruption. Once every target holds its old file, UNDONE is recorded before the second
// pass: a target whose new file went back to the staging folder looks as if that file had come
// in, and must never be taken again. False when a step failed (the journal then stays).
bool Undo(const CApplyJournal& journal, const std::string& journalPath) {
    if (!journal.bUndone) {
        if (!RestoreTargets(journal))
            return false;
        // Before READY no target took a new file: the first pass may run again.
        if (journal.bReady && !AppendRecord(journalPath, "UNDONE"))
            return false;
    }
    return ReturnNewFiles(journal);
}

// Removes what a committed transaction left: the old files and the staged ones.
void Finish(const CApplyJournal& journal) {
    for (const CApplyOp& op : journal.ops) {
        if (Exists(ApplyOldPath(op.strTarget)))
            Discard(ApplyOldPath(op.strTarget));
        if (!op.bDelete && Exists(op.strStaged))
            Discard(op.strStaged);
    }
}

// A name StagedFilePath gives a folder: one lower-case hexadecimal digit.
bool IsStagedFileFolderName(const std::string& name) {
    return name.size() == 1 && std::isxdigit(static_cast<unsigned char>(name[0])) != 0 &&
           std::tolower(static_cast<unsigned char>(name[0])) == name[0];
}

// The set is refused before anything changes when it names one target twice (the second
// set-aside would find the first one's ".ks-old", and the undo could not tell them apart) or
// a path that the journal's lines cannot hold.
bool CheckSet(const std::vector<CApplyOp>& ops, CApplyFailure& failure) {
    std::set<std::string> targets;
    for (const CApplyOp& op : ops) {
        if (op.strTarget.find_first_of("\t\n") != std::string::npos ||
            op.strStaged.find_first_of("\t\n") != std::string::npos) {
            failure = CApplyFailure{op.strName, op.strTarget, plat::kErrInvalidParameter, false};
            return false;
        }
        if (!targets.insert(plat::PathKey(op.strTarget)).second) {
            failure = CApplyFailure{op.strName, op.strTarget, plat::kErrAlreadyExists, false};
            return false;
        }
    }
    return true;
}

// Removes what an earlier apply may have left beside a target: the undo takes a ".ks-old" for
// the installed file this apply set aside, and must never put a stale one in its place, nor
// take a stale ".ks-new" into the staging folder.
bool ClearLeftOvers(const CApplyOp& op, CApplyFailure& failure) {
    for (const std::string& path : {ApplyNewPath(op.strTarget), ApplyOldPath(op.strTarget)}) {
        if (Exists(path) && !Discard(path)) {
            failure = CApplyFailure{op.strName, path, plat::LastErrorCode(), false};
            return false;
        }
    }
    return true;
}

} // namespace

std::string StagingFolder(const std::string& programFolder) {
    return plat::JoinPath(plat::JoinPath(programFolder, "update"), "staging");
}

std::string ApplyJournalPath(const std::string& programFolder) {
    return plat::JoinPath(StagingFolder(programFolder), "journal");
}

std::string RefusedJournalPath(const std::string& programFolder) {
    return ApplyJournalPath(programFolder) + ".refused";
}

bool EnsureStagingFolder(const std::string& programFolder) {
    const std::string staging = StagingFolder(programFolder);
    return plat::CreateFolderChain(staging) &&
           plat::RestrictFolderWriters(plat::JoinPath(programFolder, "update")) &&
           plat::RestrictFolderWriters(staging);
}

void ClearStagingFolder(const std::string& programFolder) {
    const std::string staging = StagingFolder(programFolder);
    for (const std::string& folder : StagedFileFolders(staging)) {
        std::vector<plat::FoundFile> found;
        if (!plat::FindFiles(plat::JoinPath(folder, "*"), found))
            continue;
        for (const plat::FoundFile& file : found) {
            if (!file.bFolder && file.strName != "journal" && file.strName != "journal.refused")
                Discard(file.strPath);
        }
        if (folder != staging)
            plat::RemoveFolder(folder); // an empty staging folder says that nothing waits
    }
}

std::string StagedFilePath(const std::string& stagingFolder, const std::string& hex) {
    return plat::JoinPath(plat::JoinPath(stagingFolder, hex.substr(0, 1)), hex);
}

bool EnsureStagedFileFolder(const std::string& stagedPath) {
    const std::string folder = Folder(stagedPath);
    plat::FileStatus status;
    if (plat::GetFileStatus(folder, status) && status.bFolder)
        return true;
    return plat::CreateFolderChain(folder) && plat::RestrictFolderWriters(folder);
}

std::vector<std::string> StagedFileFolders(const std::string& stagingFolder) {
    std::vector<std::string> folders{stagingFolder};
    std::vector<plat::FoundFile> found;
    plat::FindFiles(plat::JoinPath(stagingFolder, "?"), found);
    for (const plat::FoundFile& entry : found) {
        if (entry.bFolder && IsStagedFileFolderName(entry.strName))
            folders.push_back(entry.strPath);
    }
    return folders;
}

std::string ApplyNewPath(const std::string& target) {
    return target + ".ks-new";
}

std::string ApplyOldPath(const std::string& target) {
    return target + ".ks-old";
}

CApplyTransaction::CApplyTransaction(std::string strJournalPath)
    : m_strJournalPath(std::move(strJournalPath)) {}

bool CApplyTransaction::Record(const std::string& line, bool bFlush) {
    // A record that is not flushed goes out with the next one that is: recovery reads only
    // those (BEGIN, READY, COMMIT) and, for the renames, the file system.
    if (m_fp == nullptr || !WriteRecord(m_fp, line, bFlush))
        return false;
    return !bFlush || plat::FlushToDisk(m_strJournalPath);
}

void CApplyTransaction::Step() {
    ++m_nStep;
    if (m_afterStep)
        m_afterStep(m_nStep);
}

bool CApplyTransaction::MoveWithRetries(const std::string& from, const std::string& to,
                                        const CApplyOp& op, CApplyFailure& failure, bool bOwn) {
    int nWaited = 0;
    for (int nAttempt = 1, nDelay = 100;; ++nAttempt, nDelay *= 2) {
        if (bOwn ? plat::RenameOwnFile(from, to) : plat::RenameFile(from, to))
            return true;
        const int nError = plat::LastErrorCode();
        if (!IsLockError(nError) || nWaited >= kLockedRetryMs) {
            failure = CApplyFailure{op.strName, op.strTarget, nError, IsLockError(nError)};
            return false;
        }
        if (m_onRetry)
            m_onRetry(op.strTarget, nAttempt, nError);
        const int nSleep = std::min(nDelay, kLockedRetryMs - nWaited);
        plat::SleepMs(nSleep);
        nWaited += nSleep;
    }
}

bool CApplyTransaction::PrepareNew(std::size_t n, const CApplyOp& op, bool bCopy,
                                   CApplyFailure& failure) {
    const std::string newPath = ApplyNewPath(op.strTarget);
    const std::string folder = Folder(op.strTarget);
    if (m_madeFolders.insert(folder).second)
        plat::CreateFolderChain(folder);
    bool bOk = !bCopy && plat::RenameOwnFile(op.strStaged, newPath);
    if (!bOk && (bCopy || plat::LastErrorCode() == plat::kErrNotSameDevice)) {
        bOk = plat::CopyFileOver(op.strStaged, newPath); // another volume
        m_leavers.insert(n);                             // the staged file stays
    }
    bOk = bOk && plat::SetFileModifyTime(newPath, op.tModify);
    if (!bOk)
        failure = CApplyFailure{op.strName, op.strTarget, plat::LastErrorCode(), false};
    return bOk;
}

int CApplyTransaction::Execute(const std::vector<CApplyOp>& ops, CApplyFailure& failure) {
    // A staged file that two items share is copied for all but its last user.
    std::map<std::string, int> uses;
    for (const CApplyOp& op : ops) {
        if (!op.bDelete)
            ++uses[op.strStaged];
    }
    std::vector<std::string> newFiles;
    for (std::size_t n = 0; n < ops.size(); ++n) {
        const CApplyOp& op = ops[n];
        if (op.bDelete)
            continue;
        if (!PrepareNew(n, op, --uses[op.strStaged] > 0, failure))
            return -2;
        newFiles.push_back(ApplyNewPath(op.strTarget));
        Step();
    }
    if (!plat::FlushFilesToDisk(newFiles) || !Record("READY", true)) {
        failure = CApplyFailure{"", m_strJournalPath, plat::LastErrorCode(), false};
        return -2;
    }
    m_bReady = true;
    Step();
    return MoveIntoPlace(ops, failure);
}

int CApplyTransaction::MoveIntoPlace(const std::vector<CApplyOp>& ops, CApplyFailure& failure) {
    std::set<std::string> folders;
    for (std::size_t n = 0; n < ops.size(); ++n) {
        const CApplyOp& op = ops[n];
        folders.insert(Folder(op.strTarget));
        if (Exists(op.strTarget)) {
            if (!MoveWithRetries(op.strTarget, ApplyOldPath(op.strTarget), op, failure))
                return failure.bLocked ? -1 : -2;
            m_leavers.insert(n);
            Record("ASIDE\t" + std::to_string(n), false);
            Step();
        }
        if (!op.bDelete) {
            if (!MoveWithRetries(ApplyNewPath(op.strTarget), op.strTarget, op, failure, true))
                return failure.bLocked ? -1 : -2;
            Record("IN\t" + std::to_string(n), false);
            Step();
        }
    }
    // The renames are on disk before the commit is.
    for (const std::string& folder : folders)
        plat::FlushToDisk(folder);
    if (!Record("COMMIT", true)) {
        failure = CApplyFailure{"", m_strJournalPath, plat::LastErrorCode(), false};
        return -2;
    }
    Step();
    return 0;
}

bool CApplyTransaction::KeepList(CApplyFailure& failure) {
    if (m_origin.strSha256.empty())
        return true;
    const std::string kept = plat::JoinPath(Folder(m_strJournalPath), m_origin.strSha256);
    if (plat::CopyFileOver(m_origin.strListFile, kept) && plat::FlushToDisk(kept))
        return true;
    failure = CApplyFailure{"", kept, plat::LastErrorCode(), false};
    return false;
}

bool CApplyTransaction::BeginJournal(const std::vector<CApplyOp>& ops, CApplyFailure& failure) {
    m_fp = plat::OpenFile(m_strJournalPath, "wb");
    bool bOk = Record(kApplyJournalHead, false);
    if (bOk && !m_origin.strSha256.empty())
        bOk = Record(ApplyListRecord(m_origin), false);
    for (std::size_t n = 0; n < ops.size() && bOk; ++n)
        bOk = Record(ApplyOpRecord(n, ops[n]), false);
    if (bOk && Record("BEGIN", true))
        return true;
    failure = CApplyFailure{"", m_strJournalPath, plat::LastErrorCode(), false};
    if (m_fp != nullptr)
        std::fclose(m_fp);
    m_fp = nullptr;
    plat::RemoveFile(m_strJournalPath);
    return false;
}

int CApplyTransaction::Apply(const std::vector<CApplyOp>& ops, CApplyFailure& failure) {
    m_nStep = 0;
    m_bReady = false;
    m_madeFolders.clear();
    m_leavers.clear();
    if (!CheckSet(ops, failure))
        return -4;
    if (Exists(m_strJournalPath)) {
        // An earlier apply that recovery could not finish or undo: its record stays.
        failure = CApplyFailure{"", m_strJournalPath, plat::kErrAlreadyExists, false};
        return -3;
    }
    // Before the journal exists: once it does, every ".ks-old" beside a target is this apply's.
    for (const CApplyOp& op : ops) {
        if (!ClearLeftOvers(op, failure))
            return -2;
    }
    if (!KeepList(failure) || !BeginJournal(ops, failure))
        return -3;
    Step();
    const int r = Execute(ops, failure);
    std::fclose(m_fp);
    m_fp = nullptr;
    CApplyJournal journal;
    journal.ops = ops;
    journal.bReady = m_bReady;
    if (r != 0) {
        failure.bUndone = Undo(journal, m_strJournalPath);
        if (failure.bUndone)
            plat::RemoveFile(m_strJournalPath);
        return r;
    }
    // Only what this apply set aside or copied can be left: the other files are not looked for.
    CApplyJournal left;
    for (const std::size_t n : m_leavers)
        left.ops.push_back(ops[n]);
    Finish(left);
    plat::RemoveFile(m_strJournalPath);
    Step();
    return 0;
}

int RecoverApplyOfFolder(const std::string& programFolder, const char* pszWho) {
    const std::string journal = ApplyJournalPath(programFolder);
    std::string why;
    const int r = RecoverInterruptedApply(programFolder, why);
    if (r == kRecoveryRefused) {
        WriteLog(g_pMyLog, 4, "%s> Journal %s Refused, Nothing Moved, Reason = %s", pszWho,
                 journal.c_str(), why.c_str());
        WriteLog(g_pMyLog, 3, "%s> Journal Set Aside As %s", pszWho,
                 RefusedJournalPath(programFolder).c_str());
    } else if (r == kRecoveryFailed) {
        WriteLog(g_pMyLog, 4, "%s> Recovery Of %s Failed, ErrCode = %d%s%s", pszWho,
                 journal.c_str(), plat::LastErrorCode(),
                 why.empty() ? "" : ", Reason = ", why.c_str());
    } else if (r != kRecoveryNothing) {
        WriteLog(g_pMyLog, 2, "%s> Interrupted Apply %s", pszWho,
                 r == kRecoveryFinished ? "Finished (The New Set)" : "Undone (The Old Set)");
    }
    return r;
}

int RecoverInterruptedApply(const std::string& programFolder, std::string& why) {
    const std::string path = ApplyJournalPath(programFolder);
    if (!Exists(path))
        return kRecoveryNothing;
    CApplyJournal journal;
    if (!ReadApplyJournal(path, journal) || !journal.bBegun) {
        // Cut before its first line or its BEGIN was whole: nothing was moved yet.
        return plat::RemoveFile(path) ? kRecoveryUndone : kRecoveryFailed;
    }
    if (!CJournalCheck(programFolder).Admit(journal, why)) {
        if (plat::ReplaceFileWith(path, RefusedJournalPath(programFolder)))
            return kRecoveryRefused;
        why = "the refused journal could not be set aside (" + why + ")";
        return kRecoveryFailed;
    }
    if (journal.bCommitted) {
        Finish(journal);
        return plat::RemoveFile(path) ? kRecoveryFinished : kRecoveryFailed;
    }
    if (!Undo(journal, path))
        return kRecoveryFailed;
    return plat::RemoveFile(path) ? kRecoveryUndone : kRecoveryFailed;
}
