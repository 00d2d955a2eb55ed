// kestrelsync-publish: the operators' tool (see publish/Publisher.h and the README).
#include "publish/Publisher.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kUsage =
    "usage: kestrelsync-publish keygen DIR\n"
    "       kestrelsync-publish list TREE [--previous LIST] [--rules RULES] [--out LIST]\n"
    "                                [--pub PEM] [--expires DAYS] [--encoding cp949|utf-8]\n"
    "                                [--dry-run] [--force]\n"
    "       kestrelsync-publish sign LIST --key KEY\n"
    "       kestrelsync-publish verify TREE LIST --pub PEM [--encoding cp949|utf-8]\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "kestrelsync-publish: %s\n%s", why.c_str(), kUsage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage("no command");
    const std::string& command = args[0];
    std::vector<std::string> positional;
    CPublishOptions options;
    std::string key;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool bValue = a == "--previous" || a == "--rules" || a == "--out" || a == "--pub" ||
                            a == "--expires" || a == "--encoding" || a == "--key";
        if (bValue && i + 1 >= args.size())
            return Usage(a + " needs a value");
        if (a == "--previous")
            options.strPrevious = args[++i];
        else if (a == "--rules")
            options.strRules = args[++i];
        else if (a == "--out")
            options.strOut = args[++i];
        else if (a == "--pub")
            options.strPub = args[++i];
        else if (a == "--key")
            key = args[++i];
        else if (a == "--encoding")
            options.strEncoding = args[++i];
        else if (a == "--expires") {
            char* end = nullptr;
            const long days = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || days < 0 || days > 36500)
                return Usage("--expires takes a number of days");
            options.nExpiresDays = static_cast<int>(days);
        } else if (a == "--dry-run")
            options.bDryRun = true;
        else if (a == "--force")
            options.bForce = true;
        else if (a.compare(0, 2, "--") == 0)
            return Usage("unknown option " + a);
        else
            positional.push_back(a);
    }
    options.bProgress = ::isatty(STDERR_FILENO) != 0;
    CPublisher publisher(stdout, stderr);
    if (command == "keygen" && positional.size() == 1)
        return publisher.Keygen(positional[0]);
    if (command == "list" && positional.size() == 1) {
        options.strTree = positional[0];
        return publisher.List(options);
    }
    if (command == "sign" && positional.size() == 1 && !key.empty())
        return publisher.Sign(positional[0], key);
    if (command == "verify" && positional.size() == 2 && !options.strPub.empty())
        return publisher.Verify(positional[0], positional[1], options.strPub, options.strEncoding);
    return Usage("the arguments do not fit the command " + command);
}
