#include "apply/ApplyJournal.h"

#include "platform/FileSystem.h"
#include "trust/SignedList.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

const char* const kApplyJournalHead = "KestrelSync apply journal 1";

namespace {

// A journal larger than this is no journal of ours (a list of 100,000 lines makes far less).
constexpr std::size_t kJournalMaxBytes = 256u << 20;

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

bool ReadText(const std::string& path, std::string& text) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    char buf[8192];
    for (std::size_t n;
         (n = std::fread(buf, 1, sizeof buf, fp)) > 0 && text.size() <= kJournalMaxBytes;)
        text.append(buf, n);
    std::fclose(fp);
    return text.size() <= kJournalMaxBytes;
}

void ReadRecord(const std::vector<std::string>& f, CApplyJournal& journal) {
    if (f[0] == "LIST" && f.size() >= 3 && !journal.bBegun && journal.ops.empty()) {
        journal.bListed = true;
        journal.strListSha256 = f[1];
        if (!BytesOfHex(f[2], journal.strSignature))
            journal.strSignature.clear(); // verifies against no key
    } else if (f[0] == "OP" && f.size() >= 4 && !journal.bBegun) {
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
    } else if (f[0] == "UNDONE") {
        journal.bUndone = true;
    }
}

} // namespace

std::string ApplyListRecord(const CApplyOrigin& origin) {
    return "LIST\t" + origin.strSha256 + "\t" + HexOfBytes(origin.strSignature);
}

std::string ApplyOpRecord(std::size_t n, const CApplyOp& op) {
    return "OP\t" + std::to_string(n) + (op.bDelete ? "\tDELETE\t" : "\tREPLACE\t") + op.strTarget +
           (op.bDelete ? "" : "\t" + op.strStaged + "\t" + std::to_string(op.tModify));
}

bool ReadApplyJournal(const std::string& path, CApplyJournal& journal) {
    std::string text;
    if (!ReadText(path, text))
        return false;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kApplyJournalHead)
        return false;
    while (std::getline(lines, line) && !lines.eof())
        ReadRecord(SplitTabs(line), journal);
    return true;
}
