// The lines of a list file as the publishing tool writes them: one line per file of a tree
// (server path, local path, class, type, time, size, SHA-256), the DEL lines carried over from
// the list published before, the head, and the text in the workstations' encoding.
#pragma once

#include "publish/ListTargets.h"
#include "publish/Rules.h"
#include "publish/TreeScan.h"
#include "updatelist/DownFileItem.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CEntry {
    std::string strServer;
    std::string strName; // what messages call the line: the tree path, else the server path
    std::string strLine; // UTF-8
    std::string strSize;
    std::string strTime;
    std::string strHash;
    bool bDelete = false;
};

// What a file's line names as its server path: the file's path in a served tree, or its
// object in a release store (see ObjectPath).
enum class ServerPaths { kTree, kObjects };

// "objects/<first two digits>/<hash>": where a release store keeps the file of that SHA-256.
std::string ObjectPath(const std::string& hash);

// The line of each file: class, type and local path from the previous list, else from the
// rules. False with the reason for a file no line may name, or for two files that would be
// one on a workstation.
bool FileEntries(const std::vector<CTreeFile>& files, const std::vector<CPublishRule>& rules,
                 const std::map<std::string, DownFileItem>& previous, ServerPaths paths,
                 CListTargets& targets, std::vector<CEntry>& entries, std::string& why);

// The previous list's DEL lines, each until its file comes back (a tree's line of the same
// server path) or another line of the list takes its target (deleting what that line brings).
bool DeletionEntries(const std::vector<DownFileItem>& previousDeletions, ServerPaths paths,
                     CListTargets& targets, std::vector<CEntry>& entries, std::string& why);

// "#serial=N", then "#expires=..." nExpiresDays after tNow when it is not negative.
std::string ListHead(std::int64_t nSerial, int nExpiresDays, std::int64_t tNow);

// head (UTF-8) and the line of each entry in encoding; false with the reason.
bool EncodeList(const std::vector<CEntry>& entries, const std::string& head,
                const std::string& encoding, std::string& bytes, std::string& why);

// The text in encoding ("cp949" or "utf-8") from UTF-8, or false when it has no form in it.
bool Encode(const std::string& utf8, const std::string& encoding, std::string& bytes);
// The UTF-8 of bytes in encoding, or false when they are not text of it.
bool Decode(const std::string& bytes, const std::string& encoding, std::string& utf8);
// A list's text in whichever encoding it was written: UTF-8 as it is, else CP949 made UTF-8;
// false (utf8 as bytes) when it is neither.
bool DecodeListText(const std::string& bytes, std::string& utf8);

// The items of a list (its text), by the workstations' own reader.
std::vector<DownFileItem> ParseItems(const std::string& text);

// A workstation puts the server path into the request as it stands: "%" would begin an
// escape, "?" a query and "#" a fragment, so the server would answer for another name.
bool FetchableName(const std::string& serverPath);
