// The all-or-nothing apply of trusted mode. The verified files of a run lie in the staging
// folder; the apply moves them into place, and deletes the DEL items' files, as one
// transaction recorded in a journal beside them. Every record is written through to disk
// before the next step, so that a process killed at any moment leaves a state the next start
// finishes (after the commit record) or undoes (before it): every target then holds its
// complete old or its complete new content, and the whole set is old or new.
//
// Each replacement goes through two names in the target's own folder, so that every move of
// the transaction is an atomic rename within one folder. The journal's records:
//   OP n   the operations, then BEGIN, flushed before anything moves;
//   READY  every staged file is "<target>.ks-new" (moved, or copied across volumes) with the
//          server's time, and all of them are flushed;
//   ASIDE n  the installed file renamed to "<target>.ks-old" (a deletion is this step alone);
//   IN n   "<target>.ks-new" renamed to the target;
//   COMMIT after the last step, with the folders flushed; then the ".ks-old" files and the
//          journal are removed.
// Recovery reads the operations and the READY and COMMIT records; what each rename did it
// reads off the file system, so an interruption between a rename and its record is no harm.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct CApplyOp {
    bool bDelete = false;
    std::string strName;      // the item's server path, for rows and the log
    std::string strTarget;    // the installed file
    std::string strStaged;    // the verified file in the staging folder (replacements)
    std::int64_t tModify = 0; // the server's time of the new file
};

struct CApplyFailure {
    std::string strName;   // the item whose step failed
    std::string strTarget; // its file
    int nError = 0;        // the system's error code
    bool bLocked = false;  // another program held the file for the whole retry time
};

// How long a target that another program holds is retried, in milliseconds.
inline constexpr int kLockedRetryMs = 10000;

class CApplyTransaction {
public:
    explicit CApplyTransaction(std::string strJournalPath);

    // Moves ops into place as one transaction. 0 committed; -1 undone because a target stayed
    // locked, -2 undone after another failure (failure says which and why); -3 the journal
    // could not be written (nothing was changed).
    int Apply(const std::vector<CApplyOp>& ops, CApplyFailure& failure);

    // Called after every record of the journal with its number (1 for the journal itself),
    // and with the last number once the journal is gone. Tests end the process there.
    std::function<void(int nStep)> m_afterStep;
    // Called while a locked target is retried, with the file and the attempt (for the log).
    std::function<void(const std::string& path, int nAttempt, int nError)> m_onRetry;

private:
    // Appends a record; bFlush writes it through to disk.
    bool Record(const std::string& line, bool bFlush);
    bool MoveWithRetries(const std::string& from, const std::string& to, const CApplyOp& op,
                         CApplyFailure& failure);
    bool PrepareNew(const CApplyOp& op, bool bCopy, CApplyFailure& failure);
    void Step();
    int Execute(const std::vector<CApplyOp>& ops, CApplyFailure& failure);

    std::string m_strJournalPath;
    std::FILE* m_fp = nullptr;
    int m_nStep = 0;
};

enum : int {
    kRecoveryNothing = 0,  // no journal: no apply was interrupted
    kRecoveryFinished = 1, // the interrupted apply had committed: the new set stays
    kRecoveryUndone = 2,   // it had not: the old set is back
    kRecoveryFailed = -1,  // a step of the recovery failed (the journal stays for the next try)
};

// Finishes or undoes the apply that the journal at strJournalPath records, if any.
int RecoverInterruptedApply(const std::string& strJournalPath);
// The same for the program folder's journal, with a log line "<pszWho>> ..." when there was
// one.
int RecoverApplyOfFolder(const std::string& programFolder, const char* pszWho);

// "<program folder>/update/staging": where trusted mode's downloads wait until they are applied
// (the volume of the program folder), and the journal there.
std::string StagingFolder(const std::string& programFolder);
std::string ApplyJournalPath(const std::string& programFolder);
// Removes every file of the staging folder but the journal (after a committed run).
void ClearStagingFolder(const std::string& programFolder);

// "<target>.ks-new" and "<target>.ks-old".
std::string ApplyNewPath(const std::string& target);
std::string ApplyOldPath(const std::string& target);
