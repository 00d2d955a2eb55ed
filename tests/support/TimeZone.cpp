#include "support/TimeZone.h"

#include <cstdlib>
#include <ctime>

namespace kstest {

namespace {

void SetTz(const char* value) {
#ifdef _WIN32
    ::_putenv_s("TZ", value != nullptr ? value : "");
    ::_tzset();
#else
    if (value != nullptr)
        ::setenv("TZ", value, 1);
    else
        ::unsetenv("TZ");
    ::tzset();
#endif
}

} // namespace

ScopedTimeZone::ScopedTimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    m_bHad = old != nullptr;
    if (m_bHad)
        m_strOld = old;
    SetTz(tz);
}

ScopedTimeZone::~ScopedTimeZone() {
    SetTz(m_bHad ? m_strOld.c_str() : nullptr);
}

} // namespace kstest
