#include "publish/ObjectCopier.h"

#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "publish/ListWriter.h"
#include "trust/SignedList.h"

#include <memory>

namespace {

constexpr std::size_t kCopyBlock = 1 << 20;
const char* const kPartSuffix = ".ks-part";

std::string ParentOf(const std::string& path) {
    return path.substr(0, plat::LastSepPos(path));
}

std::string ErrorText() {
    return plat::SystemErrorTextOf(plat::LastErrorCode());
}

// from (the tree file fromName) copied to the open file to (toName) while it is hashed:
// hash and nCopied of what was read; false with the reason.
bool CopyHashing(std::FILE* from, const std::string& fromName, std::FILE* to,
                 const std::string& toName, std::string& hash, std::uint64_t& nCopied,
                 std::string& why) {
    plat::CSha256 sha;
    const std::unique_ptr<char[]> buf(new char[kCopyBlock]);
    for (std::size_t n; (n = std::fread(buf.get(), 1, kCopyBlock, from)) > 0; nCopied += n) {
        sha.Update(buf.get(), n);
        if (plat::WriteToFile(to, buf.get(), n) != n) {
            why = "cannot write " + toName + ": " + ErrorText();
            return false;
        }
    }
    plat::Sha256Digest digest{};
    if (std::ferror(from) != 0 || !sha.Finish(digest)) {
        why = "cannot read " + fromName;
        return false;
    }
    hash = Sha256Hex(digest);
    return true;
}

} // namespace

CObjectCopier::~CObjectCopier() {
    for (std::size_t i = 0; i < m_vecObjects.size(); ++i) {
        if (!m_vecCommitted[i])
            Discard(i);
    }
}

void CObjectCopier::Discard(std::size_t i) {
    plat::RemoveLeftOverFile(m_vecObjects[i] + kPartSuffix);
}

bool CObjectCopier::Has(const CTreeFile& file) const {
    plat::FileStatus status;
    return plat::GetFileStatus(plat::JoinPath(m_strDir, ObjectPath(file.strHash)), status);
}

bool CObjectCopier::Copy(const CTreeFile& file, std::string& why) {
    why.clear();
    const std::string object = plat::JoinPath(m_strDir, ObjectPath(file.strHash));
    const std::string temp = object + kPartSuffix;
    const std::string name = temp + " (" + file.strPath + ")";
    if (!plat::CreateFolderChain(ParentOf(object))) {
        why = "cannot make the folder " + ParentOf(object) + ": " + ErrorText();
        return false;
    }
    std::FILE* from = plat::OpenFile(file.strFullPath, "rb");
    if (from == nullptr) {
        why = "cannot read " + file.strPath + ": " + ErrorText();
        return false;
    }
    std::FILE* to = plat::OpenFile(temp, "wb");
    if (to == nullptr) {
        why = "cannot write " + name + ": " + ErrorText();
        std::fclose(from);
        return false;
    }
    m_vecObjects.push_back(object);
    m_vecCommitted.push_back(false);
    std::uint64_t nCopied = 0;
    std::string hash;
    const bool bCopied = CopyHashing(from, file.strPath, to, name, hash, nCopied, why);
    std::fclose(from);
    const bool bStarted = plat::StartWriteBack(to);
    const bool bClosed = plat::CloseFile(to);
    if (!bCopied)
        return false;
    if (!bStarted || !bClosed)
        why = "cannot write " + name + ": " + ErrorText();
    else if (hash != file.strHash || nCopied != file.nSize)
        why = file.strPath + " changed while it was copied; publish when the tree stays as it is";
    else if (!plat::SetFileModifyTime(temp, file.tModify))
        why = "cannot set the time of " + name + ": " + ErrorText();
    if (!why.empty())
        return false;
    m_nBytes += nCopied;
    return true;
}

bool CObjectCopier::Commit(std::string& why) {
    std::vector<std::string> temps;
    std::vector<std::string> named;
    for (const std::string& object : m_vecObjects) {
        temps.push_back(object + kPartSuffix);
        named.push_back(object);
        named.push_back(ParentOf(object));
    }
    if (!temps.empty() && !plat::FlushFilesToDisk(temps)) {
        why = "cannot write the new objects to the disk: " + ErrorText();
        return false;
    }
    for (std::size_t i = 0; i < m_vecObjects.size(); ++i) {
        // An object of that name is whole already (objects are only ever renamed into place).
        if (plat::RenameFile(temps[i], m_vecObjects[i])) {
            m_vecCommitted[i] = true;
            continue;
        }
        if (plat::LastErrorCode() != plat::kErrAlreadyExists) {
            why = "cannot rename " + temps[i] + ": " + ErrorText();
            return false;
        }
    }
    if (!named.empty() && !plat::FlushFilesToDisk(named)) {
        why = "cannot write the new objects' names to the disk: " + ErrorText();
        return false;
    }
    return true;
}
