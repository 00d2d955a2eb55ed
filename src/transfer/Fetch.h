// The one way a body is fetched from the server: one GET on an item lane into a sink.
#pragma once

#include "transfer/BodySink.h"
#include "transfer/ItemLane.h"

#include <cstdint>
#include <string>

struct CFetchSpec {
    std::string strPath; // below the server root, unencoded (as the log names it)
    // The file's length, where the read ends (of a resumed answer, the rest); -1: to its end.
    std::int64_t nExpected = -1;
    // Redirects are logged as this operation's; a quiet fetch (the signature) logs nothing
    // else and leaves the file bar alone.
    const char* pszWho = "CSyncEngine::DownloadOneFileFromServer";
    bool bQuiet = false;
};

struct CFetchResult {
    int nStatus = 0;      // the answer's status, 0 when none came
    std::string strError; // a transport error's text
    std::int64_t nReceived = 0;
};

// 0, or -1 no request could be made, -2 the status (200, or 206 with the rest the sink asked
// for), -6 transport error, -7 stopped, or the sink's codes.
int FetchBody(CItemLane& lane, const CFetchSpec& spec, CBodySink& sink, CFetchResult& result);
