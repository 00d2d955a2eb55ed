// kestrelsync-publish: the operators' tool (see publish/Publisher.h and the README). Every
// command is a subcommand of the command line, added by a function of its own that keeps the
// command's arguments and, once the whole line has parsed, names the publisher call to run.
#include "publish/FleetStatus.h"
#include "publish/Publisher.h"
#include "publish/StorePublisher.h"
#include "trust/Rollout.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// The call the parsed command line chose; set by the callback of the subcommand given. It
// writes its results to out and its refusals to err.
using Command = std::function<int(std::FILE* out, std::FILE* err)>;

const char* const kEncodingHelp = "cp949 (the default, Windows workstations) or utf-8";

// A number option read as plain decimal digits from nMin to nMax (CLI11's own integer reading
// would take a leading 0 as octal); the text is left as the number's plain form for CLI11 to
// store.
CLI::Validator Decimal(long long nMin, long long nMax, const std::string& what,
                       const std::string& name) {
    const std::string why = "takes " + what;
    return CLI::Validator(
        [nMin, nMax, why](std::string& text) {
            char* end = nullptr;
            const long long n = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || text.size() > 18 ||
                text.find_first_not_of("0123456789") != std::string::npos || *end != '\0' ||
                n < nMin || n > nMax)
                return why;
            text = std::to_string(n);
            return std::string();
        },
        "", name);
}

CLI::Validator ExpiresDays() {
    return Decimal(0, 36500, "a number of days, 0 to 36500", "DAYS");
}

// A key the command cannot do without is never an empty path.
std::string NotEmpty(const std::string& text) {
    return text.empty() ? "needs a non-empty value" : std::string();
}

// The live list's name: a file right in the store, never a path.
std::string PlainName(const std::string& text) {
    if (text.empty() || text == "." || text == ".." ||
        text.find_first_of("/\\") != std::string::npos)
        return "takes a file name without folders";
    return std::string();
}

void AddKeygen(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "keygen", "Make a signing key pair: DIR/list-signing.key (owner only) and "
                  "DIR/KestrelSync.pem. Existing keys are never overwritten.");
    auto dir = std::make_shared<std::string>();
    command->add_option("DIR", *dir, "the folder of the key pair")->required();
    command->callback([&chosen, dir] {
        chosen = [dir](std::FILE* out, std::FILE* err) {
            return CPublisher(out, err).Keygen(*dir);
        };
    });
}

void AddList(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "list", "Write the list file of an update tree (TREE/_listfile.txt unless --out).");
    auto options = std::make_shared<CPublishOptions>();
    command->add_option("TREE", options->strTree, "the update tree")->required();
    command
        ->add_option("--previous", options->strPrevious,
                     "the list the tree was published with before")
        ->type_name("LIST");
    command->add_option("--rules", options->strRules, "patterns to class, type and local path")
        ->type_name("RULES");
    command->add_option("--out", options->strOut, "the list to write")->type_name("LIST");
    command
        ->add_option("--pub", options->strPub,
                     "the public key(s) the previous list must be signed by")
        ->type_name("PEM");
    command->add_option("--expires", options->nExpiresDays, "the list's lifetime in days")
        ->type_name("DAYS")
        ->transform(ExpiresDays());
    command->add_option("--encoding", options->strEncoding, kEncodingHelp)->type_name("ENCODING");
    command->add_flag("--dry-run", options->bDryRun, "only show what would change");
    command->add_flag("--force", options->bForce,
                      "take a previous list that is not signed or not valid");
    command->callback([&chosen, options] {
        options->bProgress = ::isatty(STDERR_FILENO) != 0;
        chosen = [options](std::FILE* out, std::FILE* err) {
            return CPublisher(out, err).List(*options);
        };
    });
}

void AddSign(CLI::App& app, Command& chosen) {
    CLI::App* command =
        app.add_subcommand("sign", "Write LIST.sig, the signature of LIST (as openssl dgst "
                                   "-sha256 -sign).");
    auto list = std::make_shared<std::string>();
    auto key = std::make_shared<std::string>();
    command->add_option("LIST", *list, "the list file to sign")->required();
    command->add_option("--key", *key, "the private signing key")
        ->type_name("KEY")
        ->required()
        ->check(CLI::Validator(NotEmpty, "", "KEY"));
    command->callback([&chosen, list, key] {
        chosen = [list, key](std::FILE* out, std::FILE* err) {
            return CPublisher(out, err).Sign(*list, *key);
        };
    });
}

void AddVerify(CLI::App& app, Command& chosen) {
    struct CArguments {
        std::string strTree;
        std::string strList;
        std::string strPub;
        std::string strEncoding = "cp949";
    };
    CLI::App* command = app.add_subcommand(
        "verify", "Check a published tree against its list: the signature, the serial line and "
                  "every line's size, time and hash.");
    auto args = std::make_shared<CArguments>();
    command->add_option("TREE", args->strTree, "the published tree")->required();
    command->add_option("LIST", args->strList, "the tree's list file")->required();
    command->add_option("--pub", args->strPub, "the public key(s) the list must be signed by")
        ->type_name("PEM")
        ->required()
        ->check(CLI::Validator(NotEmpty, "", "PEM"));
    command->add_option("--encoding", args->strEncoding, kEncodingHelp)->type_name("ENCODING");
    command->callback([&chosen, args] {
        chosen = [args](std::FILE* out, std::FILE* err) {
            return CPublisher(out, err).Verify(args->strTree, args->strList, args->strPub,
                                               args->strEncoding);
        };
    });
}

// --store and --key of the store's commands: required, never an empty path.
void AddStoreOption(CLI::App& command, std::string& store) {
    command.add_option("--store", store, "the release store (the served download base)")
        ->type_name("DIR")
        ->required()
        ->check(CLI::Validator(NotEmpty, "", "DIR"));
}

void AddKeyOption(CLI::App& command, std::string& key) {
    command.add_option("--key", key, "the private signing key")
        ->type_name("KEY")
        ->required()
        ->check(CLI::Validator(NotEmpty, "", "KEY"));
}

void AddListNameOption(CLI::App& command, std::string& listName) {
    command.add_option("--list-name", listName, "the live list's name in the store")
        ->type_name("NAME")
        ->check(CLI::Validator(PlainName, "", "NAME"));
}

void AddRelease(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "release", "Publish a tree as a new release of a store: copy the files the store lacks "
                   "into objects/, keep the signed list under releases/, make it live last.");
    auto options = std::make_shared<CReleaseOptions>();
    command->add_option("TREE", options->strTree, "the update tree")->required();
    AddStoreOption(*command, options->strStore);
    AddKeyOption(*command, options->strKey);
    command->add_option("--rules", options->strRules, "patterns to class, type and local path")
        ->type_name("RULES");
    CLI::Option* phased =
        command
            ->add_option("--phased", options->nPhasedHours,
                         "reach every workstation over HOURS (1 to " +
                             std::to_string(kPhasedHoursMax) + ")")
            ->type_name("HOURS")
            ->transform(Decimal(1, kPhasedHoursMax,
                                "a number of hours, 1 to " + std::to_string(kPhasedHoursMax),
                                "HOURS"));
    command->add_flag("--critical", options->bCritical, "reach every workstation at once")
        ->excludes(phased);
    command->add_option("--expires", options->nExpiresDays, "the list's lifetime in days")
        ->type_name("DAYS")
        ->transform(ExpiresDays());
    command->add_option("--encoding", options->strEncoding, kEncodingHelp)->type_name("ENCODING");
    command
        ->add_option("--patches", options->nPatchReleases,
                     "make patches from the files of the newest K releases (default 3, 0: none)")
        ->type_name("K")
        ->transform(Decimal(0, 100, "a number of releases, 0 to 100", "K"));
    AddListNameOption(*command, options->strListName);
    command->add_flag("--dry-run", options->bDryRun, "only show what would be copied");
    command->add_flag("--force", options->bForce, "make a key other than the store's its key");
    command->callback([&chosen, options] {
        options->bProgress = ::isatty(STDERR_FILENO) != 0;
        chosen = [options](std::FILE* out, std::FILE* err) {
            return CStorePublisher(out, err).Release(*options);
        };
    });
}

void AddRollback(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "rollback", "Publish an earlier release again as a new release (never phased), once its "
                    "signature and every object it names are checked.");
    auto options = std::make_shared<CRollbackOptions>();
    AddStoreOption(*command, options->strStore);
    AddKeyOption(*command, options->strKey);
    command->add_option("--to", options->nSerial, "the serial of the release to publish again")
        ->type_name("SERIAL")
        ->required()
        ->transform(Decimal(1, 999999999999999999LL, "the serial of a release (digits)", "SERIAL"));
    AddListNameOption(*command, options->strListName);
    command->add_option("--expires", options->nExpiresDays, "the list's lifetime in days")
        ->type_name("DAYS")
        ->transform(ExpiresDays());
    command->callback([&chosen, options] {
        chosen = [options](std::FILE* out, std::FILE* err) {
            return CStorePublisher(out, err).Rollback(*options);
        };
    });
}

void AddReleases(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "releases", "List the releases of a store, oldest first: serial, publication time (UTC), "
                    "files, bytes, phasing, and which one is live.");
    auto store = std::make_shared<std::string>();
    auto listName = std::make_shared<std::string>(kDefaultListName);
    AddStoreOption(*command, *store);
    AddListNameOption(*command, *listName);
    command->callback([&chosen, store, listName] {
        chosen = [store, listName](std::FILE* out, std::FILE* err) {
            return CStorePublisher(out, err).Releases(*store, *listName);
        };
    });
}

void AddPrune(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "prune", "Remove the objects that neither the newest N releases nor the live one name "
                 "(release lists stay).");
    auto store = std::make_shared<std::string>();
    auto listName = std::make_shared<std::string>(kDefaultListName);
    auto keep = std::make_shared<int>(0);
    AddStoreOption(*command, *store);
    command->add_option("--keep", *keep, "how many of the newest releases keep their objects")
        ->type_name("N")
        ->required()
        ->transform(Decimal(1, 1000000, "a number of releases, at least 1", "N"));
    AddListNameOption(*command, *listName);
    command->callback([&chosen, store, listName, keep] {
        chosen = [store, listName, keep](std::FILE* out, std::FILE* err) {
            return CStorePublisher(out, err).Prune(*store, *listName, *keep);
        };
    });
}

void AddStatus(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "status", "Show the fleet from the report requests in the download server's access "
                  "logs (combined format, plain or gzip): machines per release, latest results, "
                  "failure causes, machines not seen lately.");
    auto options = std::make_shared<CFleetOptions>();
    command->add_option("LOG", options->logs, "the access logs, in any order")
        ->required()
        ->check(CLI::Validator(NotEmpty, "", "LOG"));
    command->add_option("--html", options->strHtml, "also write the fleet as one HTML page")
        ->type_name("OUT")
        ->check(CLI::Validator(NotEmpty, "", "OUT"));
    command
        ->add_option("--stale-days", options->nStaleDays,
                     "machines not seen for DAYS before the newest report are listed (default 7)")
        ->type_name("DAYS")
        ->transform(Decimal(1, 3650, "a number of days, 1 to 3650", "DAYS"));
    command->callback([&chosen, options] {
        chosen = [options](std::FILE* out, std::FILE* err) {
            return RunFleetStatus(*options, out, err);
        };
    });
}

// The first word must be a command or --help; CLI11 would report any other as a command missing.
bool IsCommandOrHelp(const CLI::App& app, const std::string& word) {
    const auto named = [&word](const CLI::App* command) { return command->check_name(word); };
    return app.get_help_ptr()->check_name(word) || !app.get_subcommands(named).empty();
}

// The command line parsed into app, which sets chosen. The exit status when it chose no command:
// 0 after a help text (of the command --help was given to), 2 after a one-line usage error.
int Parse(CLI::App& app, int argc, char** argv) {
    std::string why;
    try {
        if (argc > 1 && !IsCommandOrHelp(app, argv[1]))
            why = std::string(argv[1][0] == '-' ? "unknown option " : "unknown command ") + argv[1];
        else
            app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return app.exit(e);
        why = e.what();
    }
    if (why.empty())
        return 0;
    std::fprintf(stderr, "kestrelsync-publish: %s (see --help)\n", why.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app("Writes, signs and checks the list files of update trees, and publishes them "
                 "as releases of a release store.",
                 "kestrelsync-publish");
    app.footer("Exit status: 0 done, 1 differences or refused input (one line naming the "
               "cause; nothing written, a store's live list as it was), 2 usage.");
    app.require_subcommand(1);
    Command chosen;
    AddKeygen(app, chosen);
    AddList(app, chosen);
    AddSign(app, chosen);
    AddVerify(app, chosen);
    AddRelease(app, chosen);
    AddRollback(app, chosen);
    AddReleases(app, chosen);
    AddPrune(app, chosen);
    AddStatus(app, chosen);
    const int nStatus = Parse(app, argc, argv);
    if (!chosen)
        return nStatus;
    return chosen(stdout, stderr);
}
