// Reading the list file: one download item per line.
#pragma once

#include "updatelist/DownFileItem.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Longest piece of a line that the reader takes at once; the rest of a longer line is read
// as a line of its own.
inline constexpr std::size_t kListPieceMax = 254;

// The largest list file the updater takes (16 MB): a list of 100,000 lines is far below it.
inline constexpr std::int64_t kListFileMaxBytes = 16 * 1024 * 1024;

// The whole list file at path (at most kListFileMaxBytes), as it is to be hashed and checked
// against its signature; false when it cannot be read or is larger.
bool ReadListFileBytes(const std::string& path, std::string& bytes);

// The file's bytes cut into the pieces the reader takes: each piece runs up to and including
// a line end ("\n"; a "\r\n" counts as one line end and is given as "\n") or up to
// nPieceMax bytes. A piece is cut at a NUL byte.
std::vector<std::string> SplitListPieces(const std::string& bytes,
                                         std::size_t nPieceMax = kListPieceMax);

// Reads the list file at path and appends one item per item-making line to list, in file
// order: empty lines, lines whose first byte is "#" or "!" and lines without any field make
// none. Each item's target path is given to expand (special folders), then resolved against
// strLocalBaseDir. The file is in the ANSI code page; names become UTF-8. Returns 0 when the
// file was read (empty or not), -1 when it could not be opened or is larger than
// kListFileMaxBytes (logged).
// nPieceMax is kListPieceMax for a plain list; a signed list, whose lines were checked, is
// read in whole lines.
int ReadListFile(const std::string& path, const std::string& strLocalBaseDir,
                 const std::function<void(DownFileItem&)>& expand, DownFileItemList& list,
                 std::size_t nPieceMax = kListPieceMax);
// The same for a list file's bytes already read.
void ParseListBytes(const std::string& bytes, const std::string& strLocalBaseDir,
                    const std::function<void(DownFileItem&)>& expand, DownFileItemList& list,
                    std::size_t nPieceMax = kListPieceMax);
