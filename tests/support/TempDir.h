// Test helpers: a fresh folder per test, and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>

namespace kstest {

// A new empty folder under the system's temporary folder, removed with everything in it
// (read-only files included) when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Path of a name inside the folder, joined with the platform's separator.
    std::string operator/(const std::string& name) const;

private:
    std::string m_strPath;
};

// Whole file as bytes (binary mode); empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Writes bytes (binary mode), replacing the file; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// About nBytes of words from a small vocabulary, the same for the same seed: content that
// compresses as program files do; edits changes that many places of it (a rebuild).
std::string WordsText(std::uint32_t seed, std::size_t nBytes, int edits);

// True when a file or folder of that name exists.
bool Exists(const std::string& path);

// Size of a file in bytes, or -1.
std::int64_t FileSize(const std::string& path);

// Grows or shrinks a file to exactly size bytes (zeros are added).
bool ResizeFile(const std::string& path, std::uint64_t size);

// File name of the running test executable, without its folder.
std::string TestExecutableName();

// The stand-in program built beside the tests (ks_fakeapp), which records how it was started.
std::string FakeAppPath();

// Waits (up to timeoutMs) until the file exists with some content and returns it; empty when
// it never does.
std::string WaitForFileText(const std::string& path, int timeoutMs = 30000);

} // namespace kstest
