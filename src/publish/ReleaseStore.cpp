#include "publish/ReleaseStore.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/SignedList.h"
#include "updatelist/ListFile.h"

#include <algorithm>
#include <cctype>

namespace {

const std::string kMarkerHead = "kestrelsync-store 1\nkey ";
const std::string kReleases = "releases";
const std::string kObjects = "objects";
// The longest serial a release's name may give: what fits a signed 64-bit number.
constexpr std::size_t kSerialDigitsMax = 18;

std::string ErrorText() {
    return plat::SystemErrorTextOf(plat::LastErrorCode());
}

bool IsKeyId(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
           });
}

// The serial of a release's file name ("<digits>.txt"), or 0.
std::int64_t SerialOfName(const std::string& name) {
    if (name.size() <= 4 || name.size() - 4 > kSerialDigitsMax ||
        name.compare(name.size() - 4, 4, ".txt") != 0)
        return 0;
    const std::size_t digits = name.size() - 4;
    for (std::size_t i = 0; i < digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
    }
    return std::stoll(name.substr(0, digits));
}

} // namespace

std::string CReleaseStore::PathOf(const std::string& name) const {
    std::string path = m_strDir;
    std::size_t start = 0;
    for (std::size_t end; (end = name.find('/', start)) != std::string::npos; start = end + 1)
        path = plat::JoinPath(path, name.substr(start, end - start));
    return plat::JoinPath(path, name.substr(start));
}

std::string CReleaseStore::ReleasePath(std::int64_t nSerial) const {
    return PathOf(kReleases + "/" + std::to_string(nSerial) + ".txt");
}

int CReleaseStore::ReadMarker(std::string& why) {
    m_strKeyId.clear();
    const std::string path = PathOf(kMarkerName);
    plat::FileStatus status;
    if (!plat::GetFileStatus(path, status) && plat::LastErrorCode() == plat::kErrFileNotFound)
        return 0;
    std::string bytes;
    if (!ReadListFileBytes(path, bytes)) {
        why = "cannot read " + path + ": " + ErrorText();
        return -1;
    }
    const std::size_t end = bytes.find('\n', kMarkerHead.size());
    const std::string id = bytes.substr(kMarkerHead.size(), end - kMarkerHead.size());
    if (bytes.compare(0, kMarkerHead.size(), kMarkerHead) != 0 || !IsKeyId(id)) {
        why = path + " is not a store marker (\"kestrelsync-store 1\", then \"key <sha256 of " +
              "the public key>\")";
        return -1;
    }
    m_strKeyId = id;
    return 1;
}

bool CReleaseStore::IsEmptyFolder() const {
    std::vector<plat::FoundFile> found;
    plat::FindFiles(plat::JoinPath(m_strDir, "*"), found);
    return std::all_of(found.begin(), found.end(),
                       [](const plat::FoundFile& file) { return file.strName == ".lock"; });
}

bool CReleaseStore::Open(std::string& why) {
    const int nMarker = ReadMarker(why);
    if (nMarker == 0)
        why = m_strDir + " is not a release store (no " + kMarkerName + ")";
    return nMarker > 0;
}

bool CReleaseStore::OpenForRelease(bool bCreate, std::string& why) {
    plat::FileStatus status;
    if (!plat::GetFileStatus(m_strDir, status)) {
        if (plat::LastErrorCode() == plat::kErrFileNotFound && !bCreate)
            return true;
        // Another first release may make the folder at the same moment; its lock decides.
        if (plat::LastErrorCode() != plat::kErrFileNotFound ||
            (!plat::CreateFolder(m_strDir) && plat::LastErrorCode() != plat::kErrAlreadyExists)) {
            why = "cannot make the store " + m_strDir + ": " + ErrorText();
            return false;
        }
        return true;
    }
    if (!status.bFolder) {
        why = m_strDir + " is not a folder";
        return false;
    }
    const int nMarker = ReadMarker(why);
    if (nMarker == 0 && !IsEmptyFolder())
        why = m_strDir + " is not a release store (not empty, no " + kMarkerName + ")";
    return nMarker > 0 || (nMarker == 0 && why.empty());
}

bool CReleaseStore::Lock(std::string& why) {
    return m_lock.Acquire(m_strDir, why) && ReadMarker(why) >= 0;
}

bool CReleaseStore::WriteMarker(const std::string& keyId, std::string& why) {
    const std::string path = PathOf(kMarkerName);
    if (!plat::WriteWholeFile(path, kMarkerHead + keyId + "\n", true) ||
        !plat::FlushToDisk(m_strDir)) {
        why = "cannot write " + path + ": " + ErrorText();
        return false;
    }
    m_strKeyId = keyId;
    return true;
}

std::vector<std::int64_t> CReleaseStore::Serials() const {
    std::vector<plat::FoundFile> found;
    plat::FindFiles(plat::JoinPath(PathOf(kReleases), "*.txt"), found);
    std::vector<std::int64_t> serials;
    for (const plat::FoundFile& file : found) {
        const std::int64_t nSerial = file.bFolder ? 0 : SerialOfName(file.strName);
        if (nSerial > 0)
            serials.push_back(nSerial);
    }
    std::sort(serials.begin(), serials.end());
    return serials;
}

std::int64_t CReleaseStore::LiveSerial() const {
    std::string bytes;
    std::int64_t nSerial = 0;
    return ReadLive(bytes) && ListSerial(bytes, nSerial) ? nSerial : 0;
}

bool CReleaseStore::ReadLive(std::string& bytes) const {
    bytes.clear();
    return ReadListFileBytes(LivePath(), bytes);
}

bool CReleaseStore::ReadRelease(std::int64_t nSerial, std::string& bytes, std::string& why) const {
    const std::string path = ReleasePath(nSerial);
    bytes.clear();
    if (ReadListFileBytes(path, bytes))
        return true;
    plat::FileStatus status;
    why = plat::GetFileStatus(path, status)
              ? "cannot read " + path + ": " + ErrorText()
              : "release " + std::to_string(nSerial) + " does not exist in " + m_strDir;
    return false;
}

bool CReleaseStore::Publish(std::int64_t nSerial, const std::string& bytes,
                            const std::string& liveSignature, std::string& why) {
    const std::string release = ReleasePath(nSerial);
    plat::CreateFolder(PathOf(kReleases));
    if (!plat::WriteWholeFile(release, bytes, true) || !plat::FlushToDisk(PathOf(kReleases))) {
        why = "cannot write " + release + ": " + ErrorText() + " (the live list is the one before)";
        plat::RemoveLeftOverFile(release);
        return false;
    }
    if (!plat::WriteWholeFile(LivePath(), bytes, true)) {
        why = "cannot write " + LivePath() + ": " + ErrorText() +
              " (the live list is the one before)";
        plat::RemoveLeftOverFile(release);
        return false;
    }
    // Workstations whose updater predates carried signatures check the list against this
    // file: one that fetches the list between the two replacements sees a mismatched pair for
    // a moment and refuses that run; its next run finds the pair whole.
    const std::string sig = LivePath() + ".sig";
    if (!plat::FlushToDisk(m_strDir) || !plat::WriteWholeFile(sig, liveSignature, true)) {
        why = "release " + std::to_string(nSerial) + " is live, but " + sig +
              " could not be written: " + ErrorText() +
              " (older workstations refuse the list until it is)";
        return false;
    }
    return true;
}

namespace {

// Removes the store's file at path, recorded in removed as name with the size it had.
bool RemoveRecorded(const std::string& path, const std::string& name,
                    std::vector<CRemovedObject>& removed, std::string& why) {
    const std::int64_t nSize = plat::FileSizeOf(path);
    if (!plat::RemoveFile(path)) {
        why = "cannot remove " + path + ": " + ErrorText();
        return false;
    }
    removed.push_back(
        CRemovedObject{name, static_cast<std::uint64_t>(std::max<std::int64_t>(nSize, 0))});
    return true;
}

} // namespace

bool CReleaseStore::RemoveObjectsExcept(const std::set<std::string>& kept,
                                        std::vector<CRemovedObject>& removed, std::string& why) {
    std::vector<plat::FoundFile> folders;
    plat::FindFiles(plat::JoinPath(PathOf(kObjects), "*"), folders);
    for (const plat::FoundFile& folder : folders) {
        std::vector<plat::FoundFile> files;
        plat::FindFiles(plat::JoinPath(folder.strPath, "*"), files);
        for (const plat::FoundFile& file : files) {
            const std::string name = kObjects + "/" + folder.strName + "/" + file.strName;
            // A compressed copy goes with its object.
            const std::string object =
                name.size() > 4 && name.compare(name.size() - 4, 4, ".zst") == 0
                    ? name.substr(0, name.size() - 4)
                    : name;
            if (file.bFolder || kept.count(object) != 0)
                continue;
            if (!RemoveRecorded(file.strPath, name, removed, why))
                return false;
        }
        // A folder that still holds an object stays.
        plat::RemoveFolder(folder.strPath);
    }
    return RemovePatchesExcept(kept, removed, why) && RemoveFormIndexesExcept(kept, removed, why);
}

bool CReleaseStore::RemoveFormIndexesExcept(const std::set<std::string>& kept,
                                            std::vector<CRemovedObject>& removed,
                                            std::string& why) {
    std::vector<plat::FoundFile> indexes;
    plat::FindFiles(plat::JoinPath(PathOf("forms"), "*.txt"), indexes);
    for (const plat::FoundFile& index : indexes) {
        const std::string name = "forms/" + index.strName;
        if (!index.bFolder && kept.count(name) == 0 &&
            !RemoveRecorded(index.strPath, name, removed, why))
            return false;
    }
    return true;
}

bool CReleaseStore::RemovePatchesExcept(const std::set<std::string>& kept,
                                        std::vector<CRemovedObject>& removed, std::string& why) {
    std::vector<plat::FoundFile> groups;
    plat::FindFiles(plat::JoinPath(PathOf("patches"), "*"), groups);
    for (const plat::FoundFile& group : groups) {
        std::vector<plat::FoundFile> objects;
        plat::FindFiles(plat::JoinPath(group.strPath, "*"), objects);
        for (const plat::FoundFile& object : objects) {
            if (kept.count(kObjects + "/" + group.strName + "/" + object.strName) != 0)
                continue;
            std::vector<plat::FoundFile> patches;
            plat::FindFiles(plat::JoinPath(object.strPath, "*"), patches);
            for (const plat::FoundFile& patch : patches) {
                const std::string name =
                    "patches/" + group.strName + "/" + object.strName + "/" + patch.strName;
                if (!RemoveRecorded(patch.strPath, name, removed, why))
                    return false;
            }
            plat::RemoveFolder(object.strPath);
        }
        plat::RemoveFolder(group.strPath);
    }
    return true;
}
