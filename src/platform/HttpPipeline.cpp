// Pipelined HEAD requests: up to kDepth requests written ahead on each stream, the answers
// read back in order (HTTP/1.1 answers a connection's requests in the order they came).
#include "platform/HttpPipeline.h"

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

constexpr std::size_t kDepth = 256;     // requests in flight on one stream
constexpr int kSliceMs = 100;           // the stop flag is looked at this often
constexpr int kFirstAnswerMs = 3000;    // a stream without any answer by then is given up
constexpr std::size_t kHeadMax = 65536; // longest response head taken

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool HasToken(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (EqualNoCase(Trim(list.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

struct CParsedHead {
    int nStatus = 0;
    bool bKeepAlive = true;
    std::vector<std::pair<std::string, std::string>> headers;
};

constexpr std::size_t kIncomplete = 0;
constexpr std::size_t kNotHttp = std::string::npos;

// The response head at the start of text: its length with the blank line that ends it,
// kIncomplete when it has not all come, kNotHttp when text is no HTTP/1.x response.
std::size_t ParseHead(std::string_view text, const std::vector<std::string>& keep,
                      CParsedHead& head) {
    head = CParsedHead();
    std::size_t pos = 0;
    bool bFirst = true;
    bool bHttp10 = false;
    for (;;) {
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            return text.size() > kHeadMax ? kNotHttp : kIncomplete;
        const std::string_view line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (bFirst) {
            // "HTTP/1.1 200 OK"
            if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || line[8] != ' ')
                return kNotHttp;
            for (std::size_t i = 9; i < 12; ++i) {
                if (line[i] < '0' || line[i] > '9')
                    return kNotHttp;
                head.nStatus = head.nStatus * 10 + (line[i] - '0');
            }
            if (line.size() > 12 && line[12] != ' ')
                return kNotHttp;
            bHttp10 = line[7] == '0';
            head.bKeepAlive = !bHttp10;
            bFirst = false;
            continue;
        }
        if (line.empty())
            return pos;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return kNotHttp;
        const std::string_view name = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (EqualNoCase(name, "Connection")) {
            if (HasToken(value, "close"))
                head.bKeepAlive = false;
            else if (bHttp10 && HasToken(value, "keep-alive"))
                head.bKeepAlive = true;
        }
        if (std::any_of(keep.begin(), keep.end(),
                        [&](const std::string& kept) { return EqualNoCase(kept, name); }))
            head.headers.emplace_back(std::string(name), std::string(value));
    }
}

struct CStream {
    std::unique_ptr<CTcpStream> tcp; // none once given up
    bool bConnecting = false;
    Clock::time_point since; // the connection's start, or its last answer
    std::string out;         // requests not yet taken by the socket
    std::size_t nOutPos = 0;
    std::deque<std::size_t> inFlight; // the paths asked for, in order
    std::string in;                   // what came and is not yet taken as answers
    int nAnsweredHere = 0;            // answers on the current connection
    int nAnswered = 0;                // answers on all of the stream's connections
};

class CPipeline {
public:
    CPipeline(const std::string& address, int nPort, const HttpTimeouts& timeouts,
              const std::vector<std::string>& keepHeaders, std::vector<HttpHeadAnswer>& answers)
        : m_strAddress(address), m_nPort(nPort), m_timeouts(timeouts), m_keep(keepHeaders),
          m_answers(answers) {}

    void Run(const std::vector<std::string>& requests, int nStreams) {
        for (std::size_t i = 0; i < requests.size(); ++i)
            m_todo.push_back(i);
        m_streams.resize(static_cast<std::size_t>(
            std::max(1, std::min<int>(nStreams, static_cast<int>(requests.size())))));
        for (CStream& stream : m_streams)
            Open(stream);
        std::vector<char> block(65536);
        while (!Stopped()) {
            std::vector<CTcpStream*> waitOn;
            std::vector<bool> wantWrite;
            bool bBusy = !m_todo.empty();
            for (CStream& stream : m_streams) {
                if (!stream.tcp)
                    continue;
                if (!stream.bConnecting)
                    Write(stream, requests);
                if (!stream.tcp)
                    continue;
                bBusy = bBusy || !stream.inFlight.empty();
                waitOn.push_back(stream.tcp.get());
                wantWrite.push_back(stream.bConnecting || stream.nOutPos < stream.out.size());
            }
            if (!bBusy || waitOn.empty() || m_bBroken)
                break;
            WaitTcpStreams(waitOn, wantWrite, kSliceMs);
            const Clock::time_point now = Clock::now();
            for (CStream& stream : m_streams) {
                if (stream.tcp)
                    Read(stream, block, now);
                if (m_bBroken)
                    break;
            }
            HandOverHeld();
        }
    }

private:
    bool Stopped() const { return m_timeouts.pStopFlag != nullptr && *m_timeouts.pStopFlag != 0; }

    void Open(CStream& stream) {
        stream.tcp = StartTcpConnect(m_strAddress, m_nPort);
        stream.bConnecting = true;
        stream.since = Clock::now();
        stream.out.clear();
        stream.nOutPos = 0;
        stream.in.clear();
        stream.nAnsweredHere = 0;
    }

    // The stream's unanswered requests go back to the front of the queue.
    void Requeue(CStream& stream) {
        m_todo.insert(m_todo.begin(), stream.inFlight.begin(), stream.inFlight.end());
        stream.inFlight.clear();
    }

    void GiveUp(CStream& stream) {
        Requeue(stream);
        stream.tcp.reset();
    }

    // The connection ended: opened again when it brought answers (a server that ends a
    // connection after so many requests), else given up.
    void Lost(CStream& stream) {
        const bool bAgain = stream.nAnsweredHere > 0;
        GiveUp(stream);
        if (bAgain && !m_todo.empty())
            Open(stream);
    }

    void Write(CStream& stream, const std::vector<std::string>& requests) {
        if (stream.inFlight.empty() && !m_todo.empty())
            stream.since = Clock::now(); // the wait for an answer starts now
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
            Lost(stream);
            return;
        }
        stream.nOutPos += static_cast<std::size_t>(n);
        if (stream.nOutPos == stream.out.size()) {
            stream.out.clear();
            stream.nOutPos = 0;
        }
    }

    void Read(CStream& stream, std::vector<char>& block, Clock::time_point now) {
        if (stream.bConnecting) {
            const int nState = stream.tcp->Connected();
            if (nState < 0) {
                GiveUp(stream);
                return;
            }
            if (nState == 0) {
                if (now - stream.since > std::chrono::milliseconds(m_timeouts.nConnectMs))
                    GiveUp(stream);
                return;
            }
            stream.bConnecting = false;
            stream.since = now;
            return;
        }
        bool bEnded = false;
        for (;;) {
            const long n = stream.tcp->Receive(block.data(), block.size());
            if (n == -1)
                break;
            if (n <= 0) {
                bEnded = true;
                break;
            }
            stream.in.append(block.data(), static_cast<std::size_t>(n));
        }
        // What came before the end of a connection is taken all the same.
        std::size_t pos = 0;
        CParsedHead head;
        for (bool bLast = false; !bLast;) {
            const std::size_t length =
                ParseHead(std::string_view(stream.in).substr(pos), m_keep, head);
            if (length == kIncomplete)
                break;
            if (length == kNotHttp || stream.inFlight.empty()) {
                // Not answers to HEAD requests one after another: nothing more is taken from
                // this server; what it answered so far stands.
                m_bBroken = true;
                break;
            }
            pos += length;
            if (head.nStatus < 200)
                continue; // an interim answer; the final one follows
            HttpHeadAnswer& answer = m_answers[stream.inFlight.front()];
            stream.inFlight.pop_front();
            answer.nStatus = head.nStatus;
            answer.headers = std::move(head.headers);
            ++stream.nAnsweredHere;
            ++stream.nAnswered;
            stream.since = now;
            if (!head.bKeepAlive)
                bEnded = bLast = true; // nothing after this answer is for us
        }
        stream.in.erase(0, pos);
        if (bEnded) {
            Lost(stream);
            return;
        }
        const int nLimitMs = stream.nAnswered == 0 ? std::min(m_timeouts.nHeadMs, kFirstAnswerMs)
                                                   : std::max(m_timeouts.nReceiveMs, 1);
        if (!stream.inFlight.empty() && now - stream.since > std::chrono::milliseconds(nLimitMs))
            GiveUp(stream);
    }

    // When nothing is left to send, a stream that never brought an answer (a server that
    // holds a second connection until the first ends) gives its requests to one that answers
    // and has nothing in flight.
    void HandOverHeld() {
        if (!m_todo.empty())
            return;
        const auto idle = std::find_if(m_streams.begin(), m_streams.end(), [](const CStream& s) {
            return s.tcp && !s.bConnecting && s.nAnswered > 0 && s.inFlight.empty();
        });
        if (idle == m_streams.end())
            return;
        for (CStream& stream : m_streams) {
            if (stream.tcp && stream.nAnswered == 0 && !stream.inFlight.empty())
                GiveUp(stream);
        }
    }

    std::string m_strAddress;
    int m_nPort;
    const HttpTimeouts& m_timeouts;
    const std::vector<std::string>& m_keep;
    std::vector<HttpHeadAnswer>& m_answers;
    std::deque<std::size_t> m_todo;
    std::vector<CStream> m_streams;
    bool m_bBroken = false;
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
