#include "diag/SockUtil.h"

#include "diag/MyLog.h"
#include "platform/Network.h"

#include <cstdio>

namespace {

// Room for any host name the system gives (255 bytes and the terminator).
constexpr std::size_t kHostNameBuffer = 256;

} // namespace

int CSockUtil::GetLocalIpAddr(char* pszAddr) {
    std::string host;
    if (!plat::GetLocalHostName(host, kHostNameBuffer)) {
        WriteLog(g_pMyLog, 4, "CSockUtil::GetLocalIpAddr> gethostname() Fail, ErrCode = %d",
                 plat::LastSocketError());
        return -1;
    }
    std::string address;
    if (!plat::ResolveFirstIpv4(host, address)) {
        WriteLog(g_pMyLog, 4, "CSockUtil::GetLocalIpAddr> gethostbyname() Fail, ErrCode = %d",
                 plat::LastSocketError());
        return -2;
    }
    std::snprintf(pszAddr, 16, "%s", address.c_str());
    return 0;
}
