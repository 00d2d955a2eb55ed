// The validators of partial downloads, lines of one file in the staging folder: the last whole
// line of a name counts, a partial file that an earlier version left keeps the validator file
// it wrote beside it, and the lines go once no partial file is left.
#include "apply/PartialValidators.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kstest::TempDir;

const std::string kNameA(64, 'a');
const std::string kNameB(64, 'b');

TEST(PartialValidatorsTest, TheLastWholeLineOfANameCounts) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> recorded; // name, validator
        std::string tail;   // bytes a process ended while writing
        std::string legacy; // "<staged>.part.lm" of an earlier version
        std::string expected;
    };
    const std::string cut = kNameA + "\tSun, 07 Dec 2025";
    const Case cases[] = {
        {"recorded twice", {{kNameA, "one"}, {kNameB, "other"}, {kNameA, "two"}}, "", "", "two"},
        {"another name only", {{kNameB, "other"}}, "", "", ""},
        {"a longer name", {{kNameA + "0", "longer"}}, "", "", ""},
        {"the last line cut", {{kNameA, "one"}}, cut, "", "one"},
        {"the last line without a validator", {{kNameA, "one"}, {kNameA, ""}}, "", "", ""},
        {"a line end refused", {{kNameA, "one"}, {kNameA, "t\r\nRange: x"}}, "", "", "one"},
        {"an earlier version's file only", {}, "", "legacy", "legacy"},
        {"recorded over an earlier version's file", {{kNameA, "new"}}, "", "legacy", "new"},
    };
    for (const Case& c : cases) {
        TempDir staging;
        for (const auto& line : c.recorded) {
            const bool bLineEnd = line.second.find('\n') != std::string::npos;
            EXPECT_EQ(CPartialValidators::Record(staging / line.first, line.second), !bLineEnd)
                << c.what;
        }
        if (!c.tail.empty()) {
            std::FILE* fp = plat::OpenFile(staging / "partial-validators", "ab");
            ASSERT_NE(fp, nullptr) << c.what;
            EXPECT_EQ(plat::WriteToFile(fp, c.tail.data(), c.tail.size()), c.tail.size());
            EXPECT_TRUE(plat::CloseFile(fp));
        }
        if (!c.legacy.empty()) {
            ASSERT_TRUE(kstest::WriteFileBytes(staging / (kNameA + ".part.lm"), c.legacy));
        }
        EXPECT_EQ(CPartialValidators::Find(staging / kNameA), c.expected) << c.what;
    }
}

TEST(PartialValidatorsTest, TheLinesGoWhenNoPartialFileIsLeft) {
    TempDir staging;
    ASSERT_TRUE(CPartialValidators::Record(staging / kNameA, "Sun, 07 Dec 2025 05:46:40 GMT"));
    ASSERT_TRUE(kstest::WriteFileBytes(staging / (kNameA + ".part"), "the first bytes"));
    ASSERT_TRUE(kstest::WriteFileBytes(staging / kNameB, "a staged file"));
    CPartialValidators::DropUnused(staging.Path());
    EXPECT_EQ(CPartialValidators::Find(staging / kNameA), "Sun, 07 Dec 2025 05:46:40 GMT");

    ASSERT_TRUE(plat::RemoveFile(staging / (kNameA + ".part")));
    CPartialValidators::DropUnused(staging.Path());
    EXPECT_FALSE(kstest::Exists(staging / "partial-validators"));
    EXPECT_EQ(CPartialValidators::Find(staging / kNameA), "");
    EXPECT_TRUE(kstest::Exists(staging / kNameB));
}

} // namespace
