// POSIX view of the running process.
#include "platform/Process.h"

#include <unistd.h>

namespace plat {

std::string GetModulePath() {
    std::string buf(512, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", &buf[0], buf.size());
        if (n < 0)
            return std::string();
        if (static_cast<std::size_t>(n) < buf.size())
            return buf.substr(0, static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

} // namespace plat
