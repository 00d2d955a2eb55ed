// Pipelined HEAD requests over plain TCP streams, shared by the HTTP clients of both
// platforms (their PipelineHeads when a connection goes straight to the server).
#pragma once

#include "platform/HttpClient.h"

#include <string>
#include <vector>

namespace plat {

struct HeadPipelineTarget {
    std::string strHost; // name or dotted IPv4 address, as given to Connect
    int nPort = 80;
    std::string strAgent;
};

// CHttpConnection::PipelineHeads for target; false when the host has no IPv4 address.
bool RunHeadPipeline(const HeadPipelineTarget& target, const HttpTimeouts& timeouts,
                     const std::vector<std::string>& objectPaths, const char* const* acceptTypes,
                     const std::vector<std::string>& keepHeaders, int nStreams,
                     std::vector<HttpHeadAnswer>& answers);

} // namespace plat
