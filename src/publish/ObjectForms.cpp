#include "publish/ObjectForms.h"

#include "codec/Zstd.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "trust/SignedList.h"
#include "updatelist/DownFileItem.h"

#include <set>

namespace {

std::string Native(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = plat::kPathSep;
    }
    return path;
}

// A list line's local path, as the list's text gives it.
std::string LocalOfLine(const std::string& line) {
    DownFileItem item;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return item.ParseListLine(text) ? item.m_strLocalFile : std::string();
}

} // namespace

bool FormIsWorthKeeping(std::uint64_t nFormSize, std::uint64_t nAgainst) {
    return nFormSize * 10 <= nAgainst * 9;
}

bool CObjectForms::ReadEarlierReleases(std::string& why) {
    std::vector<std::int64_t> serials = m_store.Serials();
    for (auto it = serials.rbegin();
         it != serials.rend() && static_cast<int>(m_earlier.size()) < m_nPatchReleases; ++it) {
        std::string bytes;
        if (!m_store.ReadRelease(*it, bytes, why))
            return false;
        std::string utf8;
        DecodeListText(bytes, utf8);
        std::map<std::string, std::string> files;
        for (const DownFileItem& item : ParseItems(utf8)) {
            if (!item.m_strSha256.empty())
                files[item.m_strLocalFile] = item.m_strSha256;
        }
        m_earlier.push_back(std::move(files));
    }
    return true;
}

bool CObjectForms::Make(const std::vector<CEntry>& entries,
                        const std::vector<const CTreeFile*>& newObjects, std::string& why) {
    std::map<std::string, const CTreeFile*> fresh;
    for (const CTreeFile* file : newObjects)
        fresh[file->strHash] = file;
    if (fresh.empty() || !ReadEarlierReleases(why))
        return fresh.empty();
    for (const CEntry& entry : entries) {
        const auto found = fresh.find(entry.strHash);
        if (entry.bDelete || found == fresh.end())
            continue;
        std::string content;
        std::string kept;
        if (!ReadAll(found->second->strFullPath, content)) {
            why = "cannot read " + found->second->strFullPath;
            return false;
        }
        fresh.erase(found); // one object, one set of forms
        if (!MakeCompressed(entry.strHash, content, kept, why))
            return false;
        const std::size_t nBound = kept.empty() ? content.size() : kept.size();
        if (!MakePatches(LocalOfLine(entry.strLine), entry.strHash, content, nBound, why))
            return false;
    }
    return true;
}

bool CObjectForms::MakeCompressed(const std::string& hash, const std::string& content,
                                  std::string& kept, std::string& why) {
    // The fastest level tells in a moment whether the content compresses at all: media and
    // packed files do not, and the slow level would find nothing either.
    std::string compressed;
    if (!ZstdCompress(content, compressed, 1)) {
        why = "zstd could not compress the object " + hash;
        return false;
    }
    if (!FormIsWorthKeeping(compressed.size(), content.size()))
        return true;
    if (!ZstdCompress(content, compressed)) {
        why = "zstd could not compress the object " + hash;
        return false;
    }
    if (!FormIsWorthKeeping(compressed.size(), content.size()))
        return true;
    kept = std::move(compressed);
    ++m_nCompressed;
    return WriteForm(CompressedFormPath(hash), kept, why);
}

bool CObjectForms::MakePatches(const std::string& local, const std::string& hash,
                               const std::string& content, std::size_t nBound, std::string& why) {
    std::set<std::string> done;
    for (const auto& files : m_earlier) {
        const auto earlier = files.find(local);
        if (local.empty() || earlier == files.end() || earlier->second == hash ||
            !done.insert(earlier->second).second)
            continue;
        std::string reference;
        if (!ReadAll(m_store.PathOf(Native(ObjectPath(earlier->second))), reference) ||
            !ZstdPatchFits(reference.size(), content.size()))
            continue; // an object pruned away, or too large to patch from
        std::string patch;
        if (!ZstdPatch(reference, content, patch)) {
            why = "zstd could not make the patch of " + hash + " from " + earlier->second;
            return false;
        }
        if (!FormIsWorthKeeping(patch.size(), nBound))
            continue;
        ++m_nPatches;
        if (!WriteForm(PatchFormPath(hash, earlier->second), patch, why))
            return false;
    }
    return true;
}

bool CObjectForms::WriteForm(const std::string& relative, const std::string& bytes,
                             std::string& why) {
    const std::string path = m_store.PathOf(Native(relative));
    if (!plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))) ||
        !plat::WriteWholeFile(path, bytes, false)) {
        why = "cannot write " + path;
        return false;
    }
    m_nBytes += bytes.size();
    return true;
}

namespace {

// The form at relative in the store, with its size and hash; false when it is not there.
bool FormOnDisk(const CReleaseStore& store, const std::string& relative, CObjectForm& form) {
    std::string bytes;
    if (!ReadAll(store.PathOf(Native(relative)), bytes))
        return false;
    form.nSize = static_cast<std::int64_t>(bytes.size());
    form.strHash = Sha256HexOf(bytes);
    return !form.strHash.empty();
}

} // namespace

bool CObjectForms::WriteIndex(const std::vector<CEntry>& entries, CFormsRef& ref,
                              std::string& why) const {
    CFormIndex index;
    std::set<std::string> seen;
    for (const CEntry& entry : entries) {
        if (entry.bDelete || entry.strHash.empty() || !seen.insert(entry.strHash).second)
            continue;
        CObjectForm form;
        if (FormOnDisk(m_store, CompressedFormPath(entry.strHash), form))
            index.Add(entry.strHash, form);
        const std::string folder = PatchFormPath(entry.strHash, "x");
        std::vector<plat::FoundFile> found;
        plat::FindFiles(m_store.PathOf(Native(folder.substr(0, folder.rfind('/') + 1) + "*.zst")),
                        found);
        for (const plat::FoundFile& file : found) {
            CObjectForm patch;
            patch.bPatch = true;
            patch.strFrom = file.strName.substr(0, file.strName.size() - 4);
            if (patch.strFrom.size() == 64 &&
                FormOnDisk(m_store, PatchFormPath(entry.strHash, patch.strFrom), patch))
                index.Add(entry.strHash, patch);
        }
    }
    ref = CFormsRef{};
    if (index.Empty())
        return true;
    const std::string text = index.Text();
    ref.strHash = Sha256HexOf(text);
    ref.nSize = static_cast<std::int64_t>(text.size());
    const std::string path = m_store.PathOf(Native(FormsIndexPath(ref.strHash)));
    if (!plat::CreateFolderChain(path.substr(0, plat::LastSepPos(path))) ||
        !plat::WriteWholeFile(path, text, false)) {
        why = "cannot write " + path;
        return false;
    }
    return true;
}
