// Whether the recovery at start-up may act on a journal it finds. Recovery runs at every start,
// trusted mode or not, elevated on Windows, and the journal is a file that someone else may
// have written; so it acts only on what the journal's own apply could have named:
// - every staged file is a file of the staging folder named by a SHA-256;
// - with a LIST record: the list kept beside the journal has that hash and is signed by one of
//   the workstation's keys (the key file, or the one an interrupted apply set aside), and it
//   names every target: a replacement's with the staged file's hash, a deletion's as a DEL
//   line (targets resolved as a run resolves them, with and without the special folders);
// - without one (a journal of an earlier version): every target lies in the program folder,
//   outside its "update" folder.
#pragma once

#include "apply/ApplyJournal.h"
#include "updatelist/DownFileItem.h"

#include <string>

class CJournalCheck {
public:
    explicit CJournalCheck(const std::string& programFolder);

    // True when recovery may act on journal; else false, and why says why.
    bool Admit(const CApplyJournal& journal, std::string& why) const;

private:
    bool StagedInStaging(const CApplyOp& op, std::string& why) const;
    bool TargetsContained(const CApplyJournal& journal, std::string& why) const;
    bool TargetsListed(const CApplyJournal& journal, std::string& why) const;
    // The kept list's lines, after its hash and signature are checked.
    bool LoadList(const CApplyJournal& journal, DownFileItemList& items, std::string& why) const;

    std::string m_strProgramFolder;
    std::string m_strStaging;
};
