// The local host's network address.
#pragma once

class CSockUtil {
public:
    // Writes the first IPv4 address of the local host name, dotted, into pszAddr (at least
    // 16 characters). 0, or -1 when the host name is unavailable, -2 when it does not
    // resolve (both logged); pszAddr is left alone on failure.
    static int GetLocalIpAddr(char* pszAddr);
};
