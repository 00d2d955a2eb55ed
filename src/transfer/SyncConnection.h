// One keep-alive connection to the download server, and what is counted and known on it.
#pragma once

#include "config/SyncConfig.h"
#include "platform/HttpClient.h"
#include "transfer/ServerList.h"

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

class CSyncConnection {
public:
    // Request path (as it is sent): Last-Modified and Content-Length texts.
    using CHeadAnswers = std::unordered_map<std::string, std::pair<std::string, std::string>>;
    using EncodeFn = std::string (*)(const std::string&);

    CSyncConnection() = default;
    CSyncConnection(const CSyncConnection&) = delete;
    CSyncConnection& operator=(const CSyncConnection&) = delete;

    // The session and the connection for the first server of pServers that has not failed
    // (without pServers: the configured server and the mirrors of its MIRRORS, shared by no
    // other connection); timeouts.pStopFlag ends every wait on it. 0, or -1 when no connection
    // object could be made (logged).
    int Open(const CSyncConfig& config, const plat::HttpTimeouts& timeouts,
             std::shared_ptr<CServerList> pServers = nullptr);
    // The platform's connection, null when none could be made.
    plat::CHttpConnection* Http() const { return m_pConnection.get(); }
    // The servers the connection may move between, and the one it is on.
    const std::shared_ptr<CServerList>& Servers() const { return m_pServers; }
    std::size_t ServerIndex() const { return m_nServer; }
    // (an adopted connection without servers: an address without host and base)
    const CServerAddress& Server() const;
    // Moves the connection to server n of Servers(); false when no connection object could be
    // made for it.
    bool UseServer(std::size_t n);
    // True once the stop flag of the connection's waits is set.
    bool Stopped() const { return m_pStopFlag != nullptr && *m_pStopFlag != 0; }
    // Takes the place of the connection (a run that is given one made elsewhere).
    void Adopt(std::unique_ptr<plat::CHttpConnection> pConnection);

    // A request for strPath (below the server root) in the run's encoding; null when none
    // could be made.
    std::unique_ptr<plat::CHttpRequest> OpenRequest(const char* pszVerb,
                                                    const std::string& strPath) const;
    // Sends the request, counted, logs its redirects as pszWho's, and keeps its status in
    // m_nLastHttpStatus: the status, 0 when none could be read. Raises CHttpError.
    int Send(plat::CHttpRequest& request, const char* pszWho);
    std::string Encode(const std::string& strPath) const { return m_pfnEncode(strPath); }
    // The path as this server is asked for it: below its base, encoded.
    std::string RequestPath(const std::string& strPath) const {
        return m_pfnEncode(Server().strBase + strPath);
    }

    // The encoding of request paths, chosen with the run's mode.
    EncodeFn m_pfnEncode = &EncodeUrlPath;
    int m_nRequestsSent = 0;          // requests sent on this connection
    std::atomic<int> m_nResponses{0}; // and the responses they brought (read by the scheduler)
    int m_nLastHttpStatus = 0;        // the status of the last response (0: none)
    // HEAD answers had ahead of the items' turns, shared by the run's connections.
    std::shared_ptr<const CHeadAnswers> m_pHeadAnswers;

    // Non-ASCII bytes of a path as %XX escapes (the UTF-8 form of each character).
    static std::string EncodeUrlPath(const std::string& strText);
    // The same, and "%", "?" and "#" escaped too, so that every byte of a file name is part of
    // the path the server looks up (never an escape, a query or a fragment).
    static std::string EncodeUrlPathReserved(const std::string& strText);

private:
    std::shared_ptr<CServerList> m_pServers;
    std::size_t m_nServer = 0;
    bool m_bHttps = false;
    const std::atomic<int>* m_pStopFlag = nullptr;
    std::unique_ptr<plat::CHttpSession> m_pSession;
    std::unique_ptr<plat::CHttpConnection> m_pConnection;
};
