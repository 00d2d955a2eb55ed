// The updater's command line: the argument of the process chain ("" for the program the user
// starts, "1" for the run copy, "2" for the copy after a self-update) and the unattended
// switch ("--unattended" or "/unattended"), which passes down the chain.
#pragma once

#include <string>
#include <vector>

struct CCommandLine {
    std::string strChain; // "", "1", "2", or any other text the process was given
    bool bUnattended = false;
    std::string strError; // why an unattended command line is refused (exit status 2)
};

// The words of text (the text after the program path), split at blanks.
CCommandLine ParseCommandLine(const std::string& text);

// The arguments that start the chain's copy for chain ("1" or "2") in this mode.
std::vector<std::string> ChainArguments(const std::string& chain, bool bUnattended);
