#include "apply/JournalCheck.h"

#include "config/DirKeyMap.h"
#include "platform/FileSystem.h"
#include "platform/KnownFolders.h"
#include "platform/Path.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"

#include <unordered_map>
#include <unordered_set>

namespace {

// True when the path key lies below the folder key.
bool LiesBelow(const std::string& key, const std::string& folderKey) {
    return key.size() > folderKey.size() + 1 && key.compare(0, folderKey.size(), folderKey) == 0 &&
           key[folderKey.size()] == plat::kPathSep;
}

// The workstation's keys: the key file's, and those of the key file an interrupted apply set
// aside (the list that brought a new key file was signed with an old key).
std::vector<plat::CP256PublicKey> WorkstationKeys(const std::string& programFolder) {
    std::vector<plat::CP256PublicKey> keys;
    const std::string path = ListKeyFilePath(programFolder);
    for (const std::string& file : {path, ApplyOldPath(path)}) {
        std::vector<plat::CP256PublicKey> loaded;
        std::string why;
        if (LoadListKeys(file, loaded, why) == kListKeysLoaded) {
            for (plat::CP256PublicKey& key : loaded)
                keys.push_back(std::move(key));
        }
    }
    return keys;
}

// The lines of the list at path, their targets resolved as a run resolves them: by the console
// program (no special folders) and by the dialog (the special folders of this machine).
void ReadTargets(const std::string& path, const std::string& programFolder,
                 DownFileItemList& items) {
    if (g_strWindowsDir.empty())
        g_strWindowsDir = plat::GetWindowsFolder();
    if (g_strSystemDir.empty())
        g_strSystemDir = plat::GetSystemFolder();
    ReadListFile(path, programFolder, nullptr, items, kSignedLineMax + 1);
    CDirKeyMap map;
    map.LoadSpecialDirMap();
    ReadListFile(
        path, programFolder, [&map](DownFileItem& item) { map.ExpandSpecialDirPath(item); }, items,
        kSignedLineMax + 1);
}

} // namespace

CJournalCheck::CJournalCheck(const std::string& programFolder)
    : m_strProgramFolder(programFolder), m_strStaging(StagingFolder(programFolder)) {}

bool CJournalCheck::Admit(const CApplyJournal& journal, std::string& why) const {
    for (const CApplyOp& op : journal.ops) {
        if (!op.bDelete && !StagedInStaging(op, why))
            return false;
    }
    return journal.bListed ? TargetsListed(journal, why) : TargetsContained(journal, why);
}

bool CJournalCheck::StagedInStaging(const CApplyOp& op, std::string& why) const {
    const std::size_t sep = plat::LastSepPos(op.strStaged);
    const std::string folder =
        sep == std::string::npos ? std::string() : op.strStaged.substr(0, sep);
    const std::string name = sep == std::string::npos ? op.strStaged : op.strStaged.substr(sep + 1);
    // Where StagedFilePath puts it, or (a journal of an earlier version) the staging folder.
    if (sep == std::string::npos ||
        (plat::PathKey(folder) != plat::PathKey(m_strStaging) &&
         plat::PathKey(op.strStaged) != plat::PathKey(StagedFilePath(m_strStaging, name)))) {
        why = "the staged file " + op.strStaged + " is not in the staging folder";
        return false;
    }
    plat::Sha256Digest digest{};
    if (!ParseSha256Hex(name, digest) || Sha256Hex(digest) != name) {
        why = "the staged file " + op.strStaged + " is not named by a SHA-256";
        return false;
    }
    return true;
}

bool CJournalCheck::TargetsContained(const CApplyJournal& journal, std::string& why) const {
    const std::string program = plat::PathKey(m_strProgramFolder);
    const std::string update = plat::PathKey(plat::JoinPath(m_strProgramFolder, "update"));
    for (const CApplyOp& op : journal.ops) {
        const std::string key = plat::PathKey(op.strTarget);
        if (!LiesBelow(key, program) || key == update || LiesBelow(key, update)) {
            why = "the target " + op.strTarget +
                  " of a journal without its list is not a file of the program folder";
            return false;
        }
    }
    return true;
}

bool CJournalCheck::LoadList(const CApplyJournal& journal, DownFileItemList& items,
                             std::string& why) const {
    plat::Sha256Digest digest{};
    const std::string& hash = journal.strListSha256;
    const std::string path = plat::JoinPath(m_strStaging, hash);
    std::string bytes;
    if (!ParseSha256Hex(hash, digest) || Sha256Hex(digest) != hash ||
        !ReadListFileBytes(path, bytes) || Sha256HexOf(bytes) != hash) {
        why = "the journal's list " + path + " is missing or does not have its hash";
        return false;
    }
    std::string reason;
    if (!IsListSignedByAny(bytes, journal.strSignature, WorkstationKeys(m_strProgramFolder),
                           reason)) {
        why = "the journal's list is not signed by a key of this workstation: " + reason;
        return false;
    }
    ReadTargets(path, m_strProgramFolder, items);
    return true;
}

bool CJournalCheck::TargetsListed(const CApplyJournal& journal, std::string& why) const {
    DownFileItemList items;
    if (!LoadList(journal, items, why))
        return false;
    // What the list lets each target be: "DEL", or the hashes of its other lines.
    std::unordered_map<std::string, std::unordered_set<std::string>> named;
    for (const auto& item : items) {
        plat::Sha256Digest digest{};
        std::unordered_set<std::string>& uses = named[plat::PathKey(item->m_strTargetFile)];
        if (item->m_nFileType == kFileTypeDel)
            uses.insert("DEL");
        else if (ParseSha256Hex(item->m_strSha256, digest))
            uses.insert(Sha256Hex(digest));
    }
    for (const CApplyOp& op : journal.ops) {
        const auto found = named.find(plat::PathKey(op.strTarget));
        const std::string use = op.bDelete
                                    ? std::string("DEL")
                                    : op.strStaged.substr(plat::LastSepPos(op.strStaged) + 1);
        if (found == named.end() || found->second.count(use) == 0) {
            why = "the target " + op.strTarget + " is not named by the list " +
                  journal.strListSha256 + (op.bDelete ? " as a deletion" : " with that hash");
            return false;
        }
    }
    return true;
}
