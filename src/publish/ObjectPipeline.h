// The new objects of a release copied on a thread of their own while the tree is still being
// hashed: a file's copy starts once its hash is known, so that the copying, the second hash of
// the copy and the start of its write to the disk overlap the rest of the hashing.
#pragma once

#include "publish/ObjectCopier.h"
#include "publish/TreeScan.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CObjectPipeline {
public:
    // bCopy false (a dry run): only finds which objects the store lacks.
    CObjectPipeline(CObjectCopier& copier, bool bCopy);
    // Waits for the copies that were started.
    ~CObjectPipeline();
    CObjectPipeline(const CObjectPipeline&) = delete;
    CObjectPipeline& operator=(const CObjectPipeline&) = delete;

    // A hashed file (which stays where it is until Finish): copied when the store does not hold
    // its object and no file offered before had its hash.
    void Offer(const CTreeFile& file);
    // Every offered file dealt with; false with the reason of the first copy that failed.
    bool Finish(std::string& why);

    // One file per object the store lacks, in the order offered; valid after Finish.
    const std::vector<const CTreeFile*>& NewObjects() const { return m_vecNew; }
    std::uint64_t NewBytes() const { return m_nNewBytes; }

private:
    void Work();

    CObjectCopier& m_copier;
    const bool m_bCopy;
    std::set<std::string> m_offered; // hashes
    std::vector<const CTreeFile*> m_vecNew;
    std::uint64_t m_nNewBytes = 0;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<const CTreeFile*> m_queue;
    bool m_bClosed = false;
    std::string m_strWhy; // the first failure
    std::thread m_thread; // last: starts once everything above is made
};
