// The operators' side: kestrelsync-publish makes a signing key, writes the list file of an
// update tree (CP949 by default, with time, size and SHA-256 on every line), signs it and
// checks a published tree against its list. It reads and checks lists with the workstations'
// own code (the list reader, the verifier, the hash and the signature checks).
//
// Every command returns the exit status: 0 done, 1 differences or refused input (one line
// naming the cause on standard error; nothing written), 2 usage.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct CPublishOptions {
    std::string strTree;     // the update tree
    std::string strPrevious; // --previous: the list the tree was published with before
    std::string strRules;    // --rules: patterns to class, type and local path
    std::string strOut;      // --out: the list to write (default: TREE/_listfile.txt)
    std::string strPub;      // --pub: the public key(s) the previous list must be signed by
    std::string strEncoding = "cp949"; // --encoding: cp949 (Windows workstations) or utf-8
    int nExpiresDays = -1;             // --expires: the list's lifetime in days (-1: none)
    bool bDryRun = false;              // --dry-run: only show what would change
    bool bForce = false;    // --force: take a previous list that is not signed or not valid
    bool bProgress = false; // files and bytes hashed, redrawn on a terminal
};

class CPublisher {
public:
    CPublisher(std::FILE* out, std::FILE* err) : m_out(out), m_err(err) {}

    // "DIR/list-signing.key" (private, owner only) and "DIR/KestrelSync.pem"; never
    // overwrites.
    int Keygen(const std::string& dir);
    // The list file of the tree.
    int List(const CPublishOptions& options);
    // "LIST.sig": the DER signature of LIST with SHA-256, as `openssl dgst -sha256 -sign`.
    int Sign(const std::string& list, const std::string& key);
    // The signature, the serial line and every line's size, time and hash against the tree.
    int Verify(const std::string& tree, const std::string& list, const std::string& pub,
               const std::string& encoding);

    // The time column of a file modified at t (UTC seconds): the 14 digits a workstation
    // derives from the server's Last-Modified.
    static std::string TimeColumn(std::int64_t t);

private:
    int Fail(const std::string& message);

    std::FILE* m_out;
    std::FILE* m_err;
};
