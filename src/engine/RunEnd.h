// The end of every run: what it came to (RunReport.h) composed from the engine's counts, its
// first failure and its outcome, then the result file, the event and the fleet report.
#pragma once

#include "engine/RunReport.h"

#include <cstdint>

class CSyncEngine;

// The run that started at nStartedMs (UTC) ended with nOutcome (kSyncDone...): its report
// kept in the engine and published. Before the outcome is posted, so that a window that
// closes on it finds the report written.
void EndRunWithReport(CSyncEngine& engine, std::int64_t nStartedMs, int nOutcome);

// What a run came to: no run (nOutcome -1: it could not begin, its system information
// failed), stopped, failed (a failure was met, or the outcome is not complete),
// updated (files were downloaded) or current.
const char* RunResultOf(bool bStopped, bool bFailed, int nOutcome, int nDownloadedFiles);
