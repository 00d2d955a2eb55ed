// The policy on POSIX: section "VENTO" of an INI file that only root writes.
#include "platform/PolicyStore.h"

#include "platform/posix/ProfileValues.h"

#include <sys/stat.h>

namespace plat {

namespace {

constexpr const char* kPolicySection = "VENTO";

} // namespace

std::string DefaultPolicyLocation() {
    return "/etc/kestrelsync/policy.ini";
}

int ReadPolicyValues(const std::string& location, const std::vector<std::string>& names,
                     std::map<std::string, PolicyValue>& values) {
    values.clear();
    std::map<std::string, std::string> texts;
    if (ReadProfileValues(location, kPolicySection, names, texts) < 0)
        return -1;
    for (const auto& [name, text] : texts)
        values[name] = PolicyValue{true, text, "text"};
    return 0;
}

bool PolicyReadableByOthers(const std::string& location) {
    struct stat status {};
    return ::stat(location.c_str(), &status) != 0 || (status.st_mode & S_IROTH) != 0;
}

} // namespace plat
