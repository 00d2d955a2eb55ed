#include "apply/PartialValidators.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The downloads of several connections record and look up at once.
std::mutex g_validatorsMutex;

const char* const kFileName = "partial-validators";

std::string ValidatorsFile(const std::string& staged) {
    const std::size_t sep = plat::LastSepPos(staged);
    const std::string folder = sep == std::string::npos ? std::string() : staged.substr(0, sep);
    return plat::JoinPath(folder, kFileName);
}

std::string NameOf(const std::string& staged) {
    const std::size_t sep = plat::LastSepPos(staged);
    return sep == std::string::npos ? staged : staged.substr(sep + 1);
}

// The bytes of a file, at most nMax of them; empty when it cannot be read.
std::string ReadBytes(const std::string& path, std::size_t nMax) {
    std::string text;
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr)
        return text;
    char buf[8192];
    for (std::size_t n; text.size() < nMax && (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        text.append(buf, n);
    std::fclose(fp);
    return text.substr(0, nMax);
}

} // namespace

bool CPartialValidators::Record(const std::string& staged, const std::string& validator) {
    if (validator.find_first_of("\r\n") != std::string::npos)
        return false;
    const std::string line = NameOf(staged) + "\t" + validator + "\n";
    std::lock_guard<std::mutex> lock(g_validatorsMutex);
    std::FILE* fp = plat::OpenFile(ValidatorsFile(staged), "ab");
    if (fp == nullptr)
        return false;
    const bool bWritten = plat::WriteToFile(fp, line.data(), line.size()) == line.size();
    return plat::CloseFile(fp) && bWritten;
}

std::string CPartialValidators::Find(const std::string& staged) {
    const std::string prefix = NameOf(staged) + "\t";
    std::string text;
    {
        std::lock_guard<std::mutex> lock(g_validatorsMutex);
        text = ReadBytes(ValidatorsFile(staged), std::string::npos);
    }
    std::string validator;
    bool bFound = false;
    // Whole lines only: a line cut by the end of a process is no record.
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        if (text.compare(at, prefix.size(), prefix) == 0) {
            validator = text.substr(at + prefix.size(), end - at - prefix.size());
            bFound = true;
        }
    }
    return bFound ? validator : ReadBytes(staged + ".part.lm", 256);
}

void CPartialValidators::DropUnused(const std::string& stagingFolder) {
    std::vector<plat::FoundFile> partials;
    if (plat::FindFiles(plat::JoinPath(stagingFolder, "*.part"), partials))
        return;
    const int nError = plat::LastErrorCode();
    if (nError != plat::kErrFileNotFound && nError != plat::kErrPathNotFound)
        return; // a folder that cannot be listed may hold some
    std::lock_guard<std::mutex> lock(g_validatorsMutex);
    plat::RemoveLeftOverFile(plat::JoinPath(stagingFolder, kFileName));
}
