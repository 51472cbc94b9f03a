// Where a grab takes its main page from when it is not the fetcher: a browser that loaded
// the page and ran its scripts (the rendered capture). The document it hands over is then
// treated as any fetched page: the page pass, the footer, the resources by the fetcher.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packager/fetch/grab_job.h"

// The folder in a work folder that holds the browser's throw-away profile while it runs.
constexpr const char* kBrowserProfileName = "browser-profile";

struct CRenderedDocument {
    std::string strAddress;  // where it was shown from (after redirects): its references' base
    std::string strText;     // the document as HTML, UTF-8
};

// A file the browser loaded while it showed the page, with the kind it gave it ("Font",
// "Image", "Stylesheet", "Document", ...).
struct CLoadedResource {
    std::string strAddress;
    std::string strType;
};

struct CRenderedPage {
    CRenderedDocument page;
    // The documents of the page's same-origin frames, each under the address its frame
    // element now names.
    std::vector<CRenderedDocument> frames;
    std::vector<CLoadedResource> loaded;
    uint32_t nStatus = 0;  // the page's HTTP status; 0 when none was seen
};

class CPageSource {
  public:
    virtual ~CPageSource() = default;
    // Shows address and takes what it shows. workFolder is the grab's: whatever the source
    // writes there for itself is gone again when it returns. A cancel is learnt through
    // job's progress. False with the reason in failure (empty when cancelled).
    virtual bool Capture(const std::string& address, const std::string& workFolder, GrabJob& job,
                         CRenderedPage& page, std::string& failure) = 0;
};
