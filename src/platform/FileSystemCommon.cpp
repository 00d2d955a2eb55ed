// File-system helpers built on the platform calls, the same on both sides.
#include "platform/FileSystem.h"

#include "platform/Path.h"

#include <algorithm>

namespace plat {

std::string SystemErrorTextOf(int code) {
    std::string text;
    if (!SystemErrorText(code, text))
        text = "error " + std::to_string(code);
    return text;
}

bool ReadWholeFile(const std::string& path, std::size_t nMax, std::string& bytes) {
    std::FILE* fp = OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    bytes.clear();
    // Room for the file's present size first: grown as the bytes came, a large file was copied
    // again at every growth.
    const std::int64_t nSize = FileSizeOf(path);
    if (nSize > 0)
        bytes.reserve(std::min(static_cast<std::size_t>(nSize), nMax) + 1);
    char buf[65536];
    for (std::size_t n; bytes.size() <= nMax && (n = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        bytes.append(buf, n);
    const bool bOk = std::ferror(fp) == 0 && bytes.size() <= nMax;
    std::fclose(fp);
    return bOk;
}

bool ReadFileInto(const std::string& path, char* pBuf, std::size_t nMax, std::size_t& nRead) {
    std::FILE* fp = OpenFile(path, "rb");
    if (fp == nullptr)
        return false;
    // A read as large as the buffer goes past the stream's own buffer, into pBuf.
    nRead = std::fread(pBuf, 1, nMax, fp);
    const bool bOk =
        std::ferror(fp) == 0 && (nRead < nMax || std::fgetc(fp) == EOF) && std::ferror(fp) == 0;
    std::fclose(fp);
    return bOk;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, bool bDurable) {
    const std::string temp = path + ".ks-write";
    std::FILE* fp = OpenFile(temp, "wb");
    if (fp == nullptr)
        return false;
    bool bOk = WriteToFile(fp, bytes.data(), bytes.size()) == bytes.size();
    bOk = CloseFile(fp) && bOk;
    bOk = bOk && (!bDurable || FlushToDisk(temp)) && ReplaceFileWith(temp, path);
    if (!bOk) {
        const int nError = LastErrorCode();
        RemoveFile(temp);
        SetLastErrorCode(nError);
    }
    return bOk;
}

std::int64_t FileSizeOf(const std::string& path) {
    FileStatus status;
    return GetFileStatus(path, status) ? static_cast<std::int64_t>(status.nSize) : -1;
}

bool CreateFolderChain(const std::string& path) {
    FileStatus status;
    // Called once per file to be written: a folder that is there costs one look, not one
    // failed creation per folder above it.
    if (GetFileStatus(path, status) && status.bFolder)
        return true;
    for (std::size_t i = 1; i < path.size(); ++i) {
        const bool bDrive = i == 2 && path[1] == ':';
        if (IsPathSep(path[i]) && !IsPathSep(path[i - 1]) && !bDrive)
            CreateFolder(path.substr(0, i)); // existing folders simply fail
    }
    if (!path.empty())
        CreateFolder(path);
    return GetFileStatus(path, status) && status.bFolder;
}

std::string ResolveChildName(const std::string& folder, const std::string& name, bool& bExists) {
    const std::string path = folder + kPathSep + name;
    std::vector<FoundFile> found;
    bExists = name.find_first_of("*?") == std::string::npos && FindFiles(path, found);
    if (!bExists)
        return path;
    for (const FoundFile& file : found) {
        if (file.strName == name)
            return file.strPath;
    }
    return found[0].strPath;
}

} // namespace plat
