// The journal of an apply as text (its records are described in apply/Apply.h): the records
// written, and the journal read back.
#pragma once

#include "apply/Apply.h"

#include <cstddef>
#include <string>
#include <vector>

// What a journal records.
struct CApplyJournal {
    std::vector<CApplyOp> ops;
    bool bListed = false;      // it has a LIST record
    std::string strListSha256; // the list's SHA-256 as the record gives it
    std::string strSignature;  // the list's signature (bytes)
    bool bBegun = false;
    bool bReady = false; // every new file was in place and flushed
    bool bCommitted = false;
    bool bUndone = false; // every target held its old file again
};

// The first line of every journal.
extern const char* const kApplyJournalHead;

// "LIST", "OP n" as lines without their line end.
std::string ApplyListRecord(const CApplyOrigin& origin);
std::string ApplyOpRecord(std::size_t n, const CApplyOp& op);

// The journal's records; false when it cannot be read or is not a journal. Only whole lines
// count: a record cut by the end of a process is no record.
bool ReadApplyJournal(const std::string& path, CApplyJournal& journal);
