// A request that a proxy refused: the run's cause names the proxy and its answer.
#pragma once

#include <functional>
#include <string>

class CRunCause;
class CSyncConfig;
class CSyncConnection;
struct CItemLane;

// The last answer on conn as a proxy's refusal: 407 (no usable credentials) is "proxy-auth";
// with PROXY_SERVER in the way, 403 and no answer at all are "proxy" (with the system's
// settings a 403 or a silence cannot be told from the server's own). For a refusal it logs a
// level-4 line and adds a row through addRow, both naming the proxy and the status, makes it
// the run's cause (when the run has none yet) and returns true.
bool NoteProxyRefusal(const CSyncConfig& config, const CSyncConnection& conn, CRunCause& cause,
                      const std::function<void(const std::string&)>& addRow);

// The same for the last request of an item's lane, unless the lane was stopped; the row goes
// to the lane's view.
bool NoteProxyRefusal(const CSyncConfig& config, const CItemLane& lane, CRunCause& cause);
