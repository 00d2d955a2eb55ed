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
#include "trust/FormIndex.h"
#include "trust/ListKeys.h"
#include "trust/SignedList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

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

// The tool run as an operator runs it, its standard output and error kept in files of dir:
// its exit status, and what it wrote to each.
int ToolOutput(const TempDir& dir, const std::vector<std::string>& arguments, std::string& out,
               std::string& err) {
    std::vector<std::string> shell = {
        "-c", "exec \"$0\" \"$@\" >\"" + dir / "out" + "\" 2>\"" + dir / "err" + "\"",
        KS_PUBLISH_PROGRAM};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    const int nStatus = Run("/bin/sh", shell);
    out = kstest::ReadFileBytes(dir / "out");
    err = kstest::ReadFileBytes(dir / "err");
    return nStatus;
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
    const std::string store = dir / "store";
    const std::string key = dir / "list-signing.key";
    const std::vector<std::string> release = {"release", tree, "--store", store, "--key", key};
    const auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
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
        {{"release", "--help"}, 0, "--phased HOURS", ""},
        {{"rollback", "--help"}, 0, "--to SERIAL", ""},
        {{"releases", "--help"}, 0, "--store DIR", ""},
        {{"prune", "--help"}, 0, "--keep N", ""},
        {{"release", tree, "--key", key}, 2, "", "--store is required"},
        {{"release", tree, "--store", store}, 2, "", "--key is required"},
        {{"release", "--store", store, "--key", key}, 2, "", "TREE is required"},
        {with(release, {"--phased", "0"}), 2, "", "--phased"},
        {with(release, {"--phased", "8761"}), 2, "", "--phased"},
        {with(release, {"--phased", "0x30"}), 2, "", "--phased"},
        {with(release, {"--phased", "48", "--critical"}), 2, "", "excludes"},
        {with(release, {"--list-name", "../live.txt"}), 2, "", "--list-name"},
        {with(release, {"--store", ""}), 2, "", "--store"},
        {{"rollback", "--store", store, "--key", key}, 2, "", "--to is required"},
        {{"rollback", "--store", store, "--key", key, "--to", "12a"}, 2, "", "--to"},
        {{"rollback", "--store", store, "--key", key, "--to", "-5"}, 2, "", "--to"},
        {{"rollback", "--store", store, "--to", "1"}, 2, "", "--key is required"},
        {{"releases"}, 2, "", "--store is required"},
        {{"prune", "--store", store}, 2, "", "--keep is required"},
        {{"prune", "--store", store, "--keep", "0"}, 2, "", "--keep"},
        {{"prune", "--store", store, "--keep", "two"}, 2, "", "--keep"},
        {with(release, {"--encoding", "latin1"}), 1, "", "--encoding is cp949 or utf-8"},
        {release, 1, "", "cannot read " + key},
        {{"releases", "--store", tree}, 1, "", "is not a release store (no kestrelsync-store.txt)"},
        {{"prune", "--store", tree, "--keep", "1"}, 1, "", "is not a release store"},
        {{"rollback", "--store", tree, "--key", key, "--to", "1"}, 1, "", "cannot read " + key},
        {{"status", "--help"}, 0, "--stale-days DAYS", ""},
        {{"status"}, 2, "", "LOG is required"},
        {{"status", tree + "/a.txt", "--stale-days", "0"}, 2, "", "--stale-days"},
        {{"status", tree + "/a.txt", "--stale-days", "7d"}, 2, "", "--stale-days"},
        {{"status", tree + "/a.txt", "--stale-days", "3651"}, 2, "", "--stale-days"},
        {{"status", tree + "/a.txt", "--html"}, 2, "", "--html"},
        {{"status", tree + "/a.txt", "--html", ""}, 2, "", "--html"},
        {{"status", ""}, 2, "", "LOG"},
        {{"status", tree + "/a.txt", dir / "no.log"}, 1, "", "cannot read " + dir / "no.log"},
        {{"status", tree}, 1, "", "cannot read " + tree},
        {{"status", tree + "/a.txt"}, 0, "No report request in the logs", ""},
    };
    for (const auto& c : cases) {
        std::string line = "kestrelsync-publish";
        for (const std::string& arg : c.args)
            line += " '" + arg + "'";
        std::string out;
        std::string err;
        EXPECT_EQ(ToolOutput(dir, c.args, out, err), c.nStatus) << line;
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
    EXPECT_FALSE(kstest::Exists(store));
    EXPECT_FALSE(kstest::Exists(tree + "/.lock"));
}

// The serials of a store's releases, oldest first.
std::vector<std::string> StoreSerials(const std::string& store) {
    std::vector<plat::FoundFile> found;
    plat::FindFiles(plat::JoinPath(store, "releases/*.txt"), found);
    std::vector<std::string> serials;
    for (const plat::FoundFile& file : found)
        serials.push_back(file.strName.substr(0, file.strName.size() - 4));
    return serials;
}

// The objects a store holds ("objects/ab/<sha256>"), and any other file below objects/.
std::set<std::string> StoreObjects(const std::string& store) {
    std::set<std::string> objects;
    std::vector<plat::FoundFile> folders;
    plat::FindFiles(plat::JoinPath(store, "objects/*"), folders);
    for (const plat::FoundFile& folder : folders) {
        std::vector<plat::FoundFile> files;
        plat::FindFiles(plat::JoinPath(folder.strPath, "*"), files);
        for (const plat::FoundFile& file : files)
            objects.insert("objects/" + folder.strName + "/" + file.strName);
    }
    return objects;
}

std::string ObjectOf(const std::string& bytes) {
    const std::string hash = Sha256HexOf(bytes);
    return "objects/" + hash.substr(0, 2) + "/" + hash;
}

// The lines of a list that are neither its head nor its signature: its file and DEL lines.
std::vector<std::string> ItemLines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end;
        if (bytes[start] != '#')
            lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Input a release store refuses, run as operators run the tool: each case ends with exit
// status 1 and one line naming the cause, and leaves the store's live list as it was.
TEST(PublishTool, StoreRefusesBadInput) {
    TempDir dir;
    ASSERT_EQ(Tool({"keygen", dir.Path()}), 0);
    ASSERT_TRUE(plat::CreateFolder(dir / "other"));
    ASSERT_EQ(Tool({"keygen", dir / "other"}), 0);
    const std::string key = dir / "list-signing.key";
    const std::string store = dir / "store";
    const std::string live = store + "/_listfile.txt";
    ASSERT_TRUE(MakeTree(dir / "v1", {"a.txt", "bin/main.exe", "bin/tool.dll"}));
    ASSERT_EQ(Tool({"release", dir / "v1", "--store", store, "--key", key}), 0);
    const std::string first = StoreSerials(store).at(0);
    // Release 2 changes bin/tool.dll; with only release 2 kept, release 1's copy is pruned.
    ASSERT_TRUE(MakeTree(dir / "v2", {"a.txt", "bin/main.exe"}));
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "v2/bin/tool.dll", "tool, version 2"));
    ASSERT_EQ(Tool({"release", dir / "v2", "--store", store, "--key", key}), 0);
    ASSERT_EQ(Tool({"prune", "--store", store, "--keep", "1"}), 0);
    const std::string pruned = ObjectOf("bin/tool.dll");
    ASSERT_TRUE(MakeTree(dir / "served", {"index.html"}));

    // A small volume that a release fills half-way through an object.
    const std::string volume = dir / "small";
    ASSERT_TRUE(plat::CreateFolder(volume));
    const bool bSmallVolume = ::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=256k") == 0;
    const std::string smallStore = volume + "/store";
    const std::string big(1 << 20, 'b');
    if (bSmallVolume) {
        EXPECT_EQ(Tool({"release", dir / "v1", "--store", smallStore, "--key", key}), 0);
        ASSERT_TRUE(MakeTree(dir / "v3", {"a.txt"}));
        ASSERT_TRUE(kstest::WriteFileBytes(dir / "v3/big.bin", big));
    }
    const auto refused = [&dir](const char* name, const std::vector<std::string>& args,
                                const std::string& message, const std::string& list,
                                const std::string& absent) {
        const std::string before = kstest::ReadFileBytes(list);
        std::string out;
        std::string err;
        EXPECT_EQ(ToolOutput(dir, args, out, err), 1) << name << ": " << out << err;
        EXPECT_NE(err.find(message), std::string::npos) << name << ": " << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << name << ": " << err;
        EXPECT_FALSE(before.empty()) << name;
        EXPECT_EQ(kstest::ReadFileBytes(list), before) << name;
        EXPECT_FALSE(kstest::Exists(absent)) << name << ": " << absent;
    };
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string message;
        std::string live;   // the live list that stays as it was
        std::string absent; // what the refused command must not leave
        bool bLocked;       // run while the test holds the store's lock
    } cases[] = {
        {"a folder that is no store",
         {"release", dir / "v1", "--store", dir / "served", "--key", key},
         dir / "served is not a release store (not empty, no kestrelsync-store.txt)",
         live,
         dir / "served/.lock",
         false},
        {"a store inside the tree",
         {"release", dir / "v1", "--store", dir / "v1/store", "--key", key},
         "lies inside the tree",
         live,
         dir / "v1/store",
         false},
        {"a held lock",
         {"release", dir / "v1", "--store", store, "--key", key},
         store + "/.lock is locked",
         live,
         store + "/objects/" + ObjectOf("bin/tool.dll"),
         true},
        {"a held lock, prune",
         {"prune", "--store", store, "--keep", "1"},
         store + "/.lock is locked",
         live,
         store + "/_listfile.txt.ks-write",
         true},
        {"a release that does not exist",
         {"rollback", "--store", store, "--key", key, "--to", "123"},
         "release 123 does not exist in " + store,
         live,
         store + "/releases/124.txt",
         false},
        {"a pruned release",
         {"rollback", "--store", store, "--key", key, "--to", first},
         "release " + first + " names " + pruned +
             " (bin\\tool.dll), which the store no longer holds",
         live,
         store + "/" + pruned,
         false},
        {"another key",
         {"release", dir / "v1", "--store", store, "--key", dir / "other/list-signing.key"},
         "is not the store's key",
         live,
         store + "/" + pruned,
         false},
        {"a full disk",
         {"release", dir / "v3", "--store", smallStore, "--key", key},
         "big.bin): " + plat::SystemErrorTextOf(plat::kErrDiskFull),
         smallStore + "/_listfile.txt",
         smallStore + "/" + ObjectOf(big),
         false},
    };
    for (const auto& c : cases) {
        if (c.live.compare(0, volume.size(), volume) == 0 && !bSmallVolume)
            continue;
        std::unique_ptr<kstest::HeldFile> lock;
        if (c.bLocked)
            lock = std::make_unique<kstest::HeldFile>(store + "/.lock");
        EXPECT_TRUE(!lock || lock->Ok()) << c.name;
        refused(c.name, c.args, c.message, c.live, c.absent);
    }
    if (bSmallVolume) {
        for (const std::string& object : StoreObjects(smallStore))
            EXPECT_EQ(object.find(".ks-part"), std::string::npos) << object;
        ::umount2(volume.c_str(), MNT_DETACH);
    }

    // --force makes the other key the store's key: the marker names it, the list is its.
    std::string out;
    std::string err;
    ASSERT_EQ(ToolOutput(dir,
                         {"release", dir / "v1", "--store", store, "--key",
                          dir / "other/list-signing.key", "--force"},
                         out, err),
              0)
        << err;
    EXPECT_NE(out.find("the store's key is now"), std::string::npos) << out;
    std::vector<plat::CP256PublicKey> keys;
    std::string why;
    ASSERT_EQ(LoadListKeys(dir / "other/KestrelSync.pem", keys, why), kListKeysLoaded) << why;
    const CListVerdict verdict = VerifySignedList(kstest::ReadFileBytes(live), "", keys, 0,
                                                  static_cast<std::int64_t>(std::time(nullptr)));
    EXPECT_TRUE(verdict.bAccepted) << verdict.strReason;
    if (!bSmallVolume)
        GTEST_SKIP() << "the full disk needs a small tmpfs, and mounting one needs root";
}

// A store's life: two releases (the second copies only the files that changed), the list of
// releases, a rollback to the first, and a prune that keeps what the live release names.
TEST(PublishTool, StoreReleasesRollsBackAndPrunes) {
    TempDir dir;
    ASSERT_EQ(Tool({"keygen", dir.Path()}), 0);
    const std::string key = dir / "list-signing.key";
    const std::string store = dir / "store";
    const std::string tree = dir / "tree";
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i)
        files.push_back((i % 2 == 0 ? "bin/file" : "data/item") + std::to_string(i) + ".dat");
    ASSERT_TRUE(MakeTree(tree, files));
    std::string out;
    std::string err;
    ASSERT_EQ(ToolOutput(dir, {"release", tree, "--store", store, "--key", key}, out, err), 0)
        << err;
    EXPECT_NE(out.find("40 files, 40 new objects copied"), std::string::npos) << out;
    const std::set<std::string> firstObjects = StoreObjects(store);
    ASSERT_EQ(firstObjects.size(), 40u);
    plat::FileStatus treeFile;
    plat::FileStatus objectFile;
    ASSERT_TRUE(plat::GetFileStatus(tree + "/bin/file0.dat", treeFile));
    ASSERT_TRUE(plat::GetFileStatus(store + "/" + ObjectOf("bin/file0.dat"), objectFile));
    EXPECT_EQ(objectFile.tModify, treeFile.tModify);

    // Two files of forty change.
    std::set<std::string> changed;
    for (const std::string name : {"bin/file4.dat", "data/item7.dat"}) {
        ASSERT_TRUE(kstest::WriteFileBytes(tree + "/" + name, name + ", version 2"));
        changed.insert(ObjectOf(name + ", version 2"));
    }
    ASSERT_EQ(ToolOutput(dir, {"release", tree, "--store", store, "--key", key, "--phased", "48"},
                         out, err),
              0)
        << err;
    EXPECT_NE(out.find("40 files, 2 new objects copied"), std::string::npos) << out;
    std::set<std::string> added;
    for (const std::string& object : StoreObjects(store)) {
        if (firstObjects.count(object) == 0)
            added.insert(object);
    }
    EXPECT_EQ(added, changed);

    std::vector<std::string> serials = StoreSerials(store);
    ASSERT_EQ(serials.size(), 2u);
    ASSERT_EQ(ToolOutput(dir, {"releases", "--store", store}, out, err), 0) << err;
    const std::size_t second = out.find('\n') + 1;
    EXPECT_EQ(out.compare(0, serials[0].size() + 2, serials[0] + "  "), 0) << out;
    EXPECT_EQ(out.compare(second, serials[1].size() + 2, serials[1] + "  "), 0) << out;
    EXPECT_NE(out.find("  40 files  "), std::string::npos) << out;
    EXPECT_NE(out.find("not phased\n"), std::string::npos) << out;
    EXPECT_NE(out.find("phased 48h  live\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("live"), out.rfind("live")) << out;

    ASSERT_EQ(
        ToolOutput(dir, {"rollback", "--store", store, "--key", key, "--to", serials[0]}, out, err),
        0)
        << err;
    serials = StoreSerials(store);
    ASSERT_EQ(serials.size(), 3u);
    const std::string first = kstest::ReadFileBytes(store + "/releases/" + serials[0] + ".txt");
    const std::string third = kstest::ReadFileBytes(store + "/releases/" + serials[2] + ".txt");
    EXPECT_EQ(ItemLines(third), ItemLines(first));
    EXPECT_EQ(ItemLines(first).size(), 40u);
    EXPECT_EQ(kstest::ReadFileBytes(store + "/_listfile.txt"), third);

    ASSERT_EQ(ToolOutput(dir, {"prune", "--store", store, "--keep", "1"}, out, err), 0) << err;
    EXPECT_EQ(StoreObjects(store), firstObjects);
    for (const std::string& object : changed)
        EXPECT_NE(out.find("removed " + object + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("2 objects removed"), std::string::npos) << out;

    std::vector<plat::CP256PublicKey> keys;
    std::string why;
    ASSERT_EQ(LoadListKeys(dir / "KestrelSync.pem", keys, why), kListKeysLoaded) << why;
    const std::int64_t tNow = static_cast<std::int64_t>(std::time(nullptr));
    for (const std::string& serial : serials) {
        const std::string bytes = kstest::ReadFileBytes(store + "/releases/" + serial + ".txt");
        const CListVerdict verdict = VerifySignedList(bytes, "", keys, 0, tNow);
        EXPECT_TRUE(verdict.bAccepted) << serial << ": " << verdict.strReason;
        EXPECT_EQ(std::to_string(verdict.nSerial), serial);
    }
    // Workstations that read the signature from its own file get the same answer.
    const std::string live = kstest::ReadFileBytes(store + "/_listfile.txt");
    EXPECT_TRUE(IsSignedByAny(live, kstest::ReadFileBytes(store + "/_listfile.txt.sig"), keys, why))
        << why;
}

std::string Noise(std::uint32_t seed, std::size_t nBytes) {
    std::string bytes(nBytes, '\0');
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// Which smaller forms a release writes: a compressed copy of a new object only when it saves,
// a patch only for a file that changed against an earlier release and only when it beats the
// compressed copy (never between unrelated contents), none with --patches 0; the index the
// list names holds every form of the release's objects, earlier releases' included.
TEST(PublishTool, ReleaseChoosesTheSmallerForms) {
    TempDir dir;
    ASSERT_EQ(Tool({"keygen", dir.Path()}), 0);
    const std::string store = dir / "store";
    struct Version {
        const char* pszFile;
        std::string first, second, third;
        bool bCopy;  // a compressed copy of the second version
        bool bPatch; // a patch from the first version to the second
    };
    const Version files[] = {
        {"text.dat", kstest::WordsText(1, 80000, 0), kstest::WordsText(1, 80000, 0),
         kstest::WordsText(1, 80000, 0), true, false},
        {"noise.bin", Noise(2, 80000), Noise(2, 80000), Noise(2, 80000), false, false},
        {"edit.dat", kstest::WordsText(3, 80000, 0), kstest::WordsText(3, 80000, 4),
         kstest::WordsText(3, 80000, 9), true, true},
        {"swap.bin", Noise(4, 80000), Noise(5, 80000), Noise(5, 80000), false, false},
        {"new.txt", "", kstest::WordsText(6, 50000, 0), kstest::WordsText(6, 50000, 0), true,
         false},
    };
    for (int release = 0; release < 3; ++release) {
        const std::string tree = dir / ("tree" + std::to_string(release));
        ASSERT_TRUE(plat::CreateFolder(tree));
        for (const Version& v : files) {
            const std::string& content = release == 0 ? v.first : release == 1 ? v.second : v.third;
            if (!content.empty()) {
                ASSERT_TRUE(kstest::WriteFileBytes(tree + "/" + v.pszFile, content));
            }
        }
        std::vector<std::string> args = {"release", tree,    "--store",
                                         store,     "--key", dir / "list-signing.key"};
        if (release == 2)
            args.insert(args.end(), {"--patches", "0"});
        std::string out, err;
        ASSERT_EQ(ToolOutput(dir, args, out, err), 0) << err;
    }
    const auto exists = [&](const std::string& relative) {
        return kstest::Exists(store + "/" + relative);
    };
    std::string index;
    CFormsRef ref;
    ASSERT_TRUE(ReadFormsRef(kstest::ReadFileBytes(store + "/_listfile.txt"), ref));
    index = kstest::ReadFileBytes(store + "/" + FormsIndexPath(ref.strHash));
    EXPECT_EQ(Sha256HexOf(index), ref.strHash);
    for (const Version& v : files) {
        const std::string second = Sha256HexOf(v.second);
        EXPECT_EQ(exists(CompressedFormPath(second)), v.bCopy) << v.pszFile;
        const bool bPatch = !v.first.empty() && v.first != v.second &&
                            exists(PatchFormPath(second, Sha256HexOf(v.first)));
        EXPECT_EQ(bPatch, v.bPatch) << v.pszFile;
        // The live release's third versions: their copies in the index, no new patch.
        const std::string third = Sha256HexOf(v.third);
        EXPECT_EQ(index.find(third + ",z,") != std::string::npos, exists(CompressedFormPath(third)))
            << v.pszFile;
        if (v.third != v.second) {
            EXPECT_FALSE(exists(PatchFormPath(third, second))) << v.pszFile;
        }
    }
    // A rollback to the second release names that release's index again; pruned to the
    // rollback, the other releases' indexes go and the one it names stays.
    const auto indexes = [&] {
        std::vector<plat::FoundFile> found;
        plat::FindFiles(store + "/forms/*.txt", found);
        return found.size();
    };
    EXPECT_EQ(indexes(), 3u);
    CFormsRef second;
    std::vector<std::string> serials = StoreSerials(store);
    std::sort(serials.begin(), serials.end());
    const std::string secondSerial = serials.at(1);
    ASSERT_TRUE(
        ReadFormsRef(kstest::ReadFileBytes(store + "/releases/" + secondSerial + ".txt"), second));
    ASSERT_EQ(Tool({"rollback", "--store", store, "--key", dir / "list-signing.key", "--to",
                    secondSerial}),
              0);
    CFormsRef rolledBack;
    ASSERT_TRUE(ReadFormsRef(kstest::ReadFileBytes(store + "/_listfile.txt"), rolledBack));
    EXPECT_EQ(rolledBack.strHash, second.strHash);
    ASSERT_EQ(Tool({"prune", "--store", store, "--keep", "1"}), 0);
    EXPECT_EQ(indexes(), 1u);
    EXPECT_TRUE(exists(FormsIndexPath(second.strHash)));
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

// An access log of the download server as the workstations' report requests fill it: machine
// groups of known ends, in the zone +0900, one day per line of days.
struct CFleetLog {
    std::vector<std::pair<std::string, std::string>> lines; // sort key (UTC), line

    static std::string Id(char group, int n) {
        char id[40];
        std::snprintf(id, sizeof id, "%c%031x", group, 0x51ea5e + n);
        return id;
    }
    // A line at day (of December 2026) and minute of that day, in zone hours east of UTC;
    // ids are made of group (a to f) and n.
    void Add(int day, int minute, const std::string& request, int zone = 9) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%02d/Dec/2026:%02d:%02d:00 %c%02d00", day, minute / 60,
                      minute % 60, zone < 0 ? '-' : '+', zone < 0 ? -zone : zone);
        char key[32];
        std::snprintf(key, sizeof key, "%07d", day * 1440 + minute - zone * 60);
        lines.emplace_back(key, "10.1.2.3 - - [" + std::string(stamp) + "] \"" + request +
                                    "\" 404 153 \"-\" \"KestrelSync/15.3.3.1\"");
    }
    void Report(int day, int minute, const std::string& id, const std::string& serial,
                const std::string& result, const std::string& cause = "") {
        Add(day, minute, "GET /lumen/_listfile.txt HTTP/1.1");
        Add(day, minute,
            "GET /lumen/_report?id=" + id + "&serial=" + serial + "&result=" + result +
                "&cause=" + cause + "&bytes=0&ms=420&v=15.3.3.1 HTTP/1.1");
    }
};

CFleetLog FleetLog() {
    const std::string s1 = "20261130090000", s2 = "20261203090000", s3 = "20261206090000";
    CFleetLog log;
    for (int day = 1; day <= 10; ++day) {
        for (int n = 0; n < 12; ++n) // A: every day, a release on days 3 and 6, the newest
            log.Report(day, 480 + n, CFleetLog::Id('a', n),
                       day < 3   ? s1
                       : day < 6 ? s2
                                 : s3,
                       day == 3 || day == 6 ? "updated" : "current");
        for (int n = 0; day <= 9 && n < 6; ++n) // B: on s2, failing on day 9
            log.Report(day, 500 + n, CFleetLog::Id('b', n), day < 3 ? s1 : s2,
                       day < 9 ? "current"
                       : n < 5 ? "failed"
                               : "stopped",
                       day < 9 ? ""
                       : n < 3 ? "hash"
                       : n < 5 ? "disk-space"
                               : "locked-file");
        for (int n = 0; day <= 2 && n < 3; ++n) // C: not seen since day 2
            log.Report(day, 520 + n, CFleetLog::Id('c', n), s1, "current");
        for (int n = 0; day >= 8 && n < 2; ++n) // D: no release yet
            log.Report(day, 530 + n, CFleetLog::Id('d', n), "", n == 0 ? "failed" : "no-run",
                       n == 0 ? "list-download" : "");
        if (day <= 9) // E: on s2
            log.Report(day, 540, CFleetLog::Id('e', 0), s2, "current");
        log.Add(day, 60, "GET /lumen/objects/ab/0123 HTTP/1.1");
        log.Add(day, 61, "\\x16\\x03\\x01\\x00\\xA5\\x01");
    }
    // E's last report: 11:00 at +0900, after the 10:00 one though it reads 02:00; its values
    // escaped, in another order, with a parameter no workstation sends.
    log.Report(10, 600, CFleetLog::Id('e', 0), s3, "current");
    log.Add(10, 120,
            "GET /lumen/_report?x=1&cause=proxy%2Dauth&result=fail%65d&serial=" + s2 +
                "&id=" + CFleetLog::Id('e', 0) + " HTTP/1.1",
            0);
    log.Report(4, 700, CFleetLog::Id('f', 0), s2, "failed", "%3Cscript%3Ealert(1)%3C/script%3E");
    log.Report(5, 700, CFleetLog::Id('f', 1), s2, "failed", "%3Cimg%20src=x%20onerror=alert(1)%3E");
    log.Report(10, 1080, CFleetLog::Id('a', 0), s3, "current"); // the newest report: "now"
    log.Add(6, 100, "HEAD /lumen/_report?id=" + CFleetLog::Id('f', 5) + "&result=current HTTP/1.1");
    // Lines skipped and counted: no access log line, one cut short, and three bad reports.
    log.lines.emplace_back("0",
                           "GET /lumen/_report?id=" + CFleetLog::Id('f', 6) + "&result=current");
    log.lines.emplace_back("1",
                           "10.1.2.3 - - [07/Dec/2026:08:00:00 +0900] \"GET / HTTP/1.1\" 200 1");
    log.Add(7, 1,
            "GET /lumen/_report?id=" + CFleetLog::Id('f', 2).substr(1) +
                "&result=current HTTP/1.1");
    log.Add(7, 2, "GET /lumen/_report?id=" + CFleetLog::Id('f', 3) + "&result=exploded HTTP/1.1");
    log.Add(7, 3, "GET /lumen/_report?id=" + CFleetLog::Id('f', 4) + "&result=%zzcurrent HTTP/1.1");
    std::sort(log.lines.begin(), log.lines.end());
    return log;
}

bool WriteGzip(const std::string& path, const std::string& text) {
    gzFile file = gzopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool bWritten = gzwrite(file, text.data(), static_cast<unsigned>(text.size())) ==
                          static_cast<int>(text.size());
    return gzclose(file) == Z_OK && bWritten;
}

// Runs of blanks as one: the columns' widths are the tool's to choose.
std::string Squeezed(const std::string& text) {
    std::string squeezed;
    for (const char c : text)
        if (c != ' ' || (!squeezed.empty() && squeezed.back() != ' '))
            squeezed += c;
    return squeezed;
}

// The fleet from rotated logs (the older gzip-compressed under a name without ".gz", given
// after the newer) is the fleet from the whole log, and the page shows what came from the log
// as text only.
TEST(PublishTool, StatusShowsTheFleetOfTheAccessLogs) {
    TempDir dir;
    const CFleetLog log = FleetLog();
    std::string whole, older, newer;
    for (std::size_t i = 0; i < log.lines.size(); ++i)
        (i < log.lines.size() / 2 ? older : newer) += log.lines[i].second + "\n";
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "whole.log", older + newer));
    ASSERT_TRUE(kstest::WriteFileBytes(dir / "access.log", newer));
    ASSERT_TRUE(WriteGzip(dir / "access.log.1", older));
    std::string out, err, wholeOut;
    ASSERT_EQ(ToolOutput(dir, {"status", dir / "whole.log"}, wholeOut, err), 0) << err;
    ASSERT_EQ(ToolOutput(dir,
                         {"status", dir / "access.log", dir / "access.log.1", "--html",
                          dir / "fleet.html"},
                         out, err),
              0)
        << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(out.substr(0, out.find("Page written")), wholeOut);
    const std::string e = CFleetLog::Id('e', 0);
    for (const std::string& block :
         {std::string("26 machines, from 200 reports\n"
                      "Now: 2026-12-10 18:00 +0900 (the newest report in the logs)\n"),
          std::string("Release Machines Share\n20261206090000 12 46.2%\n"
                      "20261203090000 9 34.6%\n20261130090000 3 11.5%\nnone 2 7.7%\n"),
          std::string("Latest result Machines\nupdated 0\ncurrent 15\nfailed 9\nstopped 1\n"
                      "no-run 1\n"),
          std::string("Failure cause Machines\nhash 3\ndisk-space 2\n"
                      "<img src=x onerror=alert(1)> 1\n<script>alert(1)</script> 1\n"
                      "list-download 1\nlocked-file 1\nproxy-auth 1\n"),
          "Not seen for 7 days or more: 3 machines\nMachine Release Last seen Result\n" +
              CFleetLog::Id('c', 0) + " 20261130090000 2026-12-02 08:40 +0900 current\n" +
              CFleetLog::Id('c', 1) + " 20261130090000 2026-12-02 08:41 +0900 current\n" +
              CFleetLog::Id('c', 2) + " 20261130090000 2026-12-02 08:42 +0900 current\n",
          std::string("\n5 lines skipped: not a report request in the combined format\n")})
        EXPECT_NE(Squeezed(out).find(block), std::string::npos) << block << "\nin:\n" << out;
    const std::string page = kstest::ReadFileBytes(dir / "fleet.html");
    EXPECT_NE(page.find("<svg"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("&lt;img src&#61;x onerror&#61;alert(1)&gt;"), std::string::npos);
    for (const char* outside : {"http", "src=", "<script", "<img", "url(", "@import"})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    EXPECT_FALSE(kstest::Exists(dir / "fleet.html.ks-write"));
}

} // namespace
