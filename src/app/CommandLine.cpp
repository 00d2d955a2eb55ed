#include "app/CommandLine.h"

#include <sstream>

namespace {

// A word as a program sees it: a tool that quotes every argument ("--unattended") gives it
// in double quotes.
std::string Unquoted(const std::string& word) {
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"')
        return word.substr(1, word.size() - 2);
    return word;
}

bool IsUnattendedSwitch(const std::string& word) {
    return word == "--unattended" || word == "/unattended";
}

} // namespace

CCommandLine ParseCommandLine(const std::string& text) {
    CCommandLine line;
    std::istringstream words(text);
    std::vector<std::string> others;
    for (std::string word; words >> word;) {
        if (IsUnattendedSwitch(Unquoted(word)))
            line.bUnattended = true;
        else
            others.push_back(Unquoted(word));
    }
    if (!line.bUnattended) {
        // The chain's argument is the text as given (a started program may be given anything).
        const std::size_t first = text.find_first_not_of(" \t");
        line.strChain = first == std::string::npos ? std::string() : text.substr(first);
        return line;
    }
    // Unattended, only the chain's own copies carry one more word: "1" or "2".
    if (others.size() > 1 || (others.size() == 1 && others[0] != "1" && others[0] != "2"))
        line.strError = "--unattended takes no other argument (given: " + text + ")";
    else if (!others.empty())
        line.strChain = others[0];
    return line;
}

std::vector<std::string> ChainArguments(const std::string& chain, bool bUnattended) {
    if (bUnattended)
        return {chain, "--unattended"};
    return {chain};
}
