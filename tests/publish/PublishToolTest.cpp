// kestrelsync-publish as operators run it (native build): its signatures against the openssl
// command line both ways, the input it refuses (each a one-line error, exit 1, nothing
// written), and the rules file.
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "publish/Publisher.h"
#include "publish/Rules.h"
#include "support/ChildProcess.h"
#include "support/Nginx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
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

// A command of the publisher run in this process: its exit status, and what it wrote to
// standard output and standard error in text.
int Publish(const std::function<int(CPublisher&)>& command, std::string& text) {
    std::FILE* fp = std::tmpfile();
    if (fp == nullptr)
        return -1;
    CPublisher publisher(fp, fp);
    const int nStatus = command(publisher);
    std::rewind(fp);
    text.clear();
    for (int c; (c = std::fgetc(fp)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(fp);
    return nStatus;
}

int ListTree(const std::string& tree, const std::string& rules, std::string& text,
             const std::string& previous = "") {
    CPublishOptions options;
    options.strTree = tree;
    options.strRules = rules;
    options.strPrevious = previous;
    return Publish([&options](CPublisher& publisher) { return publisher.List(options); }, text);
}

bool MakeTree(const std::string& tree, const std::vector<std::string>& files) {
    bool bOk = plat::CreateFolder(tree);
    for (const std::string& file : files) {
        const std::string path = plat::JoinPath(tree, file);
        bOk = bOk && plat::CreateFolderChain(path.substr(0, path.rfind('/'))) &&
              kstest::WriteFileBytes(path, file);
    }
    return bOk;
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

// Lines a workstation would act on wrongly: two files of the tree that are one file on a
// Windows workstation (case, "/" and "\", folder placeholders, ".." and trailing dots), and
// names that a workstation's request would turn into another name.
TEST(PublishTool, RefusesLinesTheWorkstationsWouldMisread) {
    TempDir dir;
    const struct {
        const char* name;
        std::vector<std::string> files;
        std::string rules;
        int nStatus;
        std::vector<std::string> named; // in the message
    } cases[] = {
        {"one rule, two folders",
         {"a/dup.dll", "b/dup.dll"},
         "*/dup.dll,APP,FILE,bin\\{name}\n",
         1,
         {"a/dup.dll", "b/dup.dll"}},
        {"case and separators",
         {"Bin/Main.exe", "lib/main.exe"},
         "lib/*,APP,FILE,bin/{name}\n",
         1,
         {"Bin/Main.exe", "lib/main.exe"}},
        {"the system folder two ways",
         {"s1/x.dll", "s2/X.DLL"},
         "s1/*,SYS,FILE,%SystemDir%\\{name}\ns2/*,SYS,FILE,_WINDOWS\\System32\\{name}\n",
         1,
         {"s1/x.dll", "s2/X.DLL"}},
        {"case beyond ASCII",
         {"\xD0\x94\xD0\x9E\xD0\x9A.txt", "\xD0\xB4\xD0\xBE\xD0\xBA.txt"},
         "",
         1,
         {"\xD0\x94\xD0\x9E\xD0\x9A.txt", "\xD0\xB4\xD0\xBE\xD0\xBA.txt"}},
        {"dots",
         {"bin/x.dll", "old/x.dll"},
         "old/*,APP,FILE,.\\bin\\sub\\..\\{name}.\n",
         1,
         {"bin/x.dll", "old/x.dll"}},
        {"folders that are apart on a 64-bit workstation",
         {"s64/x.dll", "s32/x.dll", "f/a.ttf", "g/a.ttf"},
         "s64/*,SYS,FILE,_SYSTEM\\{name}\ns32/*,SYS,FILE,_SYSTEM_32BIT\\{name}\n"
         "f/*,APP,FNT,_FONTS\\{name}\ng/*,APP,FILE,_fonts\\{name}\n",
         0,
         {}},
        {"a percent sign", {"a.txt", "a%20b.txt"}, "", 1, {"a%20b.txt"}},
        {"a question mark", {"a.txt", "what?.txt"}, "", 1, {"what?.txt"}},
        {"a number sign", {"a.txt", "notes/#1.txt"}, "", 1, {"notes/#1.txt"}},
    };
    int nTree = 0;
    for (const auto& c : cases) {
        const std::string tree = dir / ("tree" + std::to_string(++nTree));
        const std::string rules = tree + ".rules";
        ASSERT_TRUE(MakeTree(tree, c.files)) << c.name;
        ASSERT_TRUE(kstest::WriteFileBytes(rules, c.rules)) << c.name;
        std::string text;
        EXPECT_EQ(ListTree(tree, rules, text), c.nStatus) << c.name << ": " << text;
        for (const std::string& name : c.named)
            EXPECT_NE(text.find(name), std::string::npos) << c.name << ": " << text;
        EXPECT_EQ(kstest::Exists(tree + "/_listfile.txt"), c.nStatus == 0) << c.name;
    }

    // A DEL line of the previous list gives way to a file that takes its target; verify tells
    // a signed list whose second line was then pointed at the first one's target.
    const std::string tree = dir / "verified";
    ASSERT_TRUE(MakeTree(tree, {"a/dup.dll", "b/dup.dll"}));
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "verified.rules",
                                       "a/*,APP,FILE,bin\\{name}\nb/*,APP,FILE,lib\\{name}\n"));
    ASSERT_TRUE(kstest::WriteFileBytes(
        dir / "previous.txt",
        "#serial=1\ngone/dup.dll,Bin/Dup.dll,APP,DEL\nold/z.dll,old/z.dll,APP,DEL\n"));
    std::string text;
    ASSERT_EQ(ListTree(tree, dir / "verified.rules", text, dir / "previous.txt"), 0) << text;
    const std::string list = tree + "/_listfile.txt";
    std::string bytes = kstest::ReadFileBytes(list);
    EXPECT_EQ(bytes.find("gone/dup.dll"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("old/z.dll"), std::string::npos) << bytes;
    const auto verify = [&](std::string& out) {
        return Publish(
            [&](CPublisher& publisher) {
                return publisher.Sign(list, dir / "list-signing.key") != 0
                           ? -1
                           : publisher.Verify(tree, list, dir / "KestrelSync.pem", "cp949");
            },
            out);
    };
    ASSERT_EQ(Publish([&dir](CPublisher& publisher) { return publisher.Keygen(dir.Path()); }, text),
              0);
    ASSERT_EQ(verify(text), 0) << text;
    const std::size_t at = bytes.find("lib\\dup.dll");
    ASSERT_NE(at, std::string::npos) << bytes;
    ASSERT_TRUE(kstest::WriteFileBytes(list, bytes.replace(at, 4, "BIN/")));
    EXPECT_EQ(verify(text), 1) << text;
    EXPECT_NE(text.find("a/dup.dll and b/dup.dll"), std::string::npos) << text;
}

// A file whose bytes arrive while the publisher reads it: a FIFO, which the scan finds with 0
// bytes and which a writer fills only once the publisher has opened it.
TEST(PublishTool, RefusesAFileThatChangesWhileItIsRead) {
    TempDir dir;
    ASSERT_TRUE(MakeTree(dir / "tree", {"a.txt"}));
    const std::string fifo = dir / "tree/growing.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<int> nDone{0};
    std::thread writer([&fifo, &nDone] {
        // Without a reader, a writer's open fails at once (ENXIO) instead of waiting.
        int fd = -1;
        while (nDone == 0 && (fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fd >= 0) {
            const std::string bytes(1000, 'x');
            EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            ::close(fd);
        }
    });
    std::string text;
    const int nStatus = ListTree(dir / "tree", "", text);
    nDone = 1;
    writer.join();
    EXPECT_EQ(nStatus, 1) << text;
    EXPECT_NE(text.find("growing.log"), std::string::npos) << text;
    EXPECT_FALSE(kstest::Exists(dir / "tree/_listfile.txt"));
}

// The command line: help on the tool and on every command (exit 0, on standard output), and
// usage errors (exit 2, one line on standard error naming the cause, nothing run).
TEST(PublishTool, CommandLineHelpAndUsageErrors) {
    TempDir dir;
    ASSERT_TRUE(MakeTree(dir / "tree", {"a.txt"}));
    const std::string tree = dir / "tree";
    const struct {
        std::vector<std::string> args;
        int nStatus;
        std::string out; // in standard output
        std::string err; // the one line of standard error
    } cases[] = {
        {{"--help"}, 0, "verify", ""},
        {{"keygen", "--help"}, 0, "DIR", ""},
        {{"list", "--help"}, 0, "--expires DAYS", ""},
        {{"sign", "-h"}, 0, "--key KEY", ""},
        {{"verify", tree, "--help"}, 0, "--pub PEM", ""},
        {{}, 2, "", "subcommand is required"},
        {{"publish", tree}, 2, "", "unknown command publish"},
        {{"--tree", tree}, 2, "", "unknown option --tree"},
        {{"list"}, 2, "", "TREE is required"},
        {{"list", tree, "other"}, 2, "", "other"},
        {{"list", tree, "--bogus"}, 2, "", "--bogus"},
        {{"list", tree, "--out"}, 2, "", "--out"},
        {{"list", tree, "--expires", "0x1e"}, 2, "", "--expires"},
        {{"list", tree, "--expires", "36501"}, 2, "", "--expires"},
        {{"keygen", dir.Path(), "--force"}, 2, "", "--force"},
        {{"sign", dir / "list.txt"}, 2, "", "--key is required"},
        {{"sign", dir / "list.txt", "--key", ""}, 2, "", "--key"},
        {{"verify", tree, dir / "list.txt"}, 2, "", "--pub is required"},
    };
    for (const auto& c : cases) {
        std::string line = "kestrelsync-publish";
        for (const std::string& arg : c.args)
            line += " '" + arg + "'";
        std::vector<std::string> shell = {
            "-c", "exec \"$0\" \"$@\" >\"" + dir / "out" + "\" 2>\"" + dir / "err" + "\"",
            KS_PUBLISH_PROGRAM};
        shell.insert(shell.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(::Run("/bin/sh", shell), c.nStatus) << line;
        const std::string out = kstest::ReadFileBytes(dir / "out");
        const std::string err = kstest::ReadFileBytes(dir / "err");
        EXPECT_NE(out.find(c.out), std::string::npos) << line << ": " << out;
        if (c.err.empty()) {
            EXPECT_EQ(err, "") << line;
            continue;
        }
        EXPECT_NE(err.find(c.err), std::string::npos) << line << ": " << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << line << ": " << err;
        EXPECT_EQ(out, "") << line;
    }
    // No usage error ran its command.
    EXPECT_FALSE(kstest::Exists(tree + "/_listfile.txt"));
    EXPECT_FALSE(kstest::Exists(dir / "list-signing.key"));
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
