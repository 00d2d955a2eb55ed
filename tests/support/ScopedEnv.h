// Sets an environment variable for the life of the object and restores it afterwards.
#pragma once

#include <string>

namespace kstest {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::string m_old;
    bool m_bHad = false;
};

} // namespace kstest
