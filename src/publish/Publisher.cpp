#include "publish/Publisher.h"

#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "publish/ListTargets.h"
#include "publish/Rules.h"
#include "transfer/HttpDate.h"
#include "trust/Der.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr std::size_t kReadBlock = 1 << 20;

struct CTreeFile {
    std::string strPath;     // below the tree, with "/"
    std::string strFullPath; // on this machine
    std::uint64_t nSize = 0;
    std::int64_t tModify = 0;
    std::string strHash;
};

// One line's fields as the list reader splits them back: quoted where a "," or a leading
// comment mark would change the line; false for text no field can carry.
bool AppendField(std::string& line, const std::string& text, bool bFirst) {
    if (text.find_first_of("\"\r\n") != std::string::npos || (!text.empty() && text.back() == '\\'))
        return false;
    if (!bFirst)
        line += ',';
    const bool bQuote = text.empty() || text.find(',') != std::string::npos ||
                        (bFirst && (text[0] == '#' || text[0] == '!'));
    line += bQuote ? "\"" + text + "\"" : text;
    return true;
}

bool ReadAll(const std::string& path, std::string& bytes) {
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    std::vector<char> buf(kReadBlock);
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), fp)) > 0;)
        bytes.append(buf.data(), n);
    const bool bOk = std::ferror(fp) == 0;
    std::fclose(fp);
    return bOk;
}

// Writes bytes to path through a temporary file beside it, replaced in one step.
bool WriteWhole(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".ks-publish";
    std::FILE* fp = plat::OpenFile(temp, "wb");
    if (fp == nullptr)
        return false;
    const bool bWritten = plat::WriteToFile(fp, bytes.data(), bytes.size()) == bytes.size();
    if (!plat::CloseFile(fp) || !bWritten || !plat::ReplaceFileWith(temp, path)) {
        plat::RemoveFile(temp);
        return false;
    }
    return true;
}

std::string Folder(const std::string& path) {
    const std::size_t sep = plat::LastSepPos(path);
    return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
}

// The private key of "list-signing.key" (SEC 1 or PKCS #8 PEM); false with the reason.
bool LoadPrivateKey(const std::string& path, plat::CP256KeyPair& pair, std::string& why) {
    std::string text;
    if (!ReadAll(path, text)) {
        why = "cannot read " + path;
        return false;
    }
    // `openssl ecparam -genkey` without -noout puts the curve's parameters first.
    static const std::string kParams = "-----BEGIN EC PARAMETERS-----";
    static const std::string kParamsEnd = "-----END EC PARAMETERS-----";
    const std::size_t params = text.find(kParams);
    const std::size_t paramsEnd = text.find(kParamsEnd);
    if (params != std::string::npos && paramsEnd != std::string::npos)
        text.erase(params, paramsEnd + kParamsEnd.size() - params);
    for (const bool bPkcs8 : {false, true}) {
        std::vector<std::vector<std::uint8_t>> blocks;
        std::string other;
        if (DecodePemBlocks(text, bPkcs8 ? "PRIVATE KEY" : "EC PRIVATE KEY", blocks, other) &&
            blocks.size() == 1 && ParseP256PrivateKey(blocks[0], bPkcs8, pair.d, pair.point))
            return true;
    }
    why = path + " is not a P-256 private key in PEM";
    return false;
}

plat::Sha256Digest Digest(const std::string& bytes) {
    plat::CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    plat::Sha256Digest digest{};
    sha.Finish(digest);
    return digest;
}

// The list as text in its encoding, or false when the text has no form in it.
bool Encode(const std::string& utf8, const std::string& encoding, std::string& bytes) {
    if (encoding == "utf-8") {
        bytes = utf8;
        return true;
    }
    return plat::Utf8ToCp949(utf8, bytes);
}

bool Decode(const std::string& bytes, const std::string& encoding, std::string& utf8) {
    if (encoding == "utf-8") {
        utf8 = bytes;
        return true;
    }
    return plat::Cp949ToUtf8(bytes, utf8);
}

// The items of a list (UTF-8 text), by the workstations' own reader.
std::vector<DownFileItem> ParseItems(const std::string& utf8) {
    std::vector<DownFileItem> items;
    for (const std::string& piece : SplitListPieces(utf8, kSignedLineMax + 1)) {
        if (piece.empty() || piece[0] == '#' || piece[0] == '!')
            continue;
        std::string line = piece;
        if (line.back() == '\n')
            line.pop_back();
        DownFileItem item;
        if (item.ParseListLine(line))
            items.push_back(item);
    }
    return items;
}

std::string WithBackslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

} // namespace

int CPublisher::Fail(const std::string& message) {
    std::fprintf(m_err, "kestrelsync-publish: %s\n", message.c_str());
    return 1;
}

std::string CPublisher::TimeColumn(std::int64_t t) {
    return UtcDigitsFromTime(t + kHttpDateShift);
}

int CPublisher::Keygen(const std::string& dir) {
    const std::string keyPath = plat::JoinPath(dir, "list-signing.key");
    const std::string pubPath = plat::JoinPath(dir, "KestrelSync.pem");
    plat::FileStatus status;
    if (!plat::GetFileStatus(dir, status) || !status.bFolder)
        return Fail("the folder " + dir + " does not exist");
    for (const std::string& path : {keyPath, pubPath}) {
        if (plat::GetFileStatus(path, status))
            return Fail(path + " exists already; a key is never overwritten");
    }
    plat::CP256KeyPair pair;
    if (!plat::GenerateP256KeyPair(pair))
        return Fail("the system could not make a P-256 key");
    const std::string key = EncodePem("EC PRIVATE KEY", EncodeP256PrivateKey(pair.d, pair.point));
    const std::string pub = EncodePem("PUBLIC KEY", EncodeP256PublicKeyInfo(pair.point));
    for (const auto& [path, text, bPrivate] :
         {std::make_tuple(keyPath, key, true), std::make_tuple(pubPath, pub, false)}) {
        std::FILE* fp = plat::CreateNewFile(path, bPrivate);
        const bool bOk =
            fp != nullptr && plat::WriteToFile(fp, text.data(), text.size()) == text.size();
        const int nError = plat::LastErrorCode();
        if (fp == nullptr || !plat::CloseFile(fp) || !bOk) {
            if (fp != nullptr)
                plat::RemoveFile(path);
            if (path == pubPath)
                plat::RemoveFile(keyPath);
            return Fail("cannot write " + path + ": " + plat::SystemErrorTextOf(nError));
        }
    }
    std::fprintf(m_out,
                 "wrote %s (keep it private) and %s (for the workstations' config "
                 "folder)\n",
                 keyPath.c_str(), pubPath.c_str());
    return 0;
}

int CPublisher::Sign(const std::string& list, const std::string& key) {
    std::string bytes;
    if (!ReadAll(list, bytes))
        return Fail("cannot read " + list);
    plat::CP256KeyPair pair;
    std::string why;
    if (!LoadPrivateKey(key, pair, why))
        return Fail(why);
    std::array<std::uint8_t, 64> rs{};
    if (!plat::SignP256(pair, Digest(bytes), rs))
        return Fail("the system refused to sign with " + key);
    if (!WriteWhole(list + ".sig", EncodeDerEcdsaSignature(rs)))
        return Fail("cannot write " + list + ".sig");
    std::fprintf(m_out, "wrote %s.sig\n", list.c_str());
    return 0;
}

namespace {

struct CScan {
    std::string strRoot;            // the tree's canonical path
    std::set<std::string> excluded; // canonical paths of the tool's own files
    std::set<std::string> visited;  // canonical folders, against loops of links
    std::vector<CTreeFile> files;
    std::string strWhy;
};

bool Inside(const std::string& root, const std::string& path) {
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           plat::IsPathSep(path[root.size()]);
}

bool ScanFolder(CScan& scan, const std::string& folder, const std::string& relative) {
    std::vector<plat::FoundFile> found;
    if (!plat::FindFiles(plat::JoinPath(folder, "*"), found) &&
        plat::LastErrorCode() != plat::kErrFileNotFound) {
        scan.strWhy = "cannot read the folder " + folder;
        return false;
    }
    for (const plat::FoundFile& entry : found) {
        const std::string path = relative.empty() ? entry.strName : relative + "/" + entry.strName;
        std::string canonical;
        if (!plat::CanonicalPath(entry.strPath, canonical)) {
            scan.strWhy = "cannot resolve " + path + " (a link to nothing?)";
            return false;
        }
        if (!Inside(scan.strRoot, canonical)) {
            scan.strWhy = "the link " + path + " leads out of the tree";
            return false;
        }
        if (entry.bFolder) {
            if (scan.visited.insert(canonical).second && !ScanFolder(scan, entry.strPath, path))
                return false;
            continue;
        }
        if (scan.excluded.count(canonical) != 0)
            continue;
        plat::FileStatus status;
        if (!plat::GetFileStatus(entry.strPath, status)) {
            scan.strWhy = "cannot read " + path;
            return false;
        }
        scan.files.push_back(CTreeFile{path, entry.strPath, status.nSize, status.tModify, ""});
    }
    return true;
}

constexpr int kHashUnreadable = -1;
constexpr int kHashChanged = -2;

// The file's hash, and its size and time from the same read: 0, kHashUnreadable, or
// kHashChanged when the bytes read and the file's status before and after the read disagree
// (a file written to while it is read would give a line whose size and hash do not match).
int HashFile(CTreeFile& file, std::uint64_t& nHashed) {
    plat::FileStatus before;
    std::FILE* fp = plat::GetFileStatus(file.strFullPath, before)
                        ? plat::OpenFile(file.strFullPath, "rb")
                        : nullptr;
    if (fp == nullptr)
        return kHashUnreadable;
    plat::CSha256 sha;
    std::uint64_t nRead = 0;
    std::vector<char> buf(kReadBlock);
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), fp)) > 0;) {
        sha.Update(buf.data(), n);
        nRead += n;
    }
    const bool bRead = std::ferror(fp) == 0;
    std::fclose(fp);
    nHashed += nRead;
    plat::Sha256Digest digest{};
    plat::FileStatus after;
    if (!bRead || !sha.Finish(digest) || !plat::GetFileStatus(file.strFullPath, after))
        return kHashUnreadable;
    if (nRead != before.nSize || after.nSize != before.nSize || after.tModify != before.tModify)
        return kHashChanged;
    file.nSize = nRead;
    file.tModify = before.tModify;
    file.strHash = Sha256Hex(digest);
    return 0;
}

// A workstation puts the server path into the request as it stands: "%" would begin an
// escape, "?" a query and "#" a fragment, so the server would answer for another name.
bool FetchableName(const std::string& serverPath) {
    return serverPath.find_first_of("%?#") == std::string::npos;
}

struct CEntry {
    std::string strServer;
    std::string strLine; // UTF-8
    std::string strSize;
    std::string strTime;
    std::string strHash;
    bool bDelete = false;
};

// The line of each file of the tree: class, type and local path from the previous list, else
// from the rules. False with the reason for a file no line may name, or for two files that
// would be one on a workstation.
bool FileEntries(const std::vector<CTreeFile>& files, const std::vector<CPublishRule>& rules,
                 const std::map<std::string, DownFileItem>& previous, CListTargets& targets,
                 std::vector<CEntry>& entries, std::string& why) {
    for (const CTreeFile& file : files) {
        CEntry entry{file.strPath, "", std::to_string(file.nSize),
                     CPublisher::TimeColumn(file.tModify), file.strHash};
        std::string strClass;
        std::string strType;
        std::string strLocal;
        const auto known = previous.find(file.strPath);
        if (known != previous.end()) {
            strClass = known->second.m_strFileClass;
            strType = known->second.m_strFileType;
            strLocal = WithBackslashes(known->second.m_strLocalFile);
        } else {
            ApplyRules(rules, file.strPath, strClass, strType, strLocal);
        }
        std::string earlier;
        if (file.strPath.find('\\') != std::string::npos ||
            !AppendField(entry.strLine, file.strPath, true) ||
            !AppendField(entry.strLine, strLocal, false))
            why = "the name " + file.strPath + " cannot be written in a list line";
        else if (!FetchableName(file.strPath))
            why = "the name " + file.strPath +
                  " holds \"%\", \"?\" or \"#\", which the workstations send as they are (the "
                  "server would answer for another name); rename it";
        else if (!targets.Add(file.strPath, strLocal, earlier))
            why = earlier + " and " + file.strPath + " are one file on the workstations (" +
                  strLocal + "); give them other local paths";
        if (!why.empty())
            return false;
        for (const std::string* field :
             {&strClass, &strType, &entry.strTime, &entry.strSize, &entry.strHash})
            AppendField(entry.strLine, *field, false);
        entries.push_back(entry);
    }
    return true;
}

// The previous list's DEL lines, each until its file comes back or another line of the list
// takes its target (deleting what that line brings).
bool DeletionEntries(const std::vector<DownFileItem>& previousDeletions, CListTargets& targets,
                     std::vector<CEntry>& entries, std::string& why) {
    std::set<std::string> present;
    for (const CEntry& entry : entries)
        present.insert(entry.strServer);
    for (const DownFileItem& item : previousDeletions) {
        const std::string local = WithBackslashes(item.m_strLocalFile);
        std::string earlier;
        if (present.count(item.m_strServerFile) != 0 || targets.Has(local))
            continue;
        targets.Add(item.m_strServerFile, local, earlier);
        CEntry entry;
        entry.bDelete = true;
        entry.strServer = item.m_strServerFile;
        const std::string time =
            item.m_strModifyTime.empty() ? "20000101000000" : item.m_strModifyTime;
        const std::string size = item.m_strFileSize.empty() ? "0" : item.m_strFileSize;
        bool bOk = AppendField(entry.strLine, item.m_strServerFile, true) &&
                   AppendField(entry.strLine, local, false);
        for (const std::string& field : {item.m_strFileClass, std::string("DEL"), time, size})
            bOk = bOk && AppendField(entry.strLine, field, false);
        if (!bOk) {
            why = "the DEL line of " + item.m_strServerFile + " cannot be written";
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

// What a list of entries would change against the previous list, for --dry-run.
void ShowChanges(std::FILE* out, const std::vector<CEntry>& entries,
                 const std::map<std::string, DownFileItem>& previous) {
    int nAdded = 0;
    int nChanged = 0;
    int nUnchanged = 0;
    std::set<std::string> present;
    for (const CEntry& entry : entries) {
        if (entry.bDelete)
            continue;
        present.insert(entry.strServer);
        const auto known = previous.find(entry.strServer);
        const char* what = "added";
        if (known == previous.end()) {
            ++nAdded;
        } else if (known->second.m_strFileSize != entry.strSize ||
                   known->second.m_strModifyTime != entry.strTime ||
                   known->second.m_strSha256 != entry.strHash) {
            what = "changed";
            ++nChanged;
        } else {
            ++nUnchanged;
            continue;
        }
        std::fprintf(out, "%s: %s\n", what, entry.strServer.c_str());
    }
    int nRemoved = 0;
    for (const auto& [path, item] : previous) {
        if (present.count(path) == 0) {
            std::fprintf(out, "removed: %s\n", path.c_str());
            ++nRemoved;
        }
    }
    std::fprintf(out, "%d added, %d changed, %d removed, %d unchanged (nothing written)\n", nAdded,
                 nChanged, nRemoved, nUnchanged);
}

// The item against its file in the tree, each difference given to differ; false for a DEL
// line, which only checks that the file is gone.
bool CompareWithTree(const std::string& tree, const DownFileItem& item,
                     const std::function<void(const std::string&)>& differ) {
    std::string path = item.m_strServerFile;
    std::replace(path.begin(), path.end(), '/', plat::kPathSep);
    CTreeFile file{item.m_strServerFile, plat::JoinPath(tree, path), 0, 0, ""};
    plat::FileStatus status;
    const bool bExists = plat::GetFileStatus(file.strFullPath, status) && !status.bFolder;
    if (item.m_nFileType == kFileTypeDel) {
        if (bExists)
            differ("on the server although the list deletes it: " + file.strPath);
        return false;
    }
    std::uint64_t nHashed = 0;
    const int nHash = bExists ? HashFile(file, nHashed) : kHashUnreadable;
    if (nHash != 0) {
        differ((nHash == kHashChanged ? "changed while it was read: " : "missing from the tree: ") +
               file.strPath);
        return true;
    }
    const std::string size = std::to_string(file.nSize);
    const std::string time = CPublisher::TimeColumn(file.tModify);
    if (item.m_strFileSize != size)
        differ("size differs: " + file.strPath + ": " + item.m_strFileSize + " in the list, " +
               size + " in the tree");
    if (item.m_strModifyTime != time)
        differ("time differs: " + file.strPath + ": " + item.m_strModifyTime + " in the list, " +
               time + " in the tree");
    if (item.m_strSha256 != file.strHash)
        differ("SHA-256 differs: " + file.strPath);
    return true;
}

// The files of the tree in order, without the tool's own files; false with the reason in
// scan.strWhy.
bool ScanTree(const CPublishOptions& options, const std::string& out, CScan& scan) {
    if (!plat::CanonicalPath(options.strTree, scan.strRoot)) {
        scan.strWhy = "cannot resolve the tree " + options.strTree;
        return false;
    }
    scan.visited.insert(scan.strRoot);
    for (const std::string& own : {out, out + ".sig", out + ".ks-publish", options.strPrevious,
                                   options.strPrevious + ".sig"}) {
        std::string canonical;
        if (!own.empty() && plat::CanonicalPath(own, canonical))
            scan.excluded.insert(canonical);
    }
    if (!ScanFolder(scan, options.strTree, ""))
        return false;
    std::sort(scan.files.begin(), scan.files.end(),
              [](const CTreeFile& a, const CTreeFile& b) { return a.strPath < b.strPath; });
    return true;
}

// The files of the scan hashed in order, with their progress on progress (when not null);
// false with the reason in scan.strWhy.
bool HashTree(CScan& scan, std::FILE* progress, std::uint64_t& nHashed) {
    for (std::size_t i = 0; i < scan.files.size(); ++i) {
        const int nHash = HashFile(scan.files[i], nHashed);
        if (nHash != 0) {
            scan.strWhy = nHash == kHashChanged
                              ? scan.files[i].strPath + " changed while it was read; publish when "
                                                        "the tree stays as it is"
                              : "cannot read " + scan.files[i].strPath;
            return false;
        }
        if (progress != nullptr)
            std::fprintf(progress, "\rhashed %zu of %zu files, %.1f MB", i + 1, scan.files.size(),
                         static_cast<double>(nHashed) / 1e6);
    }
    if (progress != nullptr)
        std::fprintf(progress, "\n");
    return true;
}

struct CPrevious {
    std::map<std::string, DownFileItem> files; // by server path
    std::vector<DownFileItem> deletions;
    std::int64_t nSerial = 0;
};

// The previous list of options, checked as a workstation would check it (--force takes one
// that does not parse or is not signed); false with the reason.
bool ReadPrevious(const CPublishOptions& options, CPrevious& previous, std::string& why) {
    if (options.strPrevious.empty())
        return true;
    std::string bytes;
    std::string utf8;
    if (!ReadAll(options.strPrevious, bytes)) {
        why = "cannot read the previous list " + options.strPrevious;
        return false;
    }
    const bool bHasSerial = bytes.compare(0, 8, "#serial=") == 0;
    if (!Decode(bytes, options.strEncoding, utf8) ||
        (bHasSerial && !ListSerial(bytes, previous.nSerial))) {
        if (!options.bForce) {
            why = "the previous list " + options.strPrevious + " does not parse as " +
                  options.strEncoding + " (--force takes it all the same)";
            return false;
        }
        Decode(bytes, "utf-8", utf8);
    }
    if (!options.strPub.empty()) {
        std::vector<plat::CP256PublicKey> keys;
        std::string signature;
        if (LoadListKeys(options.strPub, keys, why) != kListKeysLoaded) {
            why = options.strPub +
                  " holds no usable public key: " + (why.empty() ? "no such file" : why);
            return false;
        }
        ReadAll(options.strPrevious + ".sig", signature);
        if (!IsSignedByAny(bytes, signature, keys, why) && !options.bForce) {
            why = "the previous list is not signed by " + options.strPub + ": " + why +
                  " (--force takes it all the same)";
            return false;
        }
        why.clear();
    }
    for (const DownFileItem& item : ParseItems(utf8)) {
        if (item.m_nFileType == kFileTypeDel)
            previous.deletions.push_back(item);
        else
            previous.files.emplace(item.m_strServerFile, item);
    }
    return true;
}

// The list file in the encoding of options: its head (the serial, and the expiry when
// options ask for one, from tNow), then the line of each entry; false with the reason.
bool EncodeList(const std::vector<CEntry>& entries, const CPublishOptions& options,
                std::int64_t nSerial, std::int64_t tNow, std::string& bytes, std::string& why) {
    std::string text = "#serial=" + std::to_string(nSerial) + "\n";
    if (options.nExpiresDays >= 0)
        text += "#expires=" + UtcDigitsFromTime(tNow + std::int64_t{options.nExpiresDays} * 86400) +
                "\n";
    if (!Encode(text, options.strEncoding, bytes)) {
        why = "the list's head cannot be encoded";
        return false;
    }
    for (const CEntry& entry : entries) {
        std::string line;
        if (!Encode(entry.strLine + "\n", options.strEncoding, line)) {
            why = "the name " + entry.strServer + " cannot be written in CP949";
            return false;
        }
        if (line.size() > kSignedLineMax + 1) {
            why = "the line of " + entry.strServer + " is longer than " +
                  std::to_string(kSignedLineMax) + " bytes";
            return false;
        }
        bytes += line;
    }
    return true;
}

} // namespace

namespace {

// The list command's tree, encoding, output folder and rules checked and read; false with the
// reason.
bool ReadListSettings(const CPublishOptions& options, std::string& out,
                      std::vector<CPublishRule>& rules, std::string& why) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(options.strTree, status) || !status.bFolder) {
        why = "the tree " + options.strTree + " is not a folder";
        return false;
    }
    if (options.strEncoding != "cp949" && options.strEncoding != "utf-8") {
        why = "--encoding is cp949 or utf-8";
        return false;
    }
    out =
        options.strOut.empty() ? plat::JoinPath(options.strTree, "_listfile.txt") : options.strOut;
    if (!plat::GetFileStatus(Folder(out), status) || !status.bFolder) {
        why = "the output folder " + Folder(out) + " does not exist";
        return false;
    }
    if (options.strRules.empty())
        return true;
    std::string text;
    if (!ReadAll(options.strRules, text)) {
        why = "cannot read the rules file " + options.strRules;
        return false;
    }
    if (ParseRules(text, rules, why))
        return true;
    why = options.strRules + ", " + why;
    return false;
}

// The scanned files merged with the previous list: a line for each file (the previous line's
// time where the content did not change) and DEL lines for what went. False with the reason.
bool MergeWithPrevious(const CScan& scan, const std::vector<CPublishRule>& rules,
                       const CPrevious& previous, std::vector<CEntry>& entries, std::string& why) {
    CListTargets targets;
    return FileEntries(scan.files, rules, previous.files, targets, entries, why) &&
           DeletionEntries(previous.deletions, targets, entries, why);
}

} // namespace

int CPublisher::List(const CPublishOptions& options) {
    std::string out;
    std::vector<CPublishRule> rules;
    CPrevious previous;
    std::string why;
    if (!ReadListSettings(options, out, rules, why) || !ReadPrevious(options, previous, why))
        return Fail(why);
    CScan scan;
    std::uint64_t nHashed = 0;
    if (!ScanTree(options, out, scan) ||
        !HashTree(scan, options.bProgress ? m_err : nullptr, nHashed))
        return Fail(scan.strWhy);
    std::vector<CEntry> entries;
    if (!MergeWithPrevious(scan, rules, previous, entries, why))
        return Fail(why);
    if (options.bDryRun) {
        ShowChanges(m_out, entries, previous.files);
        return 0;
    }
    const std::int64_t tNow = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t nSerial =
        std::max<std::int64_t>(previous.nSerial + 1, std::stoll(UtcDigitsFromTime(tNow)));
    std::string bytes;
    if (!EncodeList(entries, options, nSerial, tNow, bytes, why))
        return Fail(why);
    if (!WriteWhole(out, bytes))
        return Fail("cannot write " + out + ": " + plat::SystemErrorTextOf(plat::LastErrorCode()));
    std::fprintf(m_out, "wrote %s: serial %lld, %zu files (%.1f MB hashed), %zu DEL lines\n",
                 out.c_str(), static_cast<long long>(nSerial), scan.files.size(),
                 static_cast<double>(nHashed) / 1e6, entries.size() - scan.files.size());
    return 0;
}

int CPublisher::Verify(const std::string& tree, const std::string& list, const std::string& pub,
                       const std::string& encoding) {
    std::string bytes;
    std::string signature;
    std::string utf8;
    if (!ReadAll(list, bytes))
        return Fail("cannot read " + list);
    std::vector<plat::CP256PublicKey> keys;
    std::string why;
    if (LoadListKeys(pub, keys, why) != kListKeysLoaded)
        return Fail(pub + " holds no usable public key: " + (why.empty() ? "no such file" : why));
    int nDifferences = 0;
    const auto differ = [this, &nDifferences](const std::string& text) {
        std::fprintf(m_out, "%s\n", text.c_str());
        ++nDifferences;
    };
    if (!ReadAll(list + ".sig", signature))
        differ("no signature " + list + ".sig");
    const CListVerdict verdict =
        VerifySignedList(bytes, signature, keys, 0, static_cast<std::int64_t>(std::time(nullptr)));
    if (!verdict.bAccepted)
        differ("a workstation refuses the list: " + verdict.strReason);
    if (!Decode(bytes, encoding, utf8))
        return Fail(list + " is not " + encoding + " text");
    std::size_t nChecked = 0;
    CListTargets targets;
    for (const DownFileItem& item : ParseItems(utf8)) {
        std::string earlier;
        if (!targets.Add(item.m_strServerFile, item.m_strLocalFile, earlier))
            differ("one file on the workstations: " + earlier + " and " + item.m_strServerFile);
        if (item.m_nFileType != kFileTypeDel && !FetchableName(item.m_strServerFile))
            differ("a name the workstations cannot ask for: " + item.m_strServerFile);
        if (CompareWithTree(tree, item, differ))
            ++nChecked;
    }
    std::fprintf(m_out, "%zu files checked, %d difference(s)\n", nChecked, nDifferences);
    return nDifferences == 0 ? 0 : 1;
}
