// Parser of an HTTP/1.x response head (status line and header lines).
//
// Incremental: bytes are fed as they arrive; the parser takes only the bytes
// of the head and says how many it took, so the rest is the start of the body.
// Lines and the whole head are bounded, so a server that sends endless or
// enormous headers costs a bounded amount of memory and ends in kBad.
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

    // Takes bytes of the head from data[0..size); *used receives how many were
    // taken (all of them unless the head ended inside). Returns kDone once the
    // empty line after the headers was seen, kBad for a malformed or oversized
    // head (further calls keep returning kBad), kNeedMore otherwise.
    State Feed(const char* data, size_t size, size_t* used);

    // Ends the input early (the server closed): a head that has not ended is kBad.
    State Finish();

    State state() const { return m_state; }
    // The numeric status of the status line (valid once kDone).
    int status() const { return m_nStatus; }
    // Status line and headers, each line ended by CR LF, then an empty CR LF line.
    const std::string& rawHeaders() const { return m_strRaw; }
    // The Content-Length value, or -1 when there is none or it is not a number.
    long long contentLength() const { return m_nContentLength; }

  private:
    bool TakeLine();

    State m_state = kNeedMore;
    std::string m_strLine;
    std::string m_strRaw;
    size_t m_nLines = 0;
    size_t m_nHeadBytes = 0;
    int m_nStatus = 0;
    long long m_nContentLength = -1;
};

}  // namespace qb
