// Where the body of a fetch goes. The fetch owns the request, the status, the sizes, the stop
// and the time-outs; a sink owns what is done with the bytes (written, hashed, limited).
#pragma once

#include "platform/HttpClient.h"

#include <cstddef>
#include <cstdint>

class CBodySink {
public:
    virtual ~CBodySink() = default;
    // Before the request: 0, or a result code that ends the fetch before anything is sent.
    virtual int Ready() { return 0; }
    // The bytes already held from an earlier try: the fetch asks for the rest (0: all).
    virtual std::int64_t Offset() const { return 0; }
    // The validator an answer with the rest must match (If-Range), with an Offset.
    virtual std::string IfRange() const { return std::string(); }
    // The answer is accepted (bResumed: it carries the rest from Offset on). 0, or a result
    // code; a sink that refuses here has undone what it began.
    virtual int Begin(plat::CHttpRequest& request, bool bResumed) = 0;
    // The next bytes of the body: 0, or a result code.
    virtual int Write(const char* pData, std::size_t nSize) = 0;
    // After the body, of which nReceived bytes came in this answer: 0, or a result code (the
    // sink has dealt with what it holds).
    virtual int Finish(std::int64_t nReceived) = 0;
    // The fetch failed with r between Begin and Finish: what the sink keeps of what arrived.
    virtual void Abandon(int /*r*/) {}
};
