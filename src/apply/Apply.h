// The all-or-nothing apply of trusted mode. The verified files of a run lie in the staging
// folder; the apply moves them into place, and deletes the DEL items' files, as one
// transaction recorded in a journal beside them. Every record that recovery reads is written
// through to disk before the next step (the others go out with it), so that a process killed
// at any moment leaves a state the next start finishes (after the commit record) or undoes
// (before it): every target then holds its complete old or its complete new content, and the
// whole set is old or new.
//
// Each replacement goes through two names in the target's own folder, so that every move of
// the transaction is an atomic rename within one folder. The journal's records:
//   LIST h s  the verified list the operations come from: its SHA-256 h and its signature s
//          (both in hexadecimal); the list itself is kept beside the journal as "<h>" (written
//          by this version; a journal of an earlier one has no such record);
//   OP n   the operations, then BEGIN, flushed (with the kept list) before anything moves;
//   READY  every staged file is "<target>.ks-new" (moved, or copied across volumes) with the
//          server's time, and all of them are flushed;
//   ASIDE n  the installed file renamed to "<target>.ks-old" (a deletion is this step alone);
//   IN n   "<target>.ks-new" renamed to the target;
//   COMMIT after the last step, with the folders flushed; then the ".ks-old" files and the
//          journal are removed;
//   UNDONE when an undo has given every target its old file back, before the new files go
//          back to the staging folder.
// Recovery reads the operations and the READY, COMMIT and UNDONE records; what each rename did it
// reads off the file system, so an interruption between a rename and its record is no harm.
// It acts only on a journal that CJournalCheck (apply/JournalCheck.h) admits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <set>
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
    bool bUndone = true;   // false: a step of the undo failed too; the journal stays for the
                           // recovery at the next start
};

// The verified list a transaction's operations come from, recorded in its journal so that
// recovery can tell that list's targets from any others.
struct CApplyOrigin {
    std::string strListFile;  // the list file as verified
    std::string strSha256;    // its SHA-256, 64 lower-case hexadecimal digits
    std::string strSignature; // the signature it was verified with (the ".sig" file's bytes)
};

// How long a target that another program holds is retried, in milliseconds.
inline constexpr int kLockedRetryMs = 10000;

class CApplyTransaction {
public:
    explicit CApplyTransaction(std::string strJournalPath);

    // Moves ops into place as one transaction. 0 committed; -1 undone because a target stayed
    // locked, -2 undone after another failure, or a file that an earlier apply left beside a
    // target could not be removed (failure says which and why, and whether the undo went
    // through); -3 the journal could not be written, or the journal of an earlier
    // apply is still there (kErrAlreadyExists), -4 the set was refused: it names one target
    // twice (kErrAlreadyExists) or holds a path with a tab or a line end (nothing was changed
    // in either case).
    int Apply(const std::vector<CApplyOp>& ops, CApplyFailure& failure);

    // The list the operations come from; without it the journal has no LIST record.
    CApplyOrigin m_origin;

    // Called after every record of the journal with its number (1 for the journal itself),
    // and with the last number once the journal is gone. Tests end the process there.
    std::function<void(int nStep)> m_afterStep;
    // Called while a locked target is retried, with the file and the attempt (for the log).
    std::function<void(const std::string& path, int nAttempt, int nError)> m_onRetry;

private:
    // Appends a record; bFlush writes it through to disk.
    bool Record(const std::string& line, bool bFlush);
    // bOwn: from is this transaction's own new file, which no other program holds.
    bool MoveWithRetries(const std::string& from, const std::string& to, const CApplyOp& op,
                         CApplyFailure& failure, bool bOwn = false);
    bool PrepareNew(std::size_t n, const CApplyOp& op, bool bCopy, CApplyFailure& failure);
    void Step();
    bool KeepList(CApplyFailure& failure);
    bool BeginJournal(const std::vector<CApplyOp>& ops, CApplyFailure& failure);
    int Execute(const std::vector<CApplyOp>& ops, CApplyFailure& failure);
    int MoveIntoPlace(const std::vector<CApplyOp>& ops, CApplyFailure& failure);

    std::string m_strJournalPath;
    std::FILE* m_fp = nullptr;
    int m_nStep = 0;
    bool m_bReady = false;               // READY is recorded: targets may hold new files
    std::set<std::string> m_madeFolders; // the targets' folders, made once each
    // The operations that set an installed file aside or copied their staged file: after the
    // commit only they can have left a file to remove.
    std::set<std::size_t> m_leavers;
};

enum : int {
    kRecoveryNothing = 0,  // no journal: no apply was interrupted
    kRecoveryFinished = 1, // the interrupted apply had committed: the new set stays
    kRecoveryUndone = 2,   // it had not: the old set is back
    kRecoveryFailed = -1,  // a step of the recovery failed (the journal stays for the next try)
    kRecoveryRefused = -2, // the journal is not one this program's apply could have written:
                           // nothing was moved, and it was set aside (RefusedJournalPath)
};

// Finishes or undoes the apply that the program folder's journal records, if any; why says
// why a journal was refused.
int RecoverInterruptedApply(const std::string& programFolder, std::string& why);
// The same, with a log line "<pszWho>> ..." when there was a journal.
int RecoverApplyOfFolder(const std::string& programFolder, const char* pszWho);

// "<program folder>/update/staging": where trusted mode's downloads wait until they are applied
// (the volume of the program folder), and the journal there.
std::string StagingFolder(const std::string& programFolder);
std::string ApplyJournalPath(const std::string& programFolder);
// Where a refused journal is set aside: "journal.refused" beside it.
std::string RefusedJournalPath(const std::string& programFolder);
// Creates the staging folder when it is missing, and lets only the administrators and the
// system write in it and in "update" (plat::RestrictFolderWriters). False when the folder is
// not there at the end or its access could not be set (LastErrorCode tells why).
bool EnsureStagingFolder(const std::string& programFolder);
// Removes every file of the staging folder but the journal and a refused one, and the folders
// of staged files (after a committed run).
void ClearStagingFolder(const std::string& programFolder);
// Where the staged file named by the SHA-256 hex lies: "<staging>/<its first digit>/<hex>".
// Sixteen folders rather than one: creating or renaming a file holds its folder's lock, which
// the downloads of several connections would otherwise all wait for.
std::string StagedFilePath(const std::string& stagingFolder, const std::string& hex);
// Creates the folder of a staged file when it is missing, with the staging folder's access.
// False when it is not there at the end or its access could not be set.
bool EnsureStagedFileFolder(const std::string& stagedPath);
// The staging folder and those of its folders that StagedFilePath names.
std::vector<std::string> StagedFileFolders(const std::string& stagingFolder);

// "<target>.ks-new" and "<target>.ks-old".
std::string ApplyNewPath(const std::string& target);
std::string ApplyOldPath(const std::string& target);
