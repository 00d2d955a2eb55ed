// A release store: a folder served as the workstations' download base.
//
//   kestrelsync-store.txt    "kestrelsync-store 1", then "key <id>": the SHA-256 of the
//                            signing key's public half (DER SubjectPublicKeyInfo)
//   objects/ab/<sha256>      each published file once, under its hash; never changed
//   objects/ab/<sha256>.zst  its compressed copy, when that is meaningfully smaller
//   patches/ab/<sha256>/<from>.zst  patches to it from earlier objects (trust/FormIndex.h)
//   forms/<sha256>.txt       the index of the forms, named by a release's list
//   releases/<serial>.txt    every release's signed list (history, rollback)
//   <list name>              the live list: a copy of the live release's list, replaced last
//                            and in one step, carrying its signature in its last line
//   <list name>.sig          its signature as a file of its own, for older workstations
//   .lock                    held by the command that writes the store (publish/StoreLock.h)
//
// The class reads and writes the store's files; the commands (publish/StorePublisher.h) decide
// what to write. Every call that can fail returns false with the reason in why.
#pragma once

#include "publish/StoreLock.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct CRemovedObject {
    std::string strPath; // "objects/ab/<sha256>"
    std::uint64_t nSize = 0;
};

class CReleaseStore {
public:
    static constexpr const char* kMarkerName = "kestrelsync-store.txt";

    CReleaseStore(std::string dir, std::string listName)
        : m_strDir(std::move(dir)), m_strListName(std::move(listName)) {}

    // The store at the folder: its marker read. Refused for a folder without a marker.
    bool Open(std::string& why);
    // The store at the folder, or the store a first release makes there: a folder that does
    // not exist (its parent must; created when bCreate) or holds nothing. Refused for a folder
    // that holds anything else and has no marker.
    bool OpenForRelease(bool bCreate, std::string& why);
    // The store's lock taken for the rest of the command, and the marker read again under it.
    bool Lock(std::string& why);

    // True when the folder is no store yet (no marker).
    bool IsNew() const { return m_strKeyId.empty(); }
    // The key named by the marker (empty for a new store).
    const std::string& KeyId() const { return m_strKeyId; }
    // The marker naming keyId, on the disk.
    bool WriteMarker(const std::string& keyId, std::string& why);

    const std::string& Dir() const { return m_strDir; }
    // The path of a name inside the store ("objects/ab/..." or "releases/...").
    std::string PathOf(const std::string& name) const;
    std::string LivePath() const { return PathOf(m_strListName); }
    std::string ReleasePath(std::int64_t nSerial) const;

    // The serials of the store's releases, oldest first.
    std::vector<std::int64_t> Serials() const;
    // The live list's serial, 0 when there is none.
    std::int64_t LiveSerial() const;
    bool ReadLive(std::string& bytes) const;
    bool ReadRelease(std::int64_t nSerial, std::string& bytes, std::string& why) const;

    // bytes made release nSerial, then the live list, then its ".sig" (liveSignature, over all
    // of bytes): each on the disk before the next. On failure before the live list is
    // replaced, the store is as it was.
    bool Publish(std::int64_t nSerial, const std::string& bytes, const std::string& liveSignature,
                 std::string& why);

    // Removes every object (and left-over part of one) not named in kept, with its
    // compressed copy and its patches, and every forms index that kept does not name.
    bool RemoveObjectsExcept(const std::set<std::string>& kept,
                             std::vector<CRemovedObject>& removed, std::string& why);

private:
    // The patches of the objects not named in kept.
    bool RemovePatchesExcept(const std::set<std::string>& kept,
                             std::vector<CRemovedObject>& removed, std::string& why);
    // The forms indexes that no kept list names ("forms/<hash>.txt" in kept).
    bool RemoveFormIndexesExcept(const std::set<std::string>& kept,
                                 std::vector<CRemovedObject>& removed, std::string& why);
    // 1: a marker was read; 0: no marker; -1: refused (why says why).
    int ReadMarker(std::string& why);
    bool IsEmptyFolder() const;

    std::string m_strDir;
    std::string m_strListName;
    std::string m_strKeyId;
    CStoreLock m_lock;
};
