// Pipelined HEAD requests: up to kDepth requests written ahead on each stream, the answers
// read back in order (HTTP/1.1 answers a connection's requests in the order they came).
//
// Answers are assigned by their order alone, so one surplus answer shifts every later one onto
// the wrong path. A connection's answers therefore stand only once it has shown one answer per
// request: it ended (or, half-closed after its last expected answer, stayed quiet for kQuietMs)
// with no byte beyond them. A connection that sends anything else (more answers than requests,
// bytes after the last one, a head the one-by-one clients might refuse, an answer cut off) or
// that stops answering has all of its answers withdrawn and its paths left to be asked one by
// one, and its stream ends.
#include "platform/HttpPipeline.h"

#include "platform/HttpHeadParser.h"
#include "platform/HttpPath.h"
#include "platform/Network.h"
#include "platform/Socket.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <string_view>

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kDepth = 256;   // requests in flight on one stream
constexpr int kSliceMs = 100;         // the stop flag is looked at this often
constexpr int kFirstAnswerMs = 3000;  // the wait of the whole pipeline for its first answers
constexpr int kQuietMs = 500;         // the wait for a half-closed connection's end
constexpr std::size_t kBlock = 65536; // one receive
constexpr int kBlocksPerStep = 4;     // receives of one stream before the clocks are read

struct CStream {
    std::unique_ptr<CTcpStream> tcp; // none while closed
    bool bConnecting = false;
    bool bSendFailed = false;
    bool bQuiet = false;     // nothing more may come: the sending side is shut, the end awaited
    bool bRetired = false;   // never opened again
    Clock::time_point since; // the connection's start, its last answer or its half-close
    std::string out;         // requests not yet taken by the socket
    std::size_t nOutPos = 0;
    std::deque<std::size_t> inFlight; // the paths asked for and not answered, in order
    std::vector<std::size_t> given;   // the paths this connection answered, not yet confirmed
    std::string in;                   // what came and is not yet taken as answers
    int nAnswered = 0;                // answers on all of the stream's connections
};

class CPipeline {
public:
    CPipeline(const std::string& address, int nPort, const HttpTimeouts& timeouts,
              const std::vector<std::string>& keepHeaders, std::vector<HttpHeadAnswer>& answers)
        : m_strAddress(address), m_nPort(nPort), m_timeouts(timeouts), m_parser(keepHeaders),
          m_answers(answers) {}

    void Run(const std::vector<std::string>& requests, int nStreams) {
        for (std::size_t i = 0; i < requests.size(); ++i)
            m_todo.push_back(i);
        m_streams.resize(static_cast<std::size_t>(
            std::max(1, std::min<int>(nStreams, static_cast<int>(requests.size())))));
        for (CStream& stream : m_streams)
            Open(stream);
        std::vector<char> block(kBlock);
        std::vector<CTcpStream*> waitOn;
        std::vector<bool> wantWrite;
        while (!Stopped() && Prepare(requests, waitOn, wantWrite)) {
            WaitTcpStreams(waitOn, wantWrite, kSliceMs);
            const Clock::time_point now = Clock::now();
            for (CStream& stream : m_streams) {
                if (stream.tcp)
                    Step(stream, block, now);
            }
            EndFirstWait(now);
            HandOverHeld();
        }
        for (CStream& stream : m_streams)
            Withdraw(stream); // no clean end confirmed them
    }

private:
    bool Stopped() const { return m_timeouts.pStopFlag != nullptr && *m_timeouts.pStopFlag != 0; }

    // Opens streams for waiting requests, writes, and lists what to wait on; false when
    // nothing is left to do.
    bool Prepare(const std::vector<std::string>& requests, std::vector<CTcpStream*>& waitOn,
                 std::vector<bool>& wantWrite) {
        waitOn.clear();
        wantWrite.clear();
        bool bBusy = !m_todo.empty();
        for (CStream& stream : m_streams) {
            if (!stream.tcp && !stream.bRetired && !m_todo.empty())
                Open(stream);
            if (stream.tcp && !stream.bConnecting && !stream.bQuiet && !stream.bSendFailed)
                Write(stream, requests);
            if (!stream.tcp)
                continue;
            if (!stream.bQuiet && stream.inFlight.empty() && !stream.given.empty())
                BeQuiet(stream, Clock::now()); // it answered all and is given no more
            bBusy = bBusy || !stream.inFlight.empty() || stream.bQuiet;
            waitOn.push_back(stream.tcp.get());
            wantWrite.push_back(stream.bConnecting || stream.nOutPos < stream.out.size());
        }
        return bBusy && !waitOn.empty();
    }

    void Open(CStream& stream) {
        stream.tcp = StartTcpConnect(m_strAddress, m_nPort);
        stream.bRetired = stream.tcp == nullptr;
        stream.bConnecting = true;
        stream.bSendFailed = false;
        stream.bQuiet = false;
        stream.since = Clock::now();
        stream.out.clear();
        stream.nOutPos = 0;
        stream.in.clear();
    }

    void Close(CStream& stream, bool bRetire) {
        stream.tcp.reset();
        stream.bRetired = stream.bRetired || bRetire;
    }

    // The connection's answers are taken back: they stay unknown.
    void Withdraw(CStream& stream) {
        for (const std::size_t i : stream.given)
            m_answers[i] = HttpHeadAnswer();
        stream.given.clear();
    }

    // The stream's unanswered requests go back to the front of the queue.
    void Requeue(CStream& stream) {
        m_todo.insert(m_todo.begin(), stream.inFlight.begin(), stream.inFlight.end());
        stream.inFlight.clear();
    }

    // A stream that could not connect or never answered hands its requests to the others.
    void GiveUp(CStream& stream) {
        Withdraw(stream);
        Requeue(stream);
        Close(stream, true);
    }

    // The connection did not give one answer per request: nothing it said is taken, and its
    // paths are asked one by one.
    void Break(CStream& stream) {
        Withdraw(stream);
        stream.inFlight.clear();
        Close(stream, true);
    }

    // The connection ended with whole answers only: they stand. A stream whose connection
    // brought answers is opened again for requests still waiting (a server that ends a
    // connection after so many requests); one that brought none hands them over.
    void Ended(CStream& stream) {
        if (!stream.in.empty()) {
            Break(stream); // an answer cut off
            return;
        }
        const bool bAnswered = !stream.given.empty();
        stream.given.clear();
        Requeue(stream);
        Close(stream, !bAnswered);
    }

    void Write(CStream& stream, const std::vector<std::string>& requests) {
        if (stream.inFlight.empty() && !m_todo.empty()) {
            stream.since = Clock::now(); // the wait for an answer starts now
            if (!m_bFirstWait && m_nAnswers == 0) {
                m_bFirstWait = true;
                m_firstDeadline =
                    stream.since + std::chrono::milliseconds(
                                       std::max(1, std::min(m_timeouts.nHeadMs, kFirstAnswerMs)));
            }
        }
        while (stream.inFlight.size() < kDepth && !m_todo.empty()) {
            const std::size_t i = m_todo.front();
            m_todo.pop_front();
            stream.out += requests[i];
            stream.inFlight.push_back(i);
        }
        if (stream.nOutPos >= stream.out.size())
            return;
        const long n = stream.tcp->Send(stream.out.data() + stream.nOutPos,
                                        stream.out.size() - stream.nOutPos);
        if (n < 0) {
            // What the server sent before it ended the connection is read all the same.
            stream.bSendFailed = true;
            return;
        }
        stream.nOutPos += static_cast<std::size_t>(n);
        if (stream.nOutPos == stream.out.size()) {
            stream.out.clear();
            stream.nOutPos = 0;
        }
    }

    void Connecting(CStream& stream, Clock::time_point now) {
        const int nState = stream.tcp->Connected();
        if (nState < 0 ||
            (nState == 0 && now - stream.since > std::chrono::milliseconds(m_timeouts.nConnectMs)))
            GiveUp(stream);
        if (nState > 0) {
            stream.bConnecting = false;
            stream.since = now;
        }
    }

    // Reads and takes what came, a bounded amount at a time, then looks at the clock.
    void Step(CStream& stream, std::vector<char>& block, Clock::time_point now) {
        if (stream.bConnecting) {
            Connecting(stream, now);
            return;
        }
        for (int i = 0; i < kBlocksPerStep; ++i) {
            const long n = stream.tcp->Receive(block.data(), block.size());
            if (n == -1)
                break;
            if (n <= 0) {
                Ended(stream);
                return;
            }
            stream.in.append(block.data(), static_cast<std::size_t>(n));
            if (!TakeAnswers(stream, now))
                return;
        }
        CheckClock(stream, now);
    }

    // Takes the whole answers at the start of stream.in; false when the stream broke.
    bool TakeAnswers(CStream& stream, Clock::time_point now) {
        std::size_t pos = 0;
        HttpResponseHead head;
        while (pos < stream.in.size()) {
            if (stream.bQuiet || stream.inFlight.empty()) {
                Break(stream); // bytes beyond the answers to the requests
                return false;
            }
            const long length = m_parser.Parse(std::string_view(stream.in).substr(pos), head);
            if (length == kHeadIncomplete)
                break;
            if (length == kHeadRefused) {
                Break(stream);
                return false;
            }
            pos += static_cast<std::size_t>(length);
            if (head.nStatus < 200)
                continue; // an interim answer, no progress: the final one follows
            Take(stream, head, now);
            if (!head.bKeepAlive)
                BeQuiet(stream, now);
        }
        stream.in.erase(0, pos);
        return true;
    }

    void Take(CStream& stream, HttpResponseHead& head, Clock::time_point now) {
        const std::size_t i = stream.inFlight.front();
        stream.inFlight.pop_front();
        m_answers[i].nStatus = head.nStatus;
        m_answers[i].headers = std::move(head.headers);
        stream.given.push_back(i);
        ++stream.nAnswered;
        ++m_nAnswers;
        stream.since = now;
    }

    // No more bytes may come: the server is told that nothing more is asked, and its end (or
    // a quiet kQuietMs) confirms the connection's answers.
    void BeQuiet(CStream& stream, Clock::time_point now) {
        stream.bQuiet = true;
        stream.since = now;
        stream.tcp->ShutdownSend();
    }

    void CheckClock(CStream& stream, Clock::time_point now) {
        if (stream.bSendFailed && stream.inFlight.empty()) {
            Ended(stream); // answered what it took; it can take no more
            return;
        }
        if (stream.bQuiet) {
            if (now - stream.since > std::chrono::milliseconds(kQuietMs))
                Ended(stream);
            return;
        }
        // The first answer of a stream is awaited by EndFirstWait.
        if (stream.inFlight.empty() || stream.nAnswered == 0)
            return;
        const int nLimitMs =
            std::max(1, std::min(m_timeouts.nHeadMs, std::max(m_timeouts.nReceiveMs, 1)));
        if (now - stream.since > std::chrono::milliseconds(nLimitMs))
            Break(stream);
    }

    // When the first answers' wait is over, the streams that never answered are given up all
    // at once: with no answer anywhere, every path is asked one by one.
    void EndFirstWait(Clock::time_point now) {
        if (!m_bFirstWait || now < m_firstDeadline)
            return;
        m_bFirstWait = false;
        m_firstDeadline = Clock::time_point::max();
        for (CStream& stream : m_streams) {
            if (!stream.bRetired && stream.nAnswered == 0)
                GiveUp(stream);
        }
    }

    // When nothing is left to send, the streams that never brought an answer (a server that
    // holds a second connection until the first ends) give their requests to one that answers
    // and has nothing in flight.
    void HandOverHeld() {
        if (!m_todo.empty())
            return;
        const bool bIdle = std::any_of(m_streams.begin(), m_streams.end(), [](const CStream& s) {
            return !s.bRetired && !s.bConnecting && s.nAnswered > 0 && s.inFlight.empty();
        });
        const bool bHeld = std::any_of(m_streams.begin(), m_streams.end(), [](const CStream& s) {
            return !s.bRetired && s.nAnswered == 0 && !s.inFlight.empty();
        });
        if (!bIdle || !bHeld)
            return;
        for (CStream& stream : m_streams) {
            if (!stream.bRetired && stream.nAnswered == 0)
                GiveUp(stream);
        }
    }

    std::string m_strAddress;
    int m_nPort;
    const HttpTimeouts& m_timeouts;
    CHttpHeadParser m_parser;
    std::vector<HttpHeadAnswer>& m_answers;
    std::deque<std::size_t> m_todo;
    std::vector<CStream> m_streams;
    int m_nAnswers = 0;
    bool m_bFirstWait = false;
    Clock::time_point m_firstDeadline = Clock::time_point::max();
};

} // namespace

bool HttpHeadAnswer::QueryHeader(const std::string& name, std::string& value) const {
    for (const auto& header : headers) {
        if (EqualNoCase(header.first, name)) {
            value = header.second;
            return true;
        }
    }
    return false;
}

bool RunHeadPipeline(const HeadPipelineTarget& target, const HttpTimeouts& timeouts,
                     const std::vector<std::string>& objectPaths, const char* const* acceptTypes,
                     const std::vector<std::string>& keepHeaders, int nStreams,
                     std::vector<HttpHeadAnswer>& answers) {
    answers.assign(objectPaths.size(), HttpHeadAnswer());
    std::string address;
    if (!ResolveFirstIpv4(target.strHost, address))
        return false;
    // The lines libcurl sends for a HEAD, in its order.
    std::string tail = " HTTP/1.1\r\nHost: " + target.strHost;
    if (target.nPort != 80)
        tail += ":" + std::to_string(target.nPort);
    tail += "\r\nUser-Agent: " + target.strAgent + "\r\n";
    for (const char* const* type = acceptTypes; type && *type; ++type)
        tail += (type == acceptTypes ? "Accept: " : ", ") + std::string(*type);
    if (acceptTypes != nullptr && *acceptTypes != nullptr)
        tail += "\r\n";
    tail += "\r\n";
    std::vector<std::string> requests;
    requests.reserve(objectPaths.size());
    for (const std::string& path : objectPaths)
        requests.push_back("HEAD " + HttpRequestPath(path) + tail);
    CPipeline(address, target.nPort, timeouts, keepHeaders, answers).Run(requests, nStreams);
    return true;
}

} // namespace plat
