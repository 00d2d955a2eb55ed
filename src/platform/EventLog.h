// The system's log of events, for what IT staff read without opening the program folder:
// Windows: the Application event log (ReportEventW, under the source name given); POSIX:
// syslog (facility user, the source name as its identity).
#pragma once

#include <string>

namespace plat {

enum class EventKind { Information, Warning, Error };

// One event of source with text (UTF-8). False when the system refused it (LastErrorCode).
bool ReportSystemEvent(const std::string& source, EventKind kind, int nEventId,
                       const std::string& text);

} // namespace plat
