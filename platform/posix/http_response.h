// The response head as libcurl hands it over, one line at a time, gathered into the block
// that the fetcher reads (status line and header lines, each ended by CR LF, then an empty
// line).
//
// Lines and the whole head are bounded, so a server that sends endless or enormous headers
// costs a bounded amount of memory and ends in kBad. A head with a 1xx status is an interim
// answer: the next status line starts the real one. Lines after the final head (the trailer
// of a chunked body) are not part of it.
#pragma once

#include <cstddef>
#include <string>

namespace qb {

class HttpResponseHead {
  public:
    static constexpr size_t kMaxLine = 16384;  // one status or header line
    static constexpr size_t kMaxHead = 65536;  // the whole head
    static constexpr size_t kMaxLines = 200;   // header lines

    enum State { kNeedMore, kDone, kBad };

    // Takes one line as received, with its CR LF or LF (the line must not hold another LF).
    // Returns kDone once the empty line after the final head was seen, kBad for a malformed
    // or oversized head (further calls keep returning kBad), kNeedMore otherwise.
    State FeedLine(const char* data, size_t size);

    State state() const { return m_state; }
    // The numeric status of the status line (valid once kDone).
    int status() const { return m_nStatus; }
    const std::string& rawHeaders() const { return m_strRaw; }

  private:
    State m_state = kNeedMore;
    std::string m_strRaw;
    size_t m_nLines = 0;
    int m_nStatus = 0;
};

// The status of an "HTTP/<version> <3 digits>[ <reason>]" line, or -1 when it is not one.
int ParseStatusLine(const std::string& line);

}  // namespace qb
