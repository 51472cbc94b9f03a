// One rendered capture: start the browser with a throw-away profile, show the page, wait
// until it is loaded and the network is quiet, scroll through it, take the document and end
// the browser, whatever happened.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "packager/fetch/page_source.h"

struct CRenderOptions {
    // The browser and any arguments of its own; the capture's flags are added.
    std::vector<std::string> command;
    // The profile folder: made fresh, removed at the end.
    std::string strProfileFolder;
    // How long the page may take to load and go quiet, in all (the setting RenderTimeout).
    int nSettleMs = 20000;
    // How long any one command may wait for its answer (the first includes the start).
    int nCommandMs = 30000;
    // The network is quiet when no request was open for this long.
    int nQuietMs = 500;
    int nWidth = 1280;
    int nHeight = 1600;
    // Flags for the browser beyond the capture's own.
    std::vector<std::string> extraFlags;
    // Polled while waiting; true ends the capture.
    std::function<bool()> cancelled;
};

// False with the reason in error (empty when cancelled). The browser has ended and its
// profile folder is gone when this returns.
bool CaptureRenderedPage(const std::string& address, const CRenderOptions& options,
                         CRenderedPage& page, std::string& error);
