// One update run: the connection to the download server, the list of download items, the
// worker thread, and the operations of a run.
#pragma once

#include "config/SyncConfig.h"
#include "engine/LeftOverFiles.h"
#include "engine/RunMode.h"
#include "engine/RunReport.h"
#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Thread.h"
#include "transfer/ItemLane.h"
#include "transfer/SyncConnection.h"
#include "ui/SyncView.h"
#include "updatelist/DownFileItem.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    // Starts the run (SyncThreadMain) on the worker thread; the same results.
    int StartSyncThread();

    // The run's steps, in the order SyncThreadMain takes them.
    // Version, folders and address as status rows; fills g_strWindowsDir, g_strSystemDir.
    // 0, or -1 no Windows folder, -2 no system folder.
    int GetAndDisplaySystemInfo();
    int SetListFileItem();
    // Chooses the run's mode: trusted when the program folder has a key file. 0 no key file
    // (plain mode), 1 trusted mode, -1 the file exists but holds no usable key (logged; the
    // run is in trusted mode and fetches nothing).
    int LoadListKey();
    // Downloads and reads the list file. 0, or -1 download failed, -2 reading failed, -3 the
    // signed list was refused (trusted mode).
    int DownloadAndMergeListFile();
    // The list file from the server into its local place as the run's mode takes it. 0, or
    // -1 the download failed, -3 refused (trusted mode; the local list file stays as it was).
    int FetchListFile();
    // The server the run's connection took the list from is the run's list server (logged
    // when there are mirrors).
    void NoteListServer();
    // 1 every item handled, 0 at least one failed, -2 a transport error ended the loop.
    int DownloadFilesInListFromServer();
    int HandleExecuteTypeFiles();
    // 0, or -1 a registry file could not be handed over.
    int HandleRegistryTypeFiles();
    int ProcessRegistryFile(const DownFileItem& item);
    // 0, or -1 a component could not be handed over, -2 regsvr32.exe is missing.
    int HandleRegisterTypeFilesByRegSvr32();
    int ProcessRegisterFileByRegSvr32(const DownFileItem& item);
    int HandleDeleteTypeFiles();
    // 0, or -1 a font could not be installed.
    int HandleFontTypeFiles();
    // 0, or -2 the copy into the fonts folder failed, -3 the system refused the font.
    int ProcessFontFile(const DownFileItem& item);

    // Builds a status row in m_strStatusMsg and adds it.
    void AddFormattedRow(int nKind, const std::string& text);

    // Reads the local list file into list (appending). 0, or -1 when it cannot be opened.
    int GetFileListFileFromFile(DownFileItemList& list);

    // Server file information by HEAD: the time as 14 digits of local time and the size.
    // 0, or -1 no request, -2 status unreadable, -3 no Last-Modified, -4 no Content-Length,
    // -5 status not 200, -9 transport error.
    int GetServerFileInfo(const std::string& strObjectPath, std::string& strModifyTime,
                          int& nFileSize);
    // The same on one of the run's connections.
    static int GetServerFileInfo(CSyncConnection& conn, const std::string& strObjectPath,
                                 std::string& strModifyTime, int& nFileSize);
    // The same for an item below the download base; fills its time and size on success.
    int GetItemServerFileInfo(DownFileItem& item);
    // With CONNECTIONS > 1: the HEADs of every item without list times, pipelined on
    // CONNECTIONS - 1 connections besides the run's own before the items' turns; the answers
    // that bring a time and a size are kept with the connection for GetServerFileInfo, which
    // asks the server again for any other path.
    void PipelineItemHeads();
    // Non-ASCII bytes of a path as %XX escapes (the UTF-8 form of each character).
    static std::string EncodeUrl(const std::string& strText);
    // EncodeUrl, and "%", "?" and "#" escaped too, so that every byte of a file name is part
    // of the path the server looks up (never an escape, a query or a fragment).
    static std::string EncodeUrlReserved(const std::string& strText);
    // An HTTP date as seconds since 1970 in the local-time sense, with the +9 hour shift.
    static std::int64_t ParseHttpDate(const std::string& strText);

    // What a look at a target found, taken ahead of the item's turn (trusted mode: nothing
    // changes a target before the apply).
    struct CTargetCheck {
        bool bFound = false;
        int nError = 0; // the system's code when not found
        plat::FileStatus status;
    };
    static CTargetCheck CheckTarget(const std::string& path);
    // 1 when the item's file must be downloaded, else 0. With pKnown the target is not
    // looked at again.
    int IsFileToDownload(const DownFileItem& item, const CTargetCheck* pKnown = nullptr);

    // Fetches the item with GET into its target path and gives it the server's time.
    // 0, or -1 no request, -2 status, -3 local file, -4 size, -5 time, -6 transport error,
    // -7 stopped, -8 (trusted mode) the content does not match the item's SHA-256 or the item
    // has none.
    int DownloadOneFileFromServer(const DownFileItem& item, int nIndex, int nCount);
    // The same on an item lane.
    int DownloadOneFileFromServer(CItemLane& lane, const DownFileItem& item);
    // Creates the folders of a file path that are missing.
    static void CreateTargetFolder(const std::string& strPath);
    // 0, or -1 when a read-only attribute could not be cleared (LastErrorCode tells why).
    static int ClearReadOnlyPropertyOfLocalFile(const DownFileItem& item);
    // 0, or -1 when the local file's status cannot be read, -2 when the time could not be set
    // (LastErrorCode tells why).
    static int SetDownFileModifyDate(const DownFileItem& item);

    // The view, or a view that shows nothing when none is set.
    CSyncView& View() const;
    // The run's own lane: its connection, stop flag and view.
    CItemLane Lane() { return CItemLane{m_connection, m_nRequestStopFlag, m_pDlg}; }

    // The steps that the run modes' download passes are made of.
    // CONNECTIONS of the settings (1 to 8); a value that had to be clamped is logged.
    int ConnectionCount() const;
    // Runs job for the items 0 to nCount-1, on the run's lane, or with CONNECTIONS > 1 on
    // that many lanes at once; then report(index, job's result) on this thread in index
    // order, after what the item showed and logged is played back on the run's view and log.
    // A stop ends the loop after the item in hand (and the items in flight, which end with
    // it). Returns the number of items reported. Items of the same target (targetOf, when
    // given) are never in flight at once: a later one starts when the earlier one is done.
    int ForEachItem(int nCount, const std::function<bool(CItemLane& lane, int nIndex)>& job,
                    const std::function<void(int nIndex, bool bOk)>& report,
                    const std::function<std::string(int nIndex)>& targetOf = nullptr);
    // The same on the run's own lane only, item after item: for jobs that ask no server.
    int ForEachItemOnLane(int nCount, const std::function<bool(CItemLane& lane, int nIndex)>& job,
                          const std::function<void(int nIndex, bool bOk)>& report);
    // The progress texts, the server information where the list lacks it, and the decision.
    // bClearBeside: what a download left beside the target is removed also when the item is
    // to be fetched (nothing of this run will write there). 1 download, 0 current, -1 the
    // information could not be had.
    int DecideItem(CItemLane& lane, DownFileItem& item, int n, int nCount,
                   const CTargetCheck* pKnown, bool bClearBeside);
    // Brings one item up to date in its target; false when it failed.
    bool SyncOneItem(CItemLane& lane, DownFileItem& item, int n, int nCount);
    // Logs a failed download and adds its row; false when the item's connection was
    // withdrawn and another one takes the item again (nothing reported).
    bool ReportFailedDownload(CItemLane& lane, DownFileItem& item, int r);
    void ShowTotal(CSyncView& view, int n, int nCount);
    void ShowFileName(CSyncView& view, const DownFileItem& item);
    // Runs attempt, and again after 1, 2, 4 ... seconds (at most 30) while it fails for a
    // transient reason, up to the mode's number of retries. Stop ends a wait at once.
    // bGet: attempt returns the codes of a GET (else those of a HEAD).
    int WithRetries(CItemLane& lane, const std::string& what, bool bGet,
                    const std::function<int()>& attempt);
    // The item's path below the download base, as its HEAD asks for it ("\" as "/").
    std::string ItemUrl(const DownFileItem& item) const;
    // Deletes a local file; a failure is logged as "<pszWho>> DeleteFile(...) Error" at nLevel
    // with the system's text (not when the file was missing and bQuietWhenMissing is set).
    static bool DeleteLocalFile(const std::string& path, const char* pszWho, int nLevel,
                                bool bQuietWhenMissing);

    std::unique_ptr<CRunMode> m_pMode; // plain until LoadListKey finds a key file
    CSyncConnection m_connection;      // the run's own keep-alive connection
    CLeftOverFiles m_leftOvers;        // temporary files that ended downloads left

    std::atomic<int> m_nNowRunningFlag{0};  // 1 while the worker runs its sequence
    std::atomic<int> m_nRequestStopFlag{0}; // set by Stop and by deletion; never reset
    std::atomic<int> m_nThreadEndedFlag{0}; // set when the worker's body has returned
    char m_szLocalIpAddr[16] = {};
    std::atomic<CSyncView*> m_pDlg{nullptr}; // the owning window; not owned
    std::unique_ptr<plat::CWorkerThread> m_pSyncThread;
    DownFileItemList m_DownFileItemList;
    std::string m_strStatusMsg;
    const CSyncConfig* m_pConfig = nullptr; // the engine's own copy, from InitSyncEngine
    plat::HttpTimeouts m_httpTimeouts;      // used by InitSyncEngine and the run's lanes
    // What the download passes fetched in this run (the list file not counted).
    std::atomic<int> m_nDownloadedFiles{0};
    std::atomic<std::int64_t> m_nDownloadedBytes{0};
    // The run's first failure, and what the run came to once it ended.
    CRunCause m_runCause;
    CRunReport m_runReport;
    std::atomic<bool> m_bRunReported{false};
    // Trusted mode's tests end the process at a step of the apply.
    std::function<void(int nStep)> m_applyStepHook;

private:
    friend void DeleteSyncEngine(CSyncEngine* pEngine);
    // Stops the worker: asks it to stop and waits 5 to 6 seconds for it. True when it has
    // ended (or never ran).
    bool StopSyncThread();
    bool FetchItemServerInfo(CItemLane& lane, DownFileItem& item);
    void LogConnectionsSetting();
    // "config/KestrelSync.downloads" of the program folder: there while downloads of items
    // may have left temporary files beside their targets.
    std::string LeftOverMarkerPath() const;

    std::unique_ptr<CSyncConfig> m_pConfigCopy;
    // Set by whichever of the owner (giving the engine up) and the worker (leaving it) comes
    // second to decide who frees an engine whose worker outlived the stop wait.
    std::atomic<int> m_nReleaseFlag{0};
};

// The run sequence of the worker thread. 0 after a completed run, 1 after a list-file
// failure, -1 when the system information failed.
int SyncThreadMain(CSyncEngine* pEngine);

// Deletes an engine: stops a running worker first (bounded wait; Windows then ends it by
// force as a last resort, POSIX leaves it to run on and it frees the engine when it ends).
void DeleteSyncEngine(CSyncEngine* pEngine);

struct CSyncEngineDeleter {
    void operator()(CSyncEngine* pEngine) const { DeleteSyncEngine(pEngine); }
};
using SyncEnginePtr = std::unique_ptr<CSyncEngine, CSyncEngineDeleter>;
