// The report a run sends when "REPORT" is "1": one GET of
// "<base>/_report?id=..&serial=..&result=..&cause=..&bytes=..&ms=..&v=.." on the download
// server, which any static server writes to its access log whatever it answers. The id is the
// workstation's random identifier (never a host or user name). Bounded to about 3 seconds;
// a failure is logged at level 3 and changes nothing else.
#pragma once

#include "config/SyncConfig.h"
#include "engine/RunReport.h"
#include "transfer/ServerList.h"

#include <memory>

#include <string>

// The request's path below the server root, its values escaped.
std::string FleetReportPath(const CSyncConfig& config, const std::string& identifier,
                            const CRunReport& report);

// Sends the report when the settings ask for it.
void SendFleetReport(const CSyncConfig& config, const CRunReport& report,
                     std::shared_ptr<CServerList> pServers = nullptr);
