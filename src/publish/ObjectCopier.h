// The new objects of a release, copied into a store's "objects" folder. Each file is written
// to "<object>.ks-part" beside its final name while it is hashed again (a file that changed
// since it was hashed is refused), given the tree file's modification time, made durable, and
// only then renamed to its final name: no object name ever holds part of a file, and an object
// that is there is never written again. What was not committed is removed when the copier
// goes away.
#pragma once

#include "publish/TreeScan.h"

#include <cstdint>
#include <string>
#include <vector>

class CObjectCopier {
public:
    explicit CObjectCopier(std::string storeDir) : m_strDir(std::move(storeDir)) {}
    // Removes the temporary files of objects not committed.
    ~CObjectCopier();
    CObjectCopier(const CObjectCopier&) = delete;
    CObjectCopier& operator=(const CObjectCopier&) = delete;

    // True when the store holds the object of file (hashed) under its final name.
    bool Has(const CTreeFile& file) const;

    // Copies file (hashed, not held yet) to its object's temporary name; false with the
    // reason, naming the file and the system's reason.
    bool Copy(const CTreeFile& file, std::string& why);

    // Every copied object on the disk, then under its final name, the names on the disk too;
    // false with the reason (the objects renamed by then are whole).
    bool Commit(std::string& why);

    std::size_t Count() const { return m_vecObjects.size(); }
    std::uint64_t Bytes() const { return m_nBytes; }

private:
    // The temporary file of object i removed.
    void Discard(std::size_t i);

    std::string m_strDir;
    std::vector<std::string> m_vecObjects; // full paths of the copied objects' final names
    std::vector<bool> m_vecCommitted;
    std::uint64_t m_nBytes = 0;
};
