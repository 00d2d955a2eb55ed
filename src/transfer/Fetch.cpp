#include "transfer/Fetch.h"

#include "diag/MyLog.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace {

// The block the size check and the stop check work in, and the size of one read.
constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kReadSize = 64 * 1024;
// The file bar changes at most this often (and at the end).
constexpr auto kProgressInterval = std::chrono::milliseconds(50);

// True when a 206 answer carries the rest of the file from nOffset on.
bool AnswersRangeFrom(plat::CHttpRequest& request, std::int64_t nOffset) {
    std::string range;
    const std::string from = "bytes " + std::to_string(nOffset) + "-";
    return request.QueryHeader("Content-Range", range) && range.compare(0, from.size(), from) == 0;
}

// Sends the GET (for the rest from the sink's offset, when it has one) and checks the status.
// 0 with the request, or -1, -2.
int Request(CItemLane& lane, const CFetchSpec& spec, CBodySink& sink,
            std::unique_ptr<plat::CHttpRequest>& request, bool& bResumed, CFetchResult& result) {
    request = lane.conn.OpenRequest("GET", spec.strPath);
    if (request == nullptr) {
        if (!spec.bQuiet)
            WriteLog(g_pMyLog, 4,
                     "CCobaltSyncEngine::DownloadOneFileFromServer> OpenRequest() Return NULL");
        return -1;
    }
    const std::int64_t nOffset = sink.Offset();
    if (nOffset > 0) {
        // The rest of what an earlier try left, if the file is still the one it began.
        request->AddHeader("Range: bytes=" + std::to_string(nOffset) + "-");
        request->AddHeader("If-Range: " + sink.IfRange());
    }
    result.nStatus = lane.conn.Send(*request, spec.pszWho);
    bResumed = nOffset > 0 && result.nStatus == 206 && AnswersRangeFrom(*request, nOffset);
    if (bResumed || result.nStatus == 200)
        return 0;
    if (!spec.bQuiet)
        WriteLog(g_pMyLog, 4,
                 "CCobaltSyncThread::DownloadOneFileFromServer> QueryInfoStatusCode(%s) Return = "
                 "%d",
                 spec.strPath.c_str(), result.nStatus);
    return -2;
}

// How much of a read of nRead bytes is taken: a body longer than expected is cut after the
// block that reaches the expected size, and a stop takes one block more at most.
std::size_t TakenOfRead(std::size_t nRead, std::int64_t nExpected, std::int64_t nReceived,
                        bool bStop) {
    std::size_t nTake = nRead;
    const std::int64_t nMissing = nExpected - nReceived;
    if (nExpected >= 0 && static_cast<std::int64_t>(nRead) > nMissing) {
        const std::size_t nBlocks =
            (static_cast<std::size_t>(nMissing) + kBlockSize - 1) / kBlockSize;
        nTake = std::min(nRead, nBlocks * kBlockSize);
    }
    return bStop ? std::min(nTake, kBlockSize) : nTake;
}

// Copies the body into the sink until nExpected bytes (-1: all) arrived or the body ends. The file
// bar moves when its percentage changes, at most about 20 times a second, and at the end.
// 0, -7 stop requested, or the sink's code. Raises CHttpError.
int Receive(CItemLane& lane, const CFetchSpec& spec, plat::CHttpRequest& request, CBodySink& sink,
            std::int64_t nExpected, std::int64_t& nReceived) {
    std::vector<char> buf(kReadSize);
    int nShown = 0;
    auto lastShown = std::chrono::steady_clock::now();
    while (nExpected < 0 || nReceived < nExpected) {
        const std::size_t nRead = request.Read(buf.data(), buf.size());
        if (nRead == 0)
            break;
        const bool bStop = lane.stop != 0;
        const std::size_t nTake = TakenOfRead(nRead, nExpected, nReceived, bStop);
        nReceived += static_cast<std::int64_t>(nTake);
        if (const int r = sink.Write(buf.data(), nTake))
            return r;
        const int nPos = nExpected > 0 ? static_cast<int>(nReceived * 100 / nExpected) : 0;
        const auto now = std::chrono::steady_clock::now();
        if (!spec.bQuiet && nPos != nShown &&
            (nPos >= 100 || now - lastShown >= kProgressInterval)) {
            nShown = nPos;
            lastShown = now;
            lane.View().SetFilePos(nPos);
        }
        if (bStop || lane.stop != 0) {
            WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = %d",
                     lane.stop.load());
            return -7;
        }
    }
    const int nFinal = nExpected > 0 ? static_cast<int>(nReceived * 100 / nExpected) : 0;
    if (!spec.bQuiet && nFinal != nShown)
        lane.View().SetFilePos(nFinal);
    return 0;
}

// The answer's body into the sink, once the sink has begun. 0, or a result code.
int Transfer(CItemLane& lane, const CFetchSpec& spec, plat::CHttpRequest& request, CBodySink& sink,
             bool bResumed, CFetchResult& result) {
    if (const int r = sink.Begin(request, bResumed))
        return r;
    if (!spec.bQuiet) {
        lane.View().SetFileRange(0, 100);
        lane.View().SetFilePos(0);
    }
    // A resumed answer carries the rest of the file only.
    const std::int64_t nExpected =
        spec.nExpected >= 0 && bResumed ? spec.nExpected - sink.Offset() : spec.nExpected;
    const int r = Receive(lane, spec, request, sink, nExpected, result.nReceived);
    if (r != 0) {
        sink.Abandon(r);
        return r;
    }
    request.Close();
    return sink.Finish(result.nReceived);
}

} // namespace

int FetchBody(CItemLane& lane, const CFetchSpec& spec, CBodySink& sink, CFetchResult& result) {
    if (!spec.bQuiet)
        WriteLog(g_pMyLog, 1, "CCobaltSyncEngine::DownloadOneFileFromServer> File URL = %s",
                 spec.strPath.c_str());
    if (const int r = sink.Ready())
        return r;
    bool bBegun = false;
    try {
        std::unique_ptr<plat::CHttpRequest> request;
        bool bResumed = false;
        if (const int r = Request(lane, spec, sink, request, bResumed, result))
            return r;
        bBegun = true;
        return Transfer(lane, spec, *request, sink, bResumed, result);
    } catch (const plat::CHttpError& error) {
        result.strError = HttpErrorText(error);
        const int r = error.Code() == plat::kHttpErrStopped ? -7 : -6;
        if (!spec.bQuiet && r == -7)
            WriteLog(g_pMyLog, 1, "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = %d",
                     lane.stop.load());
        else if (!spec.bQuiet)
            WriteLog(g_pMyLog, 4, "CSyncEngine::DownloadOneFileFromServer> ErrMsg = %s",
                     result.strError.c_str());
        if (bBegun)
            sink.Abandon(r);
        return r;
    }
}
