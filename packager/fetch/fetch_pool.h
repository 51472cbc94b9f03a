// The files of a grab (pictures, stylesheets, fonts and what the stylesheets name) fetched by
// a small pool of transfers at once. Names come from the plan when a reference is found, and
// stylesheets are read in plan order, so what lands in the work folder is the same whatever
// order the transfers finish in and however many run at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_options.h"

class CFetcher;
class CGrab;

// What bounds the transfers of one grab together: a stop, and the bytes of the grab as a
// whole (each grab counts its own).
struct CGrabTally {
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> bytes{0};
    uint64_t nMax = UINT64_MAX;
};

// What fetching one file of the plan came to.
struct CFileOutcome {
    bool bRefused = false;   // the server wants a password the fetcher did not give
    std::string strFailure;  // empty when the file was saved
    std::string strBody;     // a stylesheet's text (it is written once the CSS pass read it)
    std::string strBase;     // the address it came from after redirects
};

// Fetches address with fetcher: a stylesheet into memory, any other file to destination
// (an empty answer leaves no file), within limit bytes and the tally's bounds (none when
// null). Only a 2xx answer is saved; touches no plan, so it runs on any thread.
CFileOutcome FetchFile(CFetcher& fetcher, const std::string& address,
                       const std::string& destination, bool stylesheet, uint64_t limit,
                       CGrabTally* tally);

class CPoolRun;

// The files of a grab's plan (pictures, stylesheets with what they import, fonts, other
// files) fetched into folder by a pool of transfers, within the connection and size bounds
// of options. Driven from the grab's thread, which alone touches the plan, reports progress
// ("Loading images (<finished> of <known>)") and shows any password prompt.
class CGrabFiles {
  public:
    enum class Turn { More, Done, Stopped };

    CGrabFiles(CGrab& grab, const std::string& folder, GrabJob& job, const CGrabOptions& options);
    ~CGrabFiles();
    CGrabFiles(const CGrabFiles&) = delete;
    CGrabFiles& operator=(const CGrabFiles&) = delete;

    // One turn: hands the plan's new files to free transfers, records what arrived, and
    // reads the stylesheets and copies the local files that are next in plan order (which
    // appends what they name). Then waits a little for a transfer. Done when every file of
    // the plan has its outcome; Stopped when the progress callback asked to stop: every
    // transfer is then stopped and its partial file removed.
    Turn Next();

  private:
    std::unique_ptr<CPoolRun> m_pRun;
};
