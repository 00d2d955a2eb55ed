#include "publish/StorePublisher.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "publish/ListWriter.h"
#include "publish/ObjectCopier.h"
#include "publish/ObjectForms.h"
#include "publish/ObjectPipeline.h"
#include "publish/ReleaseStore.h"
#include "publish/SigningKey.h"
#include "trust/FormIndex.h"
#include "trust/Rollout.h"
#include "trust/SignedList.h"

#include <algorithm>
#include <ctime>

namespace {

// What a release reads and decides before it writes anything.
struct CReleaseWork {
    std::vector<CPublishRule> rules;
    CSigningKey key;
    bool bKeyChanged = false;
    std::vector<DownFileItem> deletions; // the live list's DEL lines
    CScan scan;
    std::vector<CEntry> entries;
    std::vector<const CTreeFile*> newObjects; // one file per object the store lacks
    std::uint64_t nNewBytes = 0;
};

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Higher than every release of the store, and at least the 14 digits of tNow, as `list` does.
std::int64_t NextSerial(const CReleaseStore& store, std::int64_t tNow) {
    const std::vector<std::int64_t> serials = store.Serials();
    std::int64_t nHighest = store.LiveSerial();
    if (!serials.empty())
        nHighest = std::max(nHighest, serials.back());
    return std::max<std::int64_t>(nHighest + 1, std::stoll(UtcDigitsFromTime(tNow)));
}

// A list's text for a message: UTF-8 as it is, else CP949 made UTF-8.
std::string Readable(const std::string& text) {
    std::string utf8;
    DecodeListText(text, utf8);
    return utf8;
}

// body signed, carrying its signature: bytes, and the signature of all of bytes for the
// ".sig" file beside the live list.
bool SignRelease(const CSigningKey& key, const std::string& body, std::string& bytes,
                 std::string& liveSignature, std::string& why) {
    std::string signature;
    if (!key.Sign(body, signature)) {
        why = "the system refused to sign with the key";
        return false;
    }
    bytes = WithCarriedSignature(body, signature);
    if (key.Sign(bytes, liveSignature))
        return true;
    why = "the system refused to sign with the key";
    return false;
}

// The options' tree, encoding, rules and key checked and read.
bool ReadReleaseInput(const CReleaseOptions& options, CReleaseWork& work, std::string& why) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(options.strTree, status) || !status.bFolder)
        why = "the tree " + options.strTree + " is not a folder";
    else if (options.strEncoding != "cp949" && options.strEncoding != "utf-8")
        why = "--encoding is cp949 or utf-8";
    else if (options.bCritical && options.nPhasedHours > 0)
        why = "a --critical release is never --phased";
    if (!why.empty())
        return false;
    return LoadRules(options.strRules, work.rules, why) && work.key.Load(options.strKey, why);
}

// True when the store (which may not exist yet) would lie inside the tree, or be the tree.
bool IsStoreInTree(const std::string& tree, const std::string& dir) {
    std::string canonicalTree;
    std::string canonical;
    const std::size_t sep = plat::LastSepPos(dir);
    const std::string parent = sep == std::string::npos ? "." : dir.substr(0, sep + (sep == 0));
    if (!plat::CanonicalPath(dir, canonical) && plat::CanonicalPath(parent, canonical))
        canonical = plat::JoinPath(canonical, dir.substr(sep + 1));
    return plat::CanonicalPath(tree, canonicalTree) && !canonical.empty() &&
           (canonical == canonicalTree || IsInside(canonicalTree, canonical));
}

// The store opened (and, unless a dry run, locked) for the release, and its key checked.
bool OpenStoreForRelease(CReleaseStore& store, const CReleaseOptions& options, CReleaseWork& work,
                         std::string& why) {
    if (IsStoreInTree(options.strTree, store.Dir())) {
        why = "the store " + store.Dir() + " lies inside the tree " + options.strTree;
        return false;
    }
    if (!store.OpenForRelease(!options.bDryRun, why) || (!options.bDryRun && !store.Lock(why)))
        return false;
    work.bKeyChanged = !store.IsNew() && store.KeyId() != work.key.PublicKeyId();
    if (work.bKeyChanged && !options.bForce) {
        why = "the key " + options.strKey + " is not the store's key (" +
              CReleaseStore::kMarkerName + " names " + store.KeyId() +
              "); --force makes it the store's key";
        return false;
    }
    return true;
}

// The DEL lines of the live list, which must be signed by the store's key (unless the key
// changes: the old one is not at hand).
bool ReadLiveDeletions(const CReleaseStore& store, const CReleaseOptions& options,
                       CReleaseWork& work, std::string& why) {
    std::string bytes;
    std::string utf8;
    plat::FileStatus status;
    if (!plat::GetFileStatus(store.LivePath(), status))
        return true;
    if (!store.ReadLive(bytes)) {
        why = "cannot read the live list " + store.LivePath();
        return false;
    }
    if (!work.bKeyChanged && !IsListSignedByAny(bytes, "", work.key.PublicKeys(), why)) {
        why = "the live list " + store.LivePath() + " is not signed by the store's key: " + why;
        return false;
    }
    if (!Decode(bytes, options.strEncoding, utf8)) {
        why = "the live list " + store.LivePath() + " is not " + options.strEncoding + " text";
        return false;
    }
    for (const DownFileItem& item : ParseItems(utf8)) {
        if (item.m_nFileType == kFileTypeDel)
            work.deletions.push_back(item);
    }
    return true;
}

// The tree hashed, its lines and the DEL lines carried over, and the objects the store lacks.
// The tree hashed and its lines decided; its new objects copied while the hashing goes on
// (found only, in a dry run).
bool PlanRelease(const CReleaseOptions& options, CObjectCopier& copier, CReleaseWork& work,
                 std::FILE* progress, std::string& why) {
    std::uint64_t nHashed = 0;
    CObjectPipeline pipeline(copier, !options.bDryRun);
    if (!ScanTree(options.strTree, {}, work.scan) ||
        !HashTree(work.scan, progress, nHashed,
                  [&pipeline](const CTreeFile& file) { pipeline.Offer(file); })) {
        why = work.scan.strWhy;
        return false;
    }
    if (!pipeline.Finish(why))
        return false;
    work.newObjects = pipeline.NewObjects();
    work.nNewBytes = pipeline.NewBytes();
    CListTargets targets;
    return FileEntries(work.scan.files, work.rules, {}, ServerPaths::kObjects, targets,
                       work.entries, why) &&
           DeletionEntries(work.deletions, ServerPaths::kObjects, targets, work.entries, why);
}

// The release's list (head, file lines, DEL lines), signed, kept and made live.
bool PublishList(CReleaseStore& store, const CReleaseOptions& options, const CReleaseWork& work,
                 const CFormsRef& forms, std::int64_t& nSerial, std::string& why) {
    const std::int64_t tNow = Now();
    nSerial = NextSerial(store, tNow);
    const CRollout rollout{tNow, options.bCritical ? 0 : options.nPhasedHours};
    std::string body;
    std::string bytes;
    std::string liveSignature;
    return EncodeList(work.entries,
                      ListHead(nSerial, options.nExpiresDays, tNow) + RolloutLines(rollout) +
                          (forms.strHash.empty() ? std::string() : FormsRefLine(forms)),
                      options.strEncoding, body, why) &&
           SignRelease(work.key, body, bytes, liveSignature, why) &&
           store.Publish(nSerial, bytes, liveSignature, why);
}

// The lines of a store's list after its head, without its carried signature: the file and
// DEL lines, as bytes.
std::string LinesAfterHead(const std::string& bytes) {
    std::string body;
    std::string signature;
    if (!SplitCarriedSignature(bytes, body, signature))
        body = bytes;
    std::size_t start = 0;
    while (start < body.size() && body[start] == '#') {
        const std::size_t end = body.find('\n', start);
        start = end == std::string::npos ? body.size() : end + 1;
    }
    return body.substr(start);
}

// Every object of release nSerial (bytes) present with the size its line gives; false naming
// the first one that is not. nFiles: the release's file lines.
bool CheckObjects(const CReleaseStore& store, std::int64_t nSerial, const std::string& bytes,
                  std::size_t& nFiles, std::string& why) {
    nFiles = 0;
    for (const DownFileItem& item : ParseItems(LinesAfterHead(bytes))) {
        if (item.m_nFileType == kFileTypeDel)
            continue;
        ++nFiles;
        const std::string& object = item.m_strServerFile;
        const std::int64_t nSize =
            object.compare(0, 8, "objects/") == 0 ? plat::FileSizeOf(store.PathOf(object)) : -1;
        if (nSize >= 0 && std::to_string(nSize) == item.m_strFileSize)
            continue;
        std::string local = Readable(item.m_strLocalFile);
        std::replace(local.begin(), local.end(), '/', '\\');
        why = "release " + std::to_string(nSerial) + " names " + object + " (" + local + "), " +
              (nSize < 0
                   ? "which the store no longer holds (pruned)"
                   : "which has " + std::to_string(nSize) + " bytes, not " + item.m_strFileSize);
        return false;
    }
    return true;
}

// The objects a store's list names, added to names.
void AddObjectNames(const std::string& bytes, std::set<std::string>& names) {
    for (const DownFileItem& item : ParseItems(LinesAfterHead(bytes))) {
        if (item.m_nFileType != kFileTypeDel)
            names.insert(item.m_strServerFile);
    }
    CFormsRef forms;
    if (ReadFormsRef(bytes, forms))
        names.insert(FormsIndexPath(forms.strHash));
}

// "YYYY-MM-DD hh:mm:ss" of a UTC time.
std::string ReadableTime(std::int64_t t) {
    const std::string d = UtcDigitsFromTime(t);
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) +
           ":" + d.substr(10, 2) + ":" + d.substr(12, 2);
}

// The line of one release for `releases`.
std::string ReleaseLine(std::int64_t nSerial, const std::string& bytes, bool bLive) {
    CRollout rollout;
    std::string why;
    const bool bRollout = ReadRollout(bytes, rollout, why) && rollout.tPublished != 0;
    std::size_t nFiles = 0;
    unsigned long long nBytes = 0;
    for (const DownFileItem& item : ParseItems(LinesAfterHead(bytes))) {
        if (item.m_nFileType == kFileTypeDel)
            continue;
        ++nFiles;
        nBytes += std::strtoull(item.m_strFileSize.c_str(), nullptr, 10);
    }
    return std::to_string(nSerial) + "  " +
           (bRollout ? ReadableTime(rollout.tPublished) : std::string("(no publication time)")) +
           "  " + std::to_string(nFiles) + " files  " + std::to_string(nBytes) + " bytes  " +
           (rollout.nPhasedHours > 0 ? "phased " + std::to_string(rollout.nPhasedHours) + "h"
                                     : std::string("not phased")) +
           (bLive ? "  live" : "");
}

} // namespace

int CStorePublisher::Fail(const std::string& message) {
    std::fprintf(m_err, "kestrelsync-publish: %s\n", message.c_str());
    return 1;
}

int CStorePublisher::Release(const CReleaseOptions& options) {
    CReleaseWork work;
    CReleaseStore store(options.strStore, options.strListName);
    CObjectCopier copier(options.strStore);
    std::string why;
    if (!ReadReleaseInput(options, work, why) || !OpenStoreForRelease(store, options, work, why) ||
        !ReadLiveDeletions(store, options, work, why))
        return Fail(why);
    // The marker comes before the first object: a release that fails leaves a store.
    const std::string oldKey = store.KeyId();
    if (!options.bDryRun && (store.IsNew() || work.bKeyChanged) &&
        !store.WriteMarker(work.key.PublicKeyId(), why))
        return Fail(why);
    if (!PlanRelease(options, copier, work, options.bProgress ? m_err : nullptr, why))
        return Fail(why);
    if (options.bDryRun) {
        std::fprintf(m_out,
                     "would copy %zu new objects (%llu bytes) of %zu files into %s "
                     "(nothing written)\n",
                     work.newObjects.size(), static_cast<unsigned long long>(work.nNewBytes),
                     work.scan.files.size(), options.strStore.c_str());
        return 0;
    }
    if (work.bKeyChanged)
        std::fprintf(m_out, "the store's key is now %s (was %s)\n", store.KeyId().c_str(),
                     oldKey.c_str());
    std::int64_t nSerial = 0;
    CObjectForms forms(store, options.nPatchReleases);
    CFormsRef formsRef;
    if (!copier.Commit(why) || !forms.Make(work.entries, work.newObjects, why) ||
        !forms.WriteIndex(work.entries, formsRef, why) ||
        !PublishList(store, options, work, formsRef, nSerial, why))
        return Fail(why);
    const std::string phased = options.bCritical || options.nPhasedHours == 0
                                   ? std::string("not phased")
                                   : "phased over " + std::to_string(options.nPhasedHours) + "h";
    std::fprintf(m_out,
                 "release %lld: %zu files, %zu new objects copied (%llu bytes), %zu compressed "
                 "copies and %zu patches (%llu bytes), %s; live as %s\n",
                 static_cast<long long>(nSerial), work.scan.files.size(), copier.Count(),
                 static_cast<unsigned long long>(copier.Bytes()), forms.Compressed(),
                 forms.Patches(), static_cast<unsigned long long>(forms.Bytes()), phased.c_str(),
                 store.LivePath().c_str());
    return 0;
}

int CStorePublisher::Rollback(const CRollbackOptions& options) {
    CSigningKey key;
    CReleaseStore store(options.strStore, options.strListName);
    std::string why;
    if (!key.Load(options.strKey, why) || !store.Open(why) || !store.Lock(why))
        return Fail(why);
    if (store.KeyId() != key.PublicKeyId())
        return Fail("the key " + options.strKey + " is not the store's key (" +
                    CReleaseStore::kMarkerName + " names " + store.KeyId() + ")");
    std::string bytes;
    std::size_t nFiles = 0;
    if (!store.ReadRelease(options.nSerial, bytes, why))
        return Fail(why);
    if (!IsListSignedByAny(bytes, "", key.PublicKeys(), why))
        return Fail("release " + std::to_string(options.nSerial) +
                    " is not signed by the store's key: " + why);
    if (!CheckObjects(store, options.nSerial, bytes, nFiles, why))
        return Fail(why);
    const std::int64_t tNow = Now();
    const std::int64_t nSerial = NextSerial(store, tNow);
    // The release's forms go with it while the store still holds their index.
    CFormsRef forms;
    const bool bForms =
        ReadFormsRef(bytes, forms) &&
        plat::FileSizeOf(store.PathOf(FormsIndexPath(forms.strHash))) == forms.nSize;
    const std::string body = ListHead(nSerial, options.nExpiresDays, tNow) +
                             RolloutLines(CRollout{tNow, 0}) +
                             (bForms ? FormsRefLine(forms) : std::string()) + LinesAfterHead(bytes);
    std::string liveSignature;
    if (!SignRelease(key, body, bytes, liveSignature, why) ||
        !store.Publish(nSerial, bytes, liveSignature, why))
        return Fail(why);
    std::fprintf(m_out,
                 "release %lld: the %zu files of release %lld again, not phased; live as "
                 "%s\n",
                 static_cast<long long>(nSerial), nFiles, static_cast<long long>(options.nSerial),
                 store.LivePath().c_str());
    return 0;
}

int CStorePublisher::Releases(const std::string& dir, const std::string& listName) {
    CReleaseStore store(dir, listName);
    std::string why;
    if (!store.Open(why))
        return Fail(why);
    const std::int64_t nLive = store.LiveSerial();
    for (const std::int64_t nSerial : store.Serials()) {
        std::string bytes;
        const std::string line = store.ReadRelease(nSerial, bytes, why)
                                     ? ReleaseLine(nSerial, bytes, nSerial == nLive)
                                     : std::to_string(nSerial) + "  (" + why + ")";
        std::fprintf(m_out, "%s\n", line.c_str());
    }
    return 0;
}

int CStorePublisher::Prune(const std::string& dir, const std::string& listName, int nKeep) {
    CReleaseStore store(dir, listName);
    std::string why;
    if (nKeep < 1)
        return Fail("--keep is at least 1");
    if (!store.Open(why) || !store.Lock(why))
        return Fail(why);
    const std::vector<std::int64_t> serials = store.Serials();
    std::set<std::string> named;
    std::string bytes;
    const std::size_t nFrom =
        serials.size() > static_cast<std::size_t>(nKeep) ? serials.size() - nKeep : 0;
    for (std::size_t i = nFrom; i < serials.size(); ++i) {
        if (!store.ReadRelease(serials[i], bytes, why))
            return Fail(why + "; nothing removed");
        AddObjectNames(bytes, named);
    }
    plat::FileStatus status;
    if (plat::GetFileStatus(store.LivePath(), status)) {
        if (!store.ReadLive(bytes))
            return Fail("cannot read the live list " + store.LivePath() + "; nothing removed");
        AddObjectNames(bytes, named);
    }
    std::vector<CRemovedObject> removed;
    const bool bRemoved = store.RemoveObjectsExcept(named, removed, why);
    unsigned long long nFreed = 0;
    for (const CRemovedObject& object : removed) {
        std::fprintf(m_out, "removed %s\n", object.strPath.c_str());
        nFreed += object.nSize;
    }
    std::fprintf(m_out, "%zu objects removed, %llu bytes freed\n", removed.size(), nFreed);
    return bRemoved ? 0 : Fail(why);
}
