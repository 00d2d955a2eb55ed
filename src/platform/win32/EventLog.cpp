#include "platform/EventLog.h"

#include "platform/win32/WinText.h"

#include <windows.h>

namespace plat {

bool ReportSystemEvent(const std::string& source, EventKind kind, int nEventId,
                       const std::string& text) {
    const HANDLE log = ::RegisterEventSourceW(nullptr, Wide(source).c_str());
    if (log == nullptr)
        return false;
    const WORD type = kind == EventKind::Error     ? EVENTLOG_ERROR_TYPE
                      : kind == EventKind::Warning ? EVENTLOG_WARNING_TYPE
                                                   : EVENTLOG_INFORMATION_TYPE;
    const std::wstring wide = Wide(text);
    const wchar_t* strings[] = {wide.c_str()};
    const BOOL bReported =
        ::ReportEventW(log, type, 0, static_cast<DWORD>(nEventId), nullptr, 1, 0, strings, nullptr);
    const DWORD nError = ::GetLastError();
    ::DeregisterEventSource(log);
    ::SetLastError(nError);
    return bReported != FALSE;
}

} // namespace plat
