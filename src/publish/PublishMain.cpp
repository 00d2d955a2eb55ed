// kestrelsync-publish: the operators' tool (see publish/Publisher.h and the README). Every
// command is a subcommand of the command line, added by a function of its own that keeps the
// command's arguments and, once the whole line has parsed, names the publisher call to run.
#include "publish/Publisher.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// The call the parsed command line chose; set by the callback of the subcommand given.
using Command = std::function<int(CPublisher&)>;

const char* const kEncodingHelp = "cp949 (the default, Windows workstations) or utf-8";

// --expires is read as plain decimal days, 0 to 36500 (CLI11's own integer reading would take
// a leading 0 as octal); the text is left as the number's plain form for CLI11 to store.
std::string DecimalDays(std::string& text) {
    char* end = nullptr;
    const long days = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || days < 0 || days > 36500)
        return "takes a number of days, 0 to 36500";
    text = std::to_string(days);
    return std::string();
}

// A key the command cannot do without is never an empty path.
std::string NotEmpty(const std::string& text) {
    return text.empty() ? "needs a non-empty value" : std::string();
}

void AddKeygen(CLI::App& app, Command& chosen) {
    CLI::App* command = app.add_subcommand(
        "keygen", "Make a signing key pair: DIR/list-signing.key (owner only) and "
                  "DIR/KestrelSync.pem. Existing keys are never overwritten.");
    auto dir = std::make_shared<std::string>();
    command->add_option("DIR", *dir, "the folder of the key pair")->required();
    command->callback([&chosen, dir] {
        chosen = [dir](CPublisher& publisher) { return publisher.Keygen(*dir); };
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
        ->transform(CLI::Validator(DecimalDays, "", "DAYS"));
    command->add_option("--encoding", options->strEncoding, kEncodingHelp)->type_name("ENCODING");
    command->add_flag("--dry-run", options->bDryRun, "only show what would change");
    command->add_flag("--force", options->bForce,
                      "take a previous list that is not signed or not valid");
    command->callback([&chosen, options] {
        options->bProgress = ::isatty(STDERR_FILENO) != 0;
        chosen = [options](CPublisher& publisher) { return publisher.List(*options); };
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
        chosen = [list, key](CPublisher& publisher) { return publisher.Sign(*list, *key); };
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
        chosen = [args](CPublisher& publisher) {
            return publisher.Verify(args->strTree, args->strList, args->strPub, args->strEncoding);
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
    CLI::App app("Writes, signs and checks the list files of update trees.", "kestrelsync-publish");
    app.footer("Exit status: 0 done, 1 differences or refused input (one line naming the "
               "cause; nothing written), 2 usage.");
    app.require_subcommand(1);
    Command chosen;
    AddKeygen(app, chosen);
    AddList(app, chosen);
    AddSign(app, chosen);
    AddVerify(app, chosen);
    const int nStatus = Parse(app, argc, argv);
    if (!chosen)
        return nStatus;
    CPublisher publisher(stdout, stderr);
    return chosen(publisher);
}
