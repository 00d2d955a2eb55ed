// Files and folders.
//
// Paths are UTF-8. Every function that can fail returns false (or nullptr) and leaves the
// reason in LastErrorCode() as a Windows system error code, on both platforms, so that the
// logic above this layer tests the same numbers everywhere. On POSIX, errno is mapped to the
// codes below; an errno without a Windows equivalent becomes kErrPosixBase | errno.
//
// Both sides keep the Windows meaning of the read-only attribute: a read-only file (POSIX: no
// write permission bit set) cannot be opened for writing, replaced or deleted, even by root.
// They also keep the meaning of a file held open without sharing: while another process holds
// it so (POSIX: an exclusive flock on it), it cannot be renamed, replaced or deleted
// (kErrSharingViolation).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

enum : int {
    kErrNone = 0,
    kErrFileNotFound = 2,
    kErrPathNotFound = 3,
    kErrTooManyOpenFiles = 4,
    kErrAccessDenied = 5,
    kErrNotEnoughMemory = 8,
    kErrNotSameDevice = 17,
    kErrSharingViolation = 32,
    kErrFileExists = 80,
    kErrInvalidParameter = 87,
    kErrDiskFull = 112,
    kErrDirNotEmpty = 145,
    kErrAlreadyExists = 183,
    kErrFilenameTooLong = 206,
    kErrMessageNotFound = 317,
    kErrPosixBase = 0x20000000,
};

struct FileStatus {
    std::uint64_t nSize = 0;  // bytes; 0 for a folder
    std::int64_t tModify = 0; // last modification, seconds since 1970-01-01 UTC
    bool bReadOnly = false;
    bool bFolder = false;
};

struct FoundFile {
    std::string strName; // bare name, as GetFileName gives it
    std::string strPath; // folder of the pattern joined with the name
    bool bFolder = false;
};

// Status of a file or folder. Fails with kErrFileNotFound, or kErrPathNotFound when a folder
// on the way is missing.
bool GetFileStatus(const std::string& path, FileStatus& status);

// The size of the file at path, -1 when it cannot be looked at (LastErrorCode tells why).
std::int64_t FileSizeOf(const std::string& path);

// Creates one folder (not its parents). Fails with kErrAlreadyExists when the name exists,
// kErrPathNotFound when the parent is missing.
bool CreateFolder(const std::string& path);

// Deletes a file. Fails with kErrFileNotFound / kErrPathNotFound, or kErrAccessDenied for a
// read-only file or a folder.
bool RemoveFile(const std::string& path);

// Deletes a file that may be there, without asking why when it is not (one call, for clearing
// away what an interrupted process may have left). True when a file was deleted.
bool RemoveLeftOverFile(const std::string& path);

// Deletes an empty folder. Fails with kErrDirNotEmpty when it holds anything.
bool RemoveFolder(const std::string& path);

// Renames or moves a file or folder, written through to disk on Windows. Fails with
// kErrAlreadyExists when `to` exists and kErrNotSameDevice across volumes.
bool RenameFile(const std::string& from, const std::string& to);

// Moves a complete file over `to` in one step, replacing it (the file that was there stays
// whole until the move succeeds). Fails with kErrAccessDenied when `to` is read-only and with
// kErrSharingViolation when it is a running executable on Windows.
bool ReplaceFileWith(const std::string& from, const std::string& to);

// RenameFile and ReplaceFileWith for the files only this program makes and uses (its staged
// downloads, and their new names beside the targets): the same results for a file no other
// program holds, without first looking for such a hold (POSIX opens each file for that look;
// Windows refuses a held file by itself, so there they are the same calls).
bool RenameOwnFile(const std::string& from, const std::string& to);
bool ReplaceOwnFile(const std::string& from, const std::string& to);

// Copies a file, replacing `to` when it exists; the copy keeps the source's modification time
// and read-only attribute. Fails with kErrAccessDenied when `to` is read-only and with
// kErrSharingViolation when `to` is a running executable.
bool CopyFileOver(const std::string& from, const std::string& to);

// Writes bytes as the whole of path through "<path>.ks-write" beside it, moved over path in one
// step: a reader sees the old file or the new one, never part of either. bDurable: the new
// file is on the disk before it takes path's name. False (LastErrorCode tells why) leaves
// path as it was and no temporary file.
bool WriteWholeFile(const std::string& path, const std::string& bytes, bool bDurable);

// The whole of path in bytes, read at most one block past nMax: false (bytes undefined) when it
// cannot be opened or read, or holds more than nMax bytes.
bool ReadWholeFile(const std::string& path, std::size_t nMax, std::string& bytes);

// The whole of path into pBuf, straight from the file: nRead bytes. False (the buffer's content
// undefined) when it cannot be opened or read, or holds more than nMax bytes.
bool ReadFileInto(const std::string& path, char* pBuf, std::size_t nMax, std::size_t& nRead);

// Sets the modification time (seconds since 1970-01-01 UTC).
bool SetFileModifyTime(const std::string& path, std::int64_t tModify);

// Makes a program file startable: POSIX sets the execute bits where the read bits are set;
// Windows starts any file by its name, so there is nothing to set (true when it exists).
bool MakeExecutable(const std::string& path);

// Sets or clears the read-only attribute.
bool SetReadOnly(const std::string& path, bool bReadOnly);

// fopen with a UTF-8 path. Text mode on Windows translates LF to CR LF; mode "b" does not.
// Opening a read-only file for writing fails with kErrAccessDenied.
std::FILE* OpenFile(const std::string& path, const char* mode);

// fwrite of size bytes; a short write (a full disk: kErrDiskFull) leaves its reason in
// LastErrorCode. Returns the number of bytes written.
std::size_t WriteToFile(std::FILE* fp, const void* data, std::size_t size);

// fclose; false when buffered bytes could not be written (LastErrorCode tells why). The
// stream is closed either way.
bool CloseFile(std::FILE* fp);

// fflush; false when buffered bytes could not be written (a full disk: kErrDiskFull; the
// reason is left in LastErrorCode).
bool FlushFile(std::FILE* fp);

// Creates a new file for writing (binary); fails with kErrFileExists when the name exists.
// bPrivate: readable and writable by its owner only (POSIX mode 0600; Windows a protected
// access list that grants the owner alone).
std::FILE* CreateNewFile(const std::string& path, bool bPrivate);

// The absolute path of an existing file or folder with every link resolved.
bool CanonicalPath(const std::string& path, std::string& canonical);

// Lists the entries of one folder whose names match the wildcard pattern in the last part of
// `pattern` ("*" any run of characters, "?" one character, case-insensitive), sorted by name,
// without "." and "..". Fails with kErrFileNotFound when nothing matches and
// kErrPathNotFound when the folder is missing.
bool FindFiles(const std::string& pattern, std::vector<FoundFile>& found);

// Makes what was written to a file, or the entries of a folder (the renames in it), durable
// on disk. Windows: a folder's entries are durable after every rename of this layer, which
// writes through; true for a folder.
bool FlushToDisk(const std::string& path);

// Writes out fp's buffer and starts writing the file's data to disk without waiting for it, so
// that a later FlushFilesToDisk or FlushToDisk finds less to write. False when the buffer
// could not be written (LastErrorCode tells why). POSIX: sync_file_range; Windows: the buffer
// only (the system has no such start; its flush writes everything).
bool StartWriteBack(std::FILE* fp);

// Starts writing the contents of many finished files to disk at once, so that a later
// FlushFilesToDisk finds less to write; promises nothing, and may wait for the writing (call it
// off the transfer threads). False when it could not start (LastErrorCode tells why). POSIX:
// one syncfs per file system, the one call that writes many small files together, or, while
// the system holds far more unwritten data than a wait is worth, each file's own start
// (sync_file_range); Windows: nothing to start (FlushFilesToDisk writes each file anyway, and
// an earlier FlushFileBuffers here would only cost each file a second device flush), only a
// missing file refused.
bool StartWriteBackFiles(const std::vector<std::string>& paths);

// Makes the contents of many files, and their names, durable at once. POSIX: one syncfs per
// file system they lie on, or, while the system holds far more unwritten data than the
// files' count makes worth it (a syncfs would write that too), an fsync of each file and of
// each folder holding one; Windows: FlushFileBuffers on each (the renames of this layer
// write through).
bool FlushFilesToDisk(const std::vector<std::string>& paths);

// Bytes free for the caller on the volume of folder.
bool FreeDiskSpace(const std::string& folder, std::uint64_t& nBytes);

// Creates path and every missing folder above it, from the outermost down; the root and a bare
// drive ("C:") are not created. True when path is a folder at the end.
bool CreateFolderChain(const std::string& path);

// folder + separator + name, with the name spelled as the file system spells an existing
// entry of that name (names compare without case on Windows; a Wine prefix on POSIX writes
// "syswow64" and "Fonts"). bExists tells whether such an entry exists.
std::string ResolveChildName(const std::string& folder, const std::string& name, bool& bExists);

// Current working folder, or an empty string when the system cannot tell it.
std::string GetCurrentFolder();

// The calling thread's last error code, as set by the last failed call of this layer (on
// Windows: by any system call).
int LastErrorCode();
void SetLastErrorCode(int code);

// The system's message text for an error code, without trailing line breaks. Fails when the
// system has no text for the code; LastErrorCode() then tells why (kErrMessageNotFound).
bool SystemErrorText(int code, std::string& text);
// The system's text for code, or "error <code>" when it has none.
std::string SystemErrorTextOf(int code);

} // namespace plat
