// The operators' tool (kestrelsync-publish, a native program) run from a test of either build:
// directly on POSIX, and through /bin/sh and tests/support/native-status.sh under Wine.
#pragma once

#include <string>
#include <vector>

namespace kstest {

// Empty when the tool is there, else the reason to skip.
std::string PublishToolSkip();

// The POSIX path of a path of this build (Wine's Z: drive is the root of the host).
std::string PosixPath(std::string path);

// Runs the tool with arguments (POSIX paths); its exit status, or -1 when it could not be
// started or did not end within timeoutMs. output: what it printed (standard output and error).
int RunPublishTool(const std::vector<std::string>& arguments, std::string* output = nullptr,
                   int timeoutMs = 120000);

} // namespace kstest
