#include "updatelist/ListFile.h"

#include "diag/MyLog.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <cstdio>

std::vector<std::string> SplitListPieces(const std::string& bytes, std::size_t nPieceMax) {
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Up to nPieceMax bytes of the line; a CR LF counts as one byte, as text mode reads it.
        std::size_t end = pos;
        std::size_t counted = 0;
        bool bLineEnd = false;
        while (end < bytes.size() && counted < nPieceMax) {
            if (bytes[end] == '\n') {
                bLineEnd = true;
                break;
            }
            if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') {
                bLineEnd = true;
                break;
            }
            ++end;
            ++counted;
        }
        std::string piece = bytes.substr(pos, end - pos);
        if (bLineEnd) {
            piece += '\n';
            end += bytes[end] == '\r' ? 2 : 1;
        }
        pos = end;
        const std::size_t nul = piece.find('\0');
        if (nul != std::string::npos)
            piece.resize(nul);
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

namespace {

bool ReadAll(std::FILE* fp, std::string& bytes) {
    char buf[8192];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        bytes.append(buf, n);
    return std::ferror(fp) == 0;
}

} // namespace

int ReadListFile(const std::string& path, const std::string& strLocalBaseDir,
                 const std::function<void(DownFileItem&)>& expand, DownFileItemList& list,
                 std::size_t nPieceMax) {
    plat::FileStatus status;
    if (plat::GetFileStatus(path, status) &&
        status.nSize > static_cast<std::uint64_t>(kListFileMaxBytes)) {
        WriteLog(g_pMyLog, 4,
                 "CSyncEngine::GetFileListFileFromFile> List File Too Large, Size = %llu, Limit = "
                 "%lld",
                 static_cast<unsigned long long>(status.nSize),
                 static_cast<long long>(kListFileMaxBytes));
        return -1;
    }
    std::FILE* fp = plat::OpenFile(path, "rb");
    if (fp == nullptr) {
        WriteLog(g_pMyLog, 1, "CSyncEngine::GetFileListFileFromFile> fopen(%s) Fail, ErrNo = %d",
                 path.c_str(), plat::LastErrorCode());
        return -1;
    }
    std::string bytes;
    ReadAll(fp, bytes); // a read error ends the file where it happened
    std::fclose(fp);

    for (const std::string& piece : SplitListPieces(bytes, nPieceMax)) {
        if (piece.empty() || piece[0] == '#' || piece[0] == '!')
            continue;
        std::string line = piece;
        if (line.back() == '\n')
            line.pop_back();
        auto item = std::make_unique<DownFileItem>();
        if (!item->ParseListLine(plat::AnsiToUtf8(line)))
            continue;
        if (expand)
            expand(*item);
        item->MakeTargetFilePath(strLocalBaseDir);
        list.push_back(std::move(item));
    }
    return 0;
}
