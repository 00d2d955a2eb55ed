// One update run: the connection to the download server, the list of download items, the
// worker thread, and the operations of a run.
#pragma once

#include "apply/Apply.h"
#include "config/SyncConfig.h"
#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "platform/Thread.h"
#include "transfer/LocalFile.h"
#include "ui/SyncView.h"
#include "updatelist/DownFileItem.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
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
    // Trusted mode: reads the key file of the program folder. 0 no key file (plain mode), 1
    // trusted mode, -1 the file exists but holds no usable key (logged).
    int LoadListKey();
    // Downloads and reads the list file. 0, or -1 download failed, -2 reading failed, -3 the
    // signed list was refused (trusted mode).
    int DownloadAndMergeListFile();
    // Trusted mode: the list file and its signature from the server, verified, in the list
    // file's place, and its serial kept. 0, or -1 the download failed, -3 refused (logged with
    // the reason; the local list file stays as it was).
    int FetchVerifiedListFile();
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
    // The same for an item below the download base; fills its time and size on success.
    int GetItemServerFileInfo(DownFileItem& item);
    // With CONNECTIONS > 1: the HEADs of every item without list times, pipelined on
    // CONNECTIONS - 1 connections besides the run's own before the items' turns; the answers
    // that bring a time and a size are kept in m_pHeadAnswers for GetServerFileInfo, which
    // asks the server again for any other path.
    void PipelineItemHeads();
    // Request path (as GetServerFileInfo escapes it): Last-Modified and Content-Length texts.
    using CHeadAnswers = std::unordered_map<std::string, std::pair<std::string, std::string>>;
    std::shared_ptr<const CHeadAnswers> m_pHeadAnswers; // shared with the worker engines
    // Non-ASCII bytes of a path as %XX escapes (the UTF-8 form of each character).
    static std::string EncodeUrl(const std::string& strText);
    // EncodeUrl, and "%", "?" and "#" escaped too, so that every byte of a file name is part
    // of the path the server looks up (never an escape, a query or a fragment).
    static std::string EncodeUrlReserved(const std::string& strText);
    // The encoding of this run's request paths, chosen with the mode: EncodeUrl for plain
    // lists, EncodeUrlReserved for signed lists (whose names the operators' tool checks).
    std::string (*m_pfnEncodeUrl)(const std::string&) = &CSyncEngine::EncodeUrl;
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
    // Creates the folders of a file path that are missing.
    void CreateTargetFolder(const std::string& strPath);
    // 0, or -1 when a read-only attribute could not be cleared (LastErrorCode tells why).
    int ClearReadOnlyPropertyOfLocalFile(const DownFileItem& item);
    // 0, or -1 when the local file's status cannot be read, -2 when the time could not be set
    // (LastErrorCode tells why).
    int SetDownFileModifyDate(const DownFileItem& item);

    // The view, or a view that shows nothing when none is set.
    CSyncView& View() const;

    bool m_bTrusted = false; // a key file is present: lists are signed, files hashed
    std::vector<plat::CP256PublicKey> m_listKeys;
    CApplyOrigin m_listOrigin; // the list this run verified, for the journal of its apply

    std::atomic<int> m_nNowRunningFlag{0};  // 1 while the worker runs its sequence
    std::atomic<int> m_nRequestStopFlag{0}; // set by Stop and by deletion; never reset
    // The stop flag's value when the item scheduler ends a worker's connection that never
    // answered: its item goes to another connection, so nothing of it is undone here.
    static constexpr int kStopWithdrawn = 2;
    std::atomic<int> m_nThreadEndedFlag{0}; // set when the worker's body has returned
    char m_szLocalIpAddr[16] = {};
    std::atomic<CSyncView*> m_pDlg{nullptr}; // the owning window; not owned
    std::unique_ptr<plat::CWorkerThread> m_pSyncThread;
    DownFileItemList m_DownFileItemList;
    std::string m_strStatusMsg;
    std::unique_ptr<plat::CHttpSession> m_pSession;
    std::unique_ptr<plat::CHttpConnection> m_pConnection;
    const CSyncConfig* m_pConfig = nullptr; // the engine's own copy, from InitSyncEngine
    plat::HttpTimeouts m_httpTimeouts;      // used by InitSyncEngine
    // What the download loop fetched in this run (the list file not counted).
    int m_nDownloadedFiles = 0;
    int m_nLastHttpStatus = 0;        // the status of the last response (0: none)
    int m_nRequestsSent = 0;          // requests this engine sent for items
    std::atomic<int> m_nResponses{0}; // and the responses they brought (read by the scheduler)
    // Trusted mode's tests end the process at a step of the apply.
    std::function<void(int nStep)> m_applyStepHook;
    std::int64_t m_nDownloadedBytes = 0;

private:
    friend void DeleteSyncEngine(CSyncEngine* pEngine);
    // Stops the worker: asks it to stop and waits 5 to 6 seconds for it. True when it has
    // ended (or never ran).
    bool StopSyncThread();
    // DownloadOneFileFromServer, with the content checked against the item's SHA-256 when
    // bVerifyHash (-8 when it does not match or the item has none).
    int DownloadFile(const DownFileItem& item, bool bVerifyHash);
    // Its steps.
    int OpenDownloadRequest(const std::string& path, std::unique_ptr<plat::CHttpRequest>& request);
    int PrepareLocalFile(const DownFileItem& item, CLocalFile& local);
    void KeepPartialFile(const DownFileItem& item, CLocalFile& local);
    int ReceiveBody(plat::CHttpRequest& request, std::FILE* fp, int nExpected,
                    std::int64_t& nReceived, plat::CSha256* pHash);
    int FinishLocalFile(const DownFileItem& item, CLocalFile& local, int nExpected,
                        std::int64_t nReceived, plat::CSha256* pHash,
                        const plat::Sha256Digest& expected);
    // Trusted mode: the signature file at path (below the download base), at most
    // kSignatureMax bytes. False with the reason when there is none to take.
    bool FetchSignature(const std::string& path, std::string& signature, std::string& reason);
    int RefuseListFile(const std::string& unverified, const std::string& reason);
    bool SyncOneItem(DownFileItem& item, int n, int nCount);
    void ShowTotal(int n, int nCount);
    void ShowFileName(const DownFileItem& item);
    // The progress texts, the server information where the list lacks it, and the decision.
    // 1 download, 0 current, -1 the information could not be had.
    int DecideItem(DownFileItem& item, int n, int nCount, const CTargetCheck* pKnown = nullptr);
    // Deletes what a download cut off by the end of its process left beside a current item.
    // Only when a run may have left such files (see LeftOverMarkerPath) is each folder looked
    // at, once per run; only a folder holding such files gets a delete per item.
    void RemoveLeftOverDownload(const std::string& strTargetFile);
    std::map<std::string, bool> m_leftOverFolders; // folder: may hold temporary files
    // "config/KestrelSync.downloads" of the program folder: there while downloads of items
    // may have left temporary files beside their targets. A run creates it before the first
    // such file and removes it when every item came through and left none.
    std::string LeftOverMarkerPath() const;
    void BeginLeftOverCheck();
    void MarkLeftOversPossible();
    void EndLeftOverCheck(bool bAllItemsDone);
    bool m_bLeftOversPossible = true; // an earlier run may have left temporary files
    bool m_bLeftOverMarked = false;   // this engine created the marker in this run
    int m_nLeftOversKept = 0;         // temporary files this engine could not delete
    // CONNECTIONS of the settings (1 to 8); a value that had to be clamped is logged.
    int ConnectionCount() const;
    void LogConnectionsSetting();
    // Runs job for the items 0 to nCount-1, on this engine's connection, or with CONNECTIONS
    // > 1 on that many worker engines at once; then report(index, job's result) on this
    // thread in index order, after what the item showed and logged is played back on this
    // engine's view and log. A stop ends the loop after the item in hand (and the items in
    // flight, which end with it). Returns the number of items reported. Items of the same
    // target (targetOf, when given) are never in flight at once: a later one starts when the
    // earlier one is done, as one after another.
    int ForEachItem(int nCount, const std::function<bool(CSyncEngine& engine, int nIndex)>& job,
                    const std::function<void(int nIndex, bool bOk)>& report,
                    const std::function<std::string(int nIndex)>& targetOf = nullptr);
    // Trusted mode's loop: every decision first, then the room on the volume, every download
    // into the staging folder, and the apply of the whole set when all of them arrived.
    int DownloadFilesTrusted();
    // Its steps. Every item decided: the replacements to fetch and the deletions of the lines
    // that count (counting[i], the line that counts for item i's target); 1, or 0 when an
    // item's information could not be had.
    int DecideTrustedItems(std::vector<DownFileItem*>& toFetch,
                           std::vector<DownFileItem*>& deletions,
                           std::vector<std::size_t>& counting);
    // Room on the staging volume for what is still to be fetched; false when there is not
    // (reported).
    bool HasRoomToStage(const std::vector<DownFileItem*>& toFetch);
    // Every item of toFetch staged and verified; false when one or more failed (reported).
    bool StageAll(const std::vector<DownFileItem*>& toFetch, std::vector<std::string>& stagedPaths);
    // Downloads one item into the staging folder (resuming what an earlier try left) and
    // verifies it there. 0, or the codes of DownloadOneFileFromServer.
    int StageItem(const DownFileItem& item, std::string& staged);
    int DownloadToStaging(const DownFileItem& item, const std::string& staged,
                          const plat::Sha256Digest& expected);
    // Its steps. The GET of path, for the rest from nOffset on (If-Range lastModified) when
    // nOffset > 0, sent and counted, with its status in nStatus; null without a connection.
    std::unique_ptr<plat::CHttpRequest> SendStagingRequest(const std::string& path,
                                                           std::int64_t nOffset,
                                                           const std::string& lastModified,
                                                           int& nStatus);
    // The body (nRest bytes) appended to the partial file (written anew unless bResumed) and
    // hashed into sha while it streams; nReceived counts what arrived. 0, -3 when the partial
    // file cannot be opened or closed, or the codes of ReceiveBody (what arrived stays).
    int ReceiveIntoPartial(plat::CHttpRequest& request, const std::string& partial, bool bResumed,
                           std::int64_t nRest, plat::CSha256& sha, std::int64_t& nReceived);
    // The staged set moved into place as one transaction, with the deletions; false when it
    // was undone (reported).
    bool ApplyStagedFiles(const std::vector<DownFileItem*>& staged,
                          const std::vector<std::string>& stagedPaths,
                          const std::vector<DownFileItem*>& deletions);
    void ReportApplyFailure(int r, const CApplyFailure& failure);
    // Runs attempt, and in trusted mode again after 1, 2, 4 ... seconds (at most 30) while it
    // fails for a transient reason, up to RETRY_COUNT more times. Stop ends a wait at once.
    // bGet: attempt returns the codes of a GET (else those of a HEAD).
    int WithRetries(const std::string& what, bool bGet, const std::function<int()>& attempt);
    bool FetchItemServerInfo(DownFileItem& item);
    // The item's path below the download base, as its HEAD asks for it ("\" as "/").
    std::string ItemUrl(const DownFileItem& item) const;
    void HandleFailedDownload(DownFileItem& item, int r);
    // Deletes a local file; a failure is logged as "<pszWho>> DeleteFile(...) Error" at nLevel
    // with the system's text (not when the file was missing and bQuietWhenMissing is set).
    bool DeleteLocalFile(const std::string& path, const char* pszWho, int nLevel,
                         bool bQuietWhenMissing);

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
