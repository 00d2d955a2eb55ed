// One update run: the connection to the download server, the list of download items, the
// worker thread, and the operations of a run.
#pragma once

#include "config/SyncConfig.h"
#include "platform/HttpClient.h"
#include "platform/Thread.h"
#include "ui/SyncView.h"
#include "updatelist/DownFileItem.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

class CSyncEngine {
public:
    CSyncEngine();
    // Frees the items, the connection and the session. The worker thread must have ended:
    // delete an engine through DeleteSyncEngine (or SyncEnginePtr), which stops it first.
    virtual ~CSyncEngine();
    CSyncEngine(const CSyncEngine&) = delete;
    CSyncEngine& operator=(const CSyncEngine&) = delete;

    // Takes the engine's own copy of the settings (a run never sees a half-changed record)
    // and makes the HTTP session and the connection object for the configured server. 0, or
    // -1 when no connection object could be made.
    int InitSyncEngine(const CSyncConfig* pConfig);

    // Frees every item of the list.
    void ClearDownFileItemList();

    // Runs body on the engine's worker thread (one per engine). 0 started, 1 the thread could
    // not be created, 2 the engine already has one.
    int StartWorkerThread(std::function<void()> body);

    // Reads the local list file into list (appending). 0, or -1 when it cannot be opened.
    int GetFileListFileFromFile(DownFileItemList& list);

    // Server file information by HEAD: the time as 14 digits of local time and the size.
    // 0, or -1 no request, -2 status unreadable, -3 no Last-Modified, -4 no Content-Length,
    // -5 status not 200, -9 transport error.
    int GetServerFileInfo(const std::string& strObjectPath, std::string& strModifyTime,
                          int& nFileSize);
    // The same for an item below the download base; fills its time and size on success.
    int GetItemServerFileInfo(DownFileItem& item);
    // Non-ASCII bytes of a path as %XX escapes (the UTF-8 form of each character).
    static std::string EncodeUrl(const std::string& strText);
    // An HTTP date as seconds since 1970 in the local-time sense, with the +9 hour shift.
    static std::int64_t ParseHttpDate(const std::string& strText);

    // 1 when the item's file must be downloaded, else 0.
    int IsFileToDownload(const DownFileItem& item);

    // Fetches the item with GET into its target path and gives it the server's time.
    // 0, or -1 no request, -2 status, -3 local file, -4 size, -5 time, -6 transport error,
    // -7 stopped.
    int DownloadOneFileFromServer(const DownFileItem& item, int nIndex, int nCount);
    // Creates the folders of a file path that are missing.
    void CreateTargetFolder(const std::string& strPath);
    int ClearReadOnlyPropertyOfLocalFile(const DownFileItem& item);
    // 0, or -1 when the local file's status cannot be read.
    int SetDownFileModifyDate(const DownFileItem& item);

    // The view, or a view that shows nothing when none is set.
    CSyncView& View() const;

    std::atomic<int> m_nNowRunningFlag{0};  // 1 while the worker runs its sequence
    std::atomic<int> m_nRequestStopFlag{0}; // set by Stop and by deletion; never reset
    char m_szLocalIpAddr[16] = {};
    std::atomic<CSyncView*> m_pDlg{nullptr}; // the owning window; not owned
    std::unique_ptr<plat::CWorkerThread> m_pSyncThread;
    DownFileItemList m_DownFileItemList;
    std::string m_strStatusMsg;
    std::unique_ptr<plat::CHttpSession> m_pSession;
    std::unique_ptr<plat::CHttpConnection> m_pConnection;
    const CSyncConfig* m_pConfig = nullptr; // the engine's own copy, from InitSyncEngine
    plat::HttpTimeouts m_httpTimeouts;      // used by InitSyncEngine

private:
    friend void DeleteSyncEngine(CSyncEngine* pEngine);
    // Stops the worker: asks it to stop and waits 5 to 6 seconds for it. True when it has
    // ended (or never ran).
    bool StopSyncThread();
    int ReceiveBody(plat::CHttpRequest& request, std::FILE* fp, int nExpected,
                    std::int64_t& nReceived);

    std::unique_ptr<CSyncConfig> m_pConfigCopy;
    // Set by whichever of the owner (giving the engine up) and the worker (leaving it) comes
    // second to decide who frees an engine whose worker outlived the stop wait.
    std::atomic<int> m_nReleaseFlag{0};
};

// Deletes an engine: stops a running worker first (bounded wait; Windows then ends it by
// force as a last resort, POSIX leaves it to run on and it frees the engine when it ends).
void DeleteSyncEngine(CSyncEngine* pEngine);

struct CSyncEngineDeleter {
    void operator()(CSyncEngine* pEngine) const { DeleteSyncEngine(pEngine); }
};
using SyncEnginePtr = std::unique_ptr<CSyncEngine, CSyncEngineDeleter>;
