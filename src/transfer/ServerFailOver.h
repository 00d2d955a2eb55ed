// One request of an item on the servers of the run, the configured one first and then the
// mirrors, until one serves it.
#pragma once

#include "transfer/SyncConnection.h"

#include <functional>
#include <string>

// Runs attempt (one request on conn; its result code) on the first server of conn's servers
// that has not failed, and while the server cannot serve or sends another content than the
// list's, on the next ones: a server that cannot serve is marked failed for the whole run, one
// that sent another content is passed over for this request only. Without mirrors attempt
// runs once, on the connection as it is. what names the request in the log; bGet: attempt
// returns a GET's codes, else a HEAD's. The last attempt's code, or -1 when every server had
// failed before one was asked.
int OnServers(CSyncConnection& conn, const std::string& what, bool bGet,
              const std::function<int()>& attempt);

// True when conn moves between servers and r (with the status it left) is a server's fault,
// which OnServers has taken to every server already: asking again would ask a failed one.
bool ServersExhausted(const CSyncConnection& conn, int r, bool bGet);
