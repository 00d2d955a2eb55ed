// kestrelsync-publish as operators run it (native build): its signatures against the openssl
// command line both ways, the input it refuses (each a one-line error, exit 1, nothing
// written), and the rules file.
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "publish/Rules.h"
#include "support/ChildProcess.h"
#include "support/Nginx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using kstest::TempDir;

int Run(const std::string& program, const std::vector<std::string>& arguments) {
    kstest::ChildProcess child;
    if (!child.Start(program, arguments))
        return -1;
    return child.Wait(120000);
}

int Tool(const std::vector<std::string>& arguments) {
    return Run(KS_PUBLISH_PROGRAM, arguments);
}

int Openssl(const std::vector<std::string>& arguments) {
    return Run("/usr/bin/openssl", arguments);
}

TEST(PublishTool, SignaturesAgreeWithOpenssl) {
    TempDir dir;
    ASSERT_EQ(Tool({"keygen", dir.Path()}), 0);
    EXPECT_EQ(Tool({"keygen", dir.Path()}), 1); // a key is never overwritten
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "list.txt", "#serial=1\na.txt\n"));
    // The tool signs, openssl checks; openssl signs with the tool's key, the tool checks.
    ASSERT_EQ(Tool({"sign", dir / "list.txt", "--key", dir / "list-signing.key"}), 0);
    EXPECT_EQ(Openssl({"dgst", "-sha256", "-verify", dir / "KestrelSync.pem", "-signature",
                       dir / "list.txt.sig", dir / "list.txt"}),
              0);
    ASSERT_TRUE(plat::CreateFolder(dir / "tree"));
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "tree/a.txt", "alpha"));
    ASSERT_EQ(Tool({"list", dir / "tree", "--encoding", "utf-8"}), 0);
    ASSERT_EQ(Openssl({"dgst", "-sha256", "-sign", dir / "list-signing.key", "-out",
                       dir / "tree/_listfile.txt.sig", dir / "tree/_listfile.txt"}),
              0);
    EXPECT_EQ(Tool({"verify", dir / "tree", dir / "tree/_listfile.txt", "--pub",
                    dir / "KestrelSync.pem", "--encoding", "utf-8"}),
              0);
    // Keys that openssl makes sign as well (SEC 1 and PKCS #8).
    for (const std::vector<std::string>& make :
         {std::vector<std::string>{"ecparam", "-name", "prime256v1", "-genkey", "-out",
                                   dir / "sec1.key"},
          std::vector<std::string>{"genpkey", "-algorithm", "EC", "-pkeyopt",
                                   "ec_paramgen_curve:P-256", "-out", dir / "pkcs8.key"}}) {
        ASSERT_EQ(Openssl(make), 0);
        const std::string key = make.back();
        ASSERT_EQ(Openssl({make[0] == "ecparam" ? "ec" : "pkey", "-in", key, "-pubout", "-out",
                           key + ".pub"}),
                  0);
        ASSERT_EQ(Tool({"sign", dir / "list.txt", "--key", key}), 0) << key;
        EXPECT_EQ(Openssl({"dgst", "-sha256", "-verify", key + ".pub", "-signature",
                           dir / "list.txt.sig", dir / "list.txt"}),
                  0)
            << key;
    }
    // A file changed after the list was made is a difference.
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "tree/a.txt", "alpha, changed"));
    EXPECT_EQ(Tool({"verify", dir / "tree", dir / "tree/_listfile.txt", "--pub",
                    dir / "KestrelSync.pem", "--encoding", "utf-8"}),
              1);
}

TEST(PublishTool, RefusedInputWritesNothing) {
    if (kstest::PkiPath("p384.key").empty())
        GTEST_SKIP() << "the test PKI is made by ctest (tests/pki/make-test-pki.sh)";
    TempDir dir;
    ASSERT_EQ(Tool({"keygen", dir.Path()}), 0);
    const auto tree = [&dir](const char* name) {
        const std::string path = dir / name;
        EXPECT_TRUE(plat::CreateFolder(path));
        EXPECT_TRUE(kstest::WriteFileBytes(plat::JoinPath(path, "a.txt"), "alpha"));
        return path;
    };
    const std::string emoji = tree("emoji");
    ASSERT_TRUE(kstest::WriteFileBytes(emoji + "/smile \xF0\x9F\x98\x80.txt", "x"));
    const std::string dangling = tree("dangling");
    ASSERT_EQ(::symlink("/no/such/file", (dangling + "/gone.txt").c_str()), 0);
    const std::string outside = tree("outside");
    ASSERT_EQ(::symlink("/etc/hostname", (outside + "/host.txt").c_str()), 0);
    const std::string good = tree("good");
    ASSERT_EQ(Tool({"list", good, "--out", dir / "previous.txt"}), 0);
    ASSERT_TRUE(plat::CopyFileOver(kstest::PkiPath("good.txt.sig"), dir / "previous.txt.sig"));
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string unwritten;
    } cases[] = {
        {"a name CP949 cannot hold", {"list", emoji}, emoji + "/_listfile.txt"},
        {"a file that cannot be read", {"list", dangling}, dangling + "/_listfile.txt"},
        {"a link out of the tree", {"list", outside}, outside + "/_listfile.txt"},
        {"a previous list signed by another key",
         {"list", good, "--previous", dir / "previous.txt", "--pub", dir / "KestrelSync.pem"},
         good + "/_listfile.txt"},
        {"a key that is not P-256",
         {"sign", dir / "previous.txt", "--key", kstest::PkiPath("p384.key")},
         dir / "previous.txt.sig.ks-publish"},
        {"an output folder that does not exist",
         {"list", good, "--out", dir / "no/list.txt"},
         dir / "no"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Tool(c.args), 1) << c.name;
        EXPECT_FALSE(kstest::Exists(c.unwritten)) << c.name;
    }
    EXPECT_EQ(Tool({"list"}), 2);
    EXPECT_EQ(Tool({"sign", dir / "previous.txt"}), 2);
    // --force takes the previous list all the same.
    EXPECT_EQ(Tool({"list", good, "--previous", dir / "previous.txt", "--pub",
                    dir / "KestrelSync.pem", "--force"}),
              0);
}

TEST(PublishRules, PatternsAndTheirFields) {
    std::vector<CPublishRule> rules;
    std::string error;
    ASSERT_TRUE(ParseRules("# fonts go to the fonts folder\n"
                           "fonts/*.ttf,APP,FNT,_FONTS\\{name}\n"
                           "system/**,sys,file,%SystemDir%\\{path}\n"
                           "**.reg,APP,REF\n"
                           "com/?.ocx, APP , REG\n",
                           rules, error))
        << error;
    const struct {
        const char* path;
        const char* cls;
        const char* type;
        const char* local;
    } cases[] = {
        {"fonts/a.ttf", "APP", "FNT", "_FONTS\\a.ttf"},
        {"fonts/sub/a.ttf", "APP", "FILE", "fonts\\sub\\a.ttf"}, // "*" stays in its folder
        {"system/x/y.dll", "SYS", "FILE", "%SystemDir%\\system\\x\\y.dll"},
        {"config/deep/a.reg", "APP", "REF", "config\\deep\\a.reg"},
        {"com/c.ocx", "APP", "REG", "com\\c.ocx"},
        {"com/cc.ocx", "APP", "FILE", "com\\cc.ocx"},
        {"bin/main.exe", "APP", "FILE", "bin\\main.exe"},
    };
    for (const auto& c : cases) {
        std::string cls;
        std::string type;
        std::string local;
        ApplyRules(rules, c.path, cls, type, local);
        EXPECT_EQ(cls, c.cls) << c.path;
        EXPECT_EQ(type, c.type) << c.path;
        EXPECT_EQ(local, c.local) << c.path;
    }
    for (const char* bad : {"a.txt,APP\n", "a,b,c,d,e\n", "old/*,APP,DEL\n"}) {
        std::vector<CPublishRule> none;
        EXPECT_FALSE(ParseRules(bad, none, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    }
}

} // namespace
