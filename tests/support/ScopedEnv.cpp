#include "support/ScopedEnv.h"

#include <cstdlib>

namespace kstest {

namespace {

void Set(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

} // namespace

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    const char* old = std::getenv(name);
    m_bHad = old != nullptr;
    if (m_bHad)
        m_old = old;
    Set(name, value.c_str());
}

ScopedEnv::~ScopedEnv() {
    Set(m_name, m_bHad ? m_old.c_str() : nullptr);
}

} // namespace kstest
