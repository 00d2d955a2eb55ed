// The servers a run may ask: the configured one, then the mirrors of MIRRORS in their order.
// A server that cannot serve (no connection, a time-out, a 5xx answer) is not asked again in
// the run; the run's connections move on to the next one.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CSyncConfig;

struct CServerAddress {
    std::string strHost;
    int nPort = 0;
    // Put in front of every path the configured server is asked for ("" or "/a/b").
    std::string strBase;

    // "host:port" and the base, as the log and the result file name the server.
    std::string Name() const;
};

// The entries of a MIRRORS value ("host:port[/base]" separated by ";"); entries that do not
// parse are left out and returned in pRejected. Empty entries are no entries.
std::vector<CServerAddress> ParseMirrors(const std::string& text,
                                         std::vector<std::string>* pRejected = nullptr);

class CServerList {
public:
    // The configured server alone, or with the mirrors of config's MIRRORS.
    explicit CServerList(const CSyncConfig& config);
    CServerList(CServerAddress main, std::vector<CServerAddress> mirrors);

    std::size_t Count() const { return m_servers.size(); }
    const CServerAddress& At(std::size_t n) const { return m_servers[n]; }
    // True when there is a server to move to: without mirrors nothing ever fails over.
    bool HasMirrors() const { return m_servers.size() > 1; }
    // The first server that has not failed; Count() when every one has.
    std::size_t FirstUsable() const;
    bool Failed(std::size_t n) const { return m_pFailed[n].load(); }
    // Server n failed because of why; logged once, by whichever connection met it first.
    void MarkFailed(std::size_t n, const std::string& why);

    // The server the run's list came from, for the log and the result file.
    void SetListServer(std::size_t n);
    std::string ListServerName() const;

private:
    std::vector<CServerAddress> m_servers;
    std::unique_ptr<std::atomic<bool>[]> m_pFailed;
    mutable std::mutex m_mutex;
    std::string m_strListServer;
};

// Logs the MIRRORS entries that do not parse (they are left out), and the servers in their
// order when there are mirrors.
void LogMirrorsSetting(const CSyncConfig& config);

// What a failed request (a GET's result code or, with bGet false, a HEAD's) and the status
// the server answered say of the server: nothing, that it cannot serve (no connection, a
// transport error or time-out, no status or a 5xx one: not asked again), or that the file it
// sent is not the listed one (short, or another content: the item alone goes elsewhere).
enum class EServerFault { kNone, kUnreachable, kWrongContent };
EServerFault ServerFaultOf(int r, int nStatus, bool bGet);
