// The smaller forms of a release's objects (trust/FormIndex.h): a compressed copy of each new
// object when it is meaningfully smaller, and for each file that changed against the last
// releases a patch from each earlier object, kept when it is smaller than the compressed copy
// (or the object). Forms are written under their final names (through a temporary file and a
// rename) before the release's list; the index covers every object of the release, with the
// forms earlier releases made.
#pragma once

#include "publish/ListWriter.h"
#include "publish/ReleaseStore.h"
#include "publish/TreeScan.h"
#include "trust/FormIndex.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CObjectForms {
public:
    // nPatchReleases: how many of the newest releases patches start from (0: none).
    CObjectForms(const CReleaseStore& store, int nPatchReleases)
        : m_store(store), m_nPatchReleases(nPatchReleases) {}

    // The forms of the objects of entries that newObjects (the tree's files of the objects the
    // store lacked) brought.
    bool Make(const std::vector<CEntry>& entries, const std::vector<const CTreeFile*>& newObjects,
              std::string& why);
    // The index of every form the store holds for the objects of entries, written as
    // "forms/<sha256>.txt"; ref names it. An empty index is not written (ref.strHash empty).
    bool WriteIndex(const std::vector<CEntry>& entries, CFormsRef& ref, std::string& why) const;

    std::size_t Compressed() const { return m_nCompressed; }
    std::size_t Patches() const { return m_nPatches; }
    std::uint64_t Bytes() const { return m_nBytes; }

private:
    // Local path (UTF-8) to object hash, of each of the newest releases, newest first.
    bool ReadEarlierReleases(std::string& why);
    bool MakeCompressed(const std::string& hash, const std::string& content, std::string& kept,
                        std::string& why);
    bool MakePatches(const std::string& local, const std::string& hash, const std::string& content,
                     std::size_t nBound, std::string& why);
    bool WriteForm(const std::string& relative, const std::string& bytes, std::string& why);

    const CReleaseStore& m_store;
    int m_nPatchReleases;
    std::vector<std::map<std::string, std::string>> m_earlier;
    std::size_t m_nCompressed = 0;
    std::size_t m_nPatches = 0;
    std::uint64_t m_nBytes = 0;
};

// Whether a form of nFormSize bytes is worth keeping beside nAgainst bytes (the object, or the
// compressed copy a patch competes with): it must save at least a tenth.
bool FormIsWorthKeeping(std::uint64_t nFormSize, std::uint64_t nAgainst);
