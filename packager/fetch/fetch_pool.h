// The files of a grab (pictures, stylesheets, fonts and what the stylesheets name) fetched by
// a small pool of transfers at once. Names come from the plan when a reference is found, and
// stylesheets are read in plan order, so what lands in the work folder is the same whatever
// order the transfers finish in and however many run at once.
#pragma once

#include <cstdint>
#include <string>

#include "packager/fetch/grab_job.h"

class CGrabber;

struct PoolLimits {
    int nMaxConnections = 16;  // transfers at once over all servers
    int nMaxPerServer = 6;     // transfers at once to one server (scheme, host and port)
    // One answer longer than this is abandoned ("too large"), and so is every file that
    // would take the grab as a whole (pages included) past the second bound.
    uint64_t nMaxResourceBytes = 256ull << 20;
    uint64_t nMaxGrabBytes = 2ull << 30;
};

// The limits from the settings store (section "Settings": MaxConnections,
// MaxConnectionsPerServer, MaxResourceBytes, MaxGrabBytes); a missing or unusable value
// keeps its default.
PoolLimits ReadPoolLimits();

// Fetches every pending file of the grabber's plan into folder and records each outcome in
// the plan. Runs on the grab's thread, which alone touches the plan, reports progress
// ("Loading images (<finished> of <known>)") and shows any password prompt. False when the
// progress callback asked to stop: every transfer is stopped and its partial file removed.
bool FetchPlanFiles(CGrabber& grabber, const std::string& folder, GrabJob& job,
                    const PoolLimits& limits);
