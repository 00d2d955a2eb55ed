// Plain TCP streams that never block: connections that are opened, written and read without
// waiting, with one wait over all of them (the connections of pipelined requests).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace plat {

class CTcpStream {
public:
    virtual ~CTcpStream() = default; // closes the connection
    // 1 connected, 0 still connecting, -1 the connection could not be made.
    virtual int Connected() = 0;
    // Bytes the socket took (0 when it takes none now); -1 the connection failed.
    virtual long Send(const char* data, std::size_t size) = 0;
    // Bytes read into buffer; 0 the peer ended the connection; -1 nothing to read now; -2 the
    // connection failed.
    virtual long Receive(char* buffer, std::size_t size) = 0;
    // Ends the sending side (the peer reads the end of the stream) while receiving goes on;
    // false when the connection refuses it.
    virtual bool ShutdownSend() = 0;
};

// Starts a TCP connection to an IPv4 address in dotted form, with small segments sent at
// once. nullptr when no socket could be made or the address is not one.
std::unique_ptr<CTcpStream> StartTcpConnect(const std::string& address, int nPort);

// Waits at most nMs until one of streams has something to read, has ended, or (where
// wantWrite is set) can take data or has finished connecting.
void WaitTcpStreams(const std::vector<CTcpStream*>& streams, const std::vector<bool>& wantWrite,
                    int nMs);

} // namespace plat
