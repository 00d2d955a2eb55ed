#include "publish/Publisher.h"

#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "publish/ListWriter.h"
#include "publish/SigningKey.h"
#include "transfer/HttpDate.h"
#include "trust/Der.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace {

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
    CSigningKey signingKey;
    std::string why;
    std::string signature;
    if (!signingKey.Load(key, why))
        return Fail(why);
    if (!signingKey.Sign(bytes, signature))
        return Fail("the system refused to sign with " + key);
    if (!WriteWhole(list + ".sig", signature))
        return Fail("cannot write " + list + ".sig");
    std::fprintf(m_out, "wrote %s.sig\n", list.c_str());
    return 0;
}

namespace {

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
    return LoadRules(options.strRules, rules, why);
}

// The scanned files merged with the previous list: a line for each file (the previous line's
// time where the content did not change) and DEL lines for what went. False with the reason.
bool MergeWithPrevious(const CScan& scan, const std::vector<CPublishRule>& rules,
                       const CPrevious& previous, std::vector<CEntry>& entries, std::string& why) {
    CListTargets targets;
    return FileEntries(scan.files, rules, previous.files, ServerPaths::kTree, targets, entries,
                       why) &&
           DeletionEntries(previous.deletions, ServerPaths::kTree, targets, entries, why);
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
    const std::vector<std::string> own = {out, out + ".sig", out + ".ks-publish",
                                          options.strPrevious, options.strPrevious + ".sig"};
    if (!ScanTree(options.strTree, own, scan) ||
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
    if (!EncodeList(entries, ListHead(nSerial, options.nExpiresDays, tNow), options.strEncoding,
                    bytes, why))
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
