// The batched start of staged files' writing: batches go out while files still arrive from
// several threads, a file gone before its batch does not stop the others, and the end neither
// hangs nor waits for files of no batch.
#include "transfer/StagedWriteBack.h"
#include "platform/Path.h"
#include "platform/Thread.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using kstest::TempDir;

TEST(StagedWriteBack, BatchesStartWhileFilesArriveFromSeveralThreads) {
    TempDir dir;
    constexpr int kThreads = 4;
    constexpr int kFiles = 24;
    const std::string bytes(16 * 1024, 'x');
    std::vector<std::string> paths;
    for (int n = 0; n < kThreads * kFiles; ++n) {
        paths.push_back(dir / ("f" + std::to_string(n) + ".bin"));
        // Every tenth file is gone by the time its batch starts.
        if (n % 10 != 9) {
            ASSERT_TRUE(kstest::WriteFileBytes(paths.back(), bytes));
        }
    }
    CStagedWriteBack writeBack(64 * 1024); // a batch every four files
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < kFiles; ++n)
                writeBack.Add(paths[static_cast<std::size_t>(t * kFiles + n)], bytes.size());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    // The batches run on the object's own thread: the adding threads waited for none.
    for (int nWaited = 0; writeBack.Batches() == 0 && nWaited < 10000; nWaited += 10)
        plat::SleepMs(10);
    EXPECT_GE(writeBack.Batches(), 1);
    EXPECT_LE(writeBack.Batches(), kThreads * kFiles / 4);
}

TEST(StagedWriteBack, EndsWithoutABatchOrWithOneJustQueued) {
    TempDir dir;
    const std::string path = dir / "a.bin";
    ASSERT_TRUE(kstest::WriteFileBytes(path, "abc"));
    {
        CStagedWriteBack below(1024);
        below.Add(path, 3);
        EXPECT_EQ(below.Batches(), 0); // no thread began
    }
    for (int n = 0; n < 50; ++n) {
        CStagedWriteBack full(3);
        full.Add(path, 3); // the end may come before the thread takes the batch
    }
}

} // namespace
