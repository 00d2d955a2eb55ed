// MIRRORS as a run reads it: the entries that parse, in their order, and those left out.
#include "transfer/ServerList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ServerListTest, MirrorEntries) {
    struct Case {
        const char* pszText;
        std::vector<std::string> names; // of the mirrors taken, in order
        std::vector<std::string> rejected;
    };
    const Case cases[] = {
        {"", {}, {}},
        {" ; ;", {}, {}},
        {"m1.corp:80", {"m1.corp:80"}, {}},
        {" m1.corp:8080/lumen/ ;10.0.0.7:443/a/b", {"m1.corp:8080/lumen", "10.0.0.7:443/a/b"}, {}},
        {"[fd00::7]:8080/x", {"[fd00::7]:8080/x"}, {}},
        {"m1.corp;m2.corp:0;m3.corp:65536;:80;http://m4:80;m5:80x",
         {},
         {"m1.corp", "m2.corp:0", "m3.corp:65536", ":80", "http://m4:80", "m5:80x"}},
        {"m 6:80;m7:80/a b;m8:80/a?b;m9:80/a\\b;m10:80",
         {"m10:80"},
         {"m 6:80", "m7:80/a b", "m8:80/a?b", "m9:80/a\\b"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> rejected;
        std::vector<std::string> names;
        for (const CServerAddress& mirror : ParseMirrors(c.pszText, &rejected))
            names.push_back(mirror.Name());
        EXPECT_EQ(names, c.names) << c.pszText;
        EXPECT_EQ(rejected, c.rejected) << c.pszText;
    }
}

} // namespace
