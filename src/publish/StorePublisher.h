// The release store's commands of kestrelsync-publish (the store itself: publish/
// ReleaseStore.h). Each returns the exit status: 0 done, 1 refused (one line naming the cause
// on standard error; the live list as it was).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr const char* kDefaultListName = "_listfile.txt";

struct CReleaseOptions {
    std::string strTree;                        // the update tree
    std::string strStore;                       // --store
    std::string strKey;                         // --key: the private signing key
    std::string strRules;                       // --rules: patterns to class, type and local path
    std::string strListName = kDefaultListName; // --list-name: the live list's name
    std::string strEncoding = "cp949";          // --encoding: cp949 or utf-8
    int nPhasedHours = 0;                       // --phased: 0 reaches every group at once
    bool bCritical = false;                     // --critical: never phased
    int nExpiresDays = -1;                      // --expires: the list's lifetime (-1: none)
    int nPatchReleases = 3; // --patches: patches from the files of the newest K releases
    bool bDryRun = false;   // --dry-run: only show what would be copied
    bool bForce = false;    // --force: a key other than the store's becomes the store's key
    bool bProgress = false; // files and bytes hashed, redrawn on a terminal
};

struct CRollbackOptions {
    std::string strStore;
    std::string strKey;
    std::string strListName = kDefaultListName;
    std::int64_t nSerial = 0; // --to: the release published again
    int nExpiresDays = -1;
};

class CStorePublisher {
public:
    CStorePublisher(std::FILE* out, std::FILE* err) : m_out(out), m_err(err) {}

    // The tree published as a new release of the store: its new objects copied, its list
    // (signed, carrying its signature) kept under releases/ and made the live list last.
    int Release(const CReleaseOptions& options);
    // The file and DEL lines of an earlier release published again as a new release, never
    // phased, once its signature and every object it names are checked.
    int Rollback(const CRollbackOptions& options);
    // One line per release, oldest first.
    int Releases(const std::string& store, const std::string& listName);
    // Removes the objects that neither the newest nKeep releases nor the live list name.
    int Prune(const std::string& store, const std::string& listName, int nKeep);

private:
    int Fail(const std::string& message);

    std::FILE* m_out;
    std::FILE* m_err;
};
