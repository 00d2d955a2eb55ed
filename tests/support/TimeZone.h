// Sets the process's time zone (TZ, in the form both C runtimes read, e.g. "KST-9") for the
// life of the object, and restores the earlier one.
#pragma once

#include <string>

namespace kstest {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_bHad = false;
    std::string m_strOld;
};

} // namespace kstest
