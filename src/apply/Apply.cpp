#include "apply/Apply.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

namespace {

const char* const kJournalHead = "KestrelSync apply journal 1";

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

// A file the transaction no longer needs; a read-only one too.
void Discard(const std::string& path) {
    plat::SetReadOnly(path, false);
    plat::RemoveFile(path);
}

struct CJournal {
    std::vector<CApplyOp> ops;
    bool bReady = false; // every new file was in place and flushed
    bool bBegun = false;
    bool bCommitted = false;
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// The journal's records; false when it cannot be read or is not a journal.
bool ReadJournal(const std::string& path, CJournal& journal) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    std::string text;
    char buf[8192];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        text.append(buf, n);
    std::fclose(fp);
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kJournalHead)
        return false;
    // Only whole lines count: a record cut by the end of a process is no record.
    while (std::getline(lines, line) && !lines.eof()) {
        const std::vector<std::string> f = SplitTabs(line);
        if (f[0] == "OP" && f.size() >= 4 && !journal.bBegun) {
            CApplyOp op;
            op.bDelete = f[2] == "DELETE";
            op.strTarget = f[3];
            if (!op.bDelete && f.size() >= 6) {
                op.strStaged = f[4];
                op.tModify = std::strtoll(f[5].c_str(), nullptr, 10);
            }
            journal.ops.push_back(op);
        } else if (f[0] == "BEGIN") {
            journal.bBegun = true;
        } else if (f[0] == "READY") {
            journal.bReady = true;
        } else if (f[0] == "COMMIT") {
            journal.bCommitted = true;
        }
    }
    return true;
}

// Puts the old set back, from what the file system shows; every step can run again after an
// interruption. False when a step failed.
bool Undo(const CJournal& journal) {
    bool bOk = true;
    for (int n = static_cast<int>(journal.ops.size()) - 1; n >= 0; --n) {
        const CApplyOp& op = journal.ops[static_cast<std::size_t>(n)];
        const std::string newPath = ApplyNewPath(op.strTarget);
        const std::string oldPath = ApplyOldPath(op.strTarget);
        if (!op.bDelete && journal.bReady && !Exists(newPath) && Exists(op.strTarget))
            bOk = plat::RenameFile(op.strTarget, newPath) && bOk; // the new file came in
        if (Exists(oldPath) && !Exists(op.strTarget))
            bOk = plat::RenameFile(oldPath, op.strTarget) && bOk; // the old one goes back
        if (!op.bDelete && Exists(newPath)) {
            // A copy goes; a moved file goes back to the staging folder, still verified.
            if (Exists(op.strStaged))
                Discard(newPath);
            else
                bOk = plat::RenameFile(newPath, op.strStaged) && bOk;
        }
    }
    return bOk;
}

// Removes what a committed transaction left: the old files and the staged ones.
void Finish(const CJournal& journal) {
    for (const CApplyOp& op : journal.ops) {
        if (Exists(ApplyOldPath(op.strTarget)))
            Discard(ApplyOldPath(op.strTarget));
        if (!op.bDelete && Exists(op.strStaged))
            Discard(op.strStaged);
    }
}

} // namespace

std::string StagingFolder(const std::string& programFolder) {
    return plat::JoinPath(plat::JoinPath(programFolder, "update"), "staging");
}

std::string ApplyJournalPath(const std::string& programFolder) {
    return plat::JoinPath(StagingFolder(programFolder), "journal");
}

void ClearStagingFolder(const std::string& programFolder) {
    std::vector<plat::FoundFile> found;
    if (!plat::FindFiles(plat::JoinPath(StagingFolder(programFolder), "*"), found))
        return;
    for (const plat::FoundFile& file : found) {
        if (!file.bFolder && file.strName != "journal")
            Discard(file.strPath);
    }
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
    if (m_fp == nullptr)
        return false;
    const std::string text = line + "\n";
    if (plat::WriteToFile(m_fp, text.data(), text.size()) != text.size() || std::fflush(m_fp) != 0)
        return false;
    return !bFlush || plat::FlushToDisk(m_strJournalPath);
}

void CApplyTransaction::Step() {
    ++m_nStep;
    if (m_afterStep)
        m_afterStep(m_nStep);
}

bool CApplyTransaction::MoveWithRetries(const std::string& from, const std::string& to,
                                        const CApplyOp& op, CApplyFailure& failure) {
    int nWaited = 0;
    for (int nAttempt = 1, nDelay = 100;; ++nAttempt, nDelay *= 2) {
        if (plat::RenameFile(from, to))
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

bool CApplyTransaction::PrepareNew(const CApplyOp& op, bool bCopy, CApplyFailure& failure) {
    const std::string newPath = ApplyNewPath(op.strTarget);
    plat::CreateFolderChain(Folder(op.strTarget));
    if (Exists(newPath))
        Discard(newPath); // left by an earlier try
    bool bOk = !bCopy && plat::RenameFile(op.strStaged, newPath);
    if (!bOk && (bCopy || plat::LastErrorCode() == plat::kErrNotSameDevice))
        bOk = plat::CopyFileOver(op.strStaged, newPath); // another volume
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
    for (const CApplyOp& op : ops) {
        if (op.bDelete)
            continue;
        if (!PrepareNew(op, --uses[op.strStaged] > 0, failure))
            return -2;
        newFiles.push_back(ApplyNewPath(op.strTarget));
        Step();
    }
    if (!plat::FlushFilesToDisk(newFiles) || !Record("READY", true)) {
        failure = CApplyFailure{"", m_strJournalPath, plat::LastErrorCode(), false};
        return -2;
    }
    Step();
    std::set<std::string> folders;
    for (std::size_t n = 0; n < ops.size(); ++n) {
        const CApplyOp& op = ops[n];
        folders.insert(Folder(op.strTarget));
        if (Exists(op.strTarget)) {
            if (!MoveWithRetries(op.strTarget, ApplyOldPath(op.strTarget), op, failure))
                return failure.bLocked ? -1 : -2;
            Record("ASIDE\t" + std::to_string(n), false);
            Step();
        }
        if (!op.bDelete) {
            if (!MoveWithRetries(ApplyNewPath(op.strTarget), op.strTarget, op, failure))
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

int CApplyTransaction::Apply(const std::vector<CApplyOp>& ops, CApplyFailure& failure) {
    m_nStep = 0;
    for (const CApplyOp& op : ops) {
        if (op.strTarget.find_first_of("\t\n") != std::string::npos ||
            op.strStaged.find_first_of("\t\n") != std::string::npos) {
            failure = CApplyFailure{op.strName, op.strTarget, plat::kErrInvalidParameter, false};
            return -2;
        }
    }
    m_fp = plat::OpenFile(m_strJournalPath, "wb");
    bool bOk = Record(kJournalHead, false);
    for (std::size_t n = 0; n < ops.size() && bOk; ++n) {
        const CApplyOp& op = ops[n];
        bOk =
            Record("OP\t" + std::to_string(n) + (op.bDelete ? "\tDELETE\t" : "\tREPLACE\t") +
                       op.strTarget +
                       (op.bDelete ? "" : "\t" + op.strStaged + "\t" + std::to_string(op.tModify)),
                   false);
    }
    if (!bOk || !Record("BEGIN", true)) {
        failure = CApplyFailure{"", m_strJournalPath, plat::LastErrorCode(), false};
        if (m_fp != nullptr)
            std::fclose(m_fp);
        m_fp = nullptr;
        plat::RemoveFile(m_strJournalPath);
        return -3;
    }
    Step();
    const int r = Execute(ops, failure);
    std::fclose(m_fp);
    m_fp = nullptr;
    CJournal journal;
    journal.ops = ops;
    if (r != 0) {
        ReadJournal(m_strJournalPath, journal); // whether READY was recorded
        journal.ops = ops;
        if (Undo(journal))
            plat::RemoveFile(m_strJournalPath);
        return r;
    }
    Finish(journal);
    plat::RemoveFile(m_strJournalPath);
    Step();
    return 0;
}

int RecoverApplyOfFolder(const std::string& programFolder, const char* pszWho) {
    const std::string journal = ApplyJournalPath(programFolder);
    const int r = RecoverInterruptedApply(journal);
    if (r == kRecoveryFailed)
        WriteLog(g_pMyLog, 4, "%s> Recovery Of %s Failed, ErrCode = %d", pszWho, journal.c_str(),
                 plat::LastErrorCode());
    else if (r != kRecoveryNothing)
        WriteLog(g_pMyLog, 2, "%s> Interrupted Apply %s", pszWho,
                 r == kRecoveryFinished ? "Finished (The New Set)" : "Undone (The Old Set)");
    return r;
}

int RecoverInterruptedApply(const std::string& strJournalPath) {
    if (!Exists(strJournalPath))
        return kRecoveryNothing;
    CJournal journal;
    if (!ReadJournal(strJournalPath, journal)) {
        // Cut before its first line was whole: nothing was moved yet.
        return plat::RemoveFile(strJournalPath) ? kRecoveryUndone : kRecoveryFailed;
    }
    if (journal.bCommitted) {
        Finish(journal);
        return plat::RemoveFile(strJournalPath) ? kRecoveryFinished : kRecoveryFailed;
    }
    if (journal.bBegun && !Undo(journal))
        return kRecoveryFailed;
    return plat::RemoveFile(strJournalPath) ? kRecoveryUndone : kRecoveryFailed;
}
