#include "platform/EventLog.h"

#include <syslog.h>

namespace plat {

bool ReportSystemEvent(const std::string& source, EventKind kind, int nEventId,
                       const std::string& text) {
    const int priority = kind == EventKind::Error     ? LOG_ERR
                         : kind == EventKind::Warning ? LOG_WARNING
                                                      : LOG_INFO;
    // syslog keeps the identity's pointer until closelog: the text lives through the call.
    ::openlog(source.c_str(), LOG_PID, LOG_USER);
    ::syslog(priority, "[%d] %s", nEventId, text.c_str());
    ::closelog();
    return true;
}

} // namespace plat
