// The internet service: HTTP sessions, connections and requests, address parsing and
// combining, and the URL cache. Windows: WinINet. Linux: libcurl as the transport and our own
// address parser. Every operation reports failure by its result; nothing here throws.
//
// Connections are kept alive and reused per server by the session, whatever connection
// object a request was opened on: closing a connection object only ends its use by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Scheme numbers as the service reports them when an address is split.
enum InternetScheme : int {
    kSchemeUnknown = -1,
    kSchemeDefault = 0,
    kSchemeFtp = 1,
    kSchemeGopher = 2,
    kSchemeHttp = 3,
    kSchemeHttps = 4,
    kSchemeFile = 5,
    kSchemeNews = 6,
    kSchemeMailto = 7,
};

// Session flags and access type (WinINet numbering).
constexpr uint32_t kInternetOpenTypePreconfig = 0;
constexpr uint32_t kFlagExistingConnect = 0x20000000;
constexpr uint32_t kFlagNoAutoRedirect = 0x00200000;
constexpr uint32_t kFlagKeepConnection = 0x00400000;
constexpr uint32_t kFlagSecure = 0x00800000;
constexpr uint32_t kFlagReload = 0x80000000;
// Header modifier: add the header only if it is not there yet.
constexpr uint32_t kHeaderAddIfNew = 0x10000000;
// Crack flag: turn %xx escape sequences into characters.
constexpr uint32_t kCrackDecode = 0x10000000;

// Buffer sizes that bound the address operations (bytes, terminator included).
constexpr size_t kHostBufferSize = 260;
constexpr size_t kPathBufferSize = 260;
constexpr size_t kCombineBufferSize = 520;
constexpr size_t kCanonicalBufferSize = 2084;

// Why a request failed, as far as the service can tell; the fetcher words it for the user.
enum class InternetFailure {
    kNone,         // nothing failed, or the service cannot tell
    kRefused,      // the server could not be reached (connection refused, no route)
    kUnresolved,   // the host name is not known
    kTimedOut,     // connecting, sending or an answer took too long
    kCertificate,  // the server's certificate is not trusted; detail says why
    kOther,        // anything else; detail says what, when known
};

struct InternetError {
    InternetFailure kind = InternetFailure::kNone;
    std::string detail;  // the service's or TLS library's own words, without a final period
};

// Time bounds of every request: connecting (with the TLS handshake), silence while a response
// is awaited or read (a server quiet for longer fails the request with "timed out"), and the
// whole request from its send to the last byte read. A session keeps the ones it was opened
// with for all its requests.
struct InternetTimeouts {
    int connectMs = 20000;
    int readMs = 60000;
    int requestMs = 300000;

    bool operator==(const InternetTimeouts& other) const {
        return connectMs == other.connectMs && readMs == other.readMs &&
               requestMs == other.requestMs;
    }
    bool operator!=(const InternetTimeouts& other) const { return !(*this == other); }
};

// Body bytes received so far by the requests that are open, over the whole process: what a
// progress line can show while a read still waits for its buffer to fill. A transport adds
// what arrives and takes a request's share back when the request ends or is sent again.
// Process-wide on purpose: a grab reads through several sessions at once (its own and the
// pool's fetchers), the one progress line shows their sum, and nothing is bounded by it.
void CountBytesInFlight(int64_t delta);
uint64_t BytesInFlight();

// Short reasons a request failed, as FailureReason() gives them.
constexpr const char* kReasonTimedOut = "timed out";
constexpr const char* kReasonCancelled = "cancelled";
constexpr const char* kReasonCutShort = "cut short";

// A response to one request. Closing = destroying the object.
class InternetRequest {
  public:
    virtual ~InternetRequest() = default;
    // Adds header lines (CR LF ended) with the given modifiers; false on failure.
    virtual bool AddRequestHeaders(const std::string& headers, uint32_t modifiers) = 0;
    // Sends the request without extra headers or body; false on failure (connect refused,
    // TLS refused, time-out, malformed response).
    virtual bool SendRequest() = 0;
    // The numeric status code of the response; false when there is none.
    virtual bool QueryStatusCode(uint32_t& status) = 0;
    // The response's header block, status line first, lines separated by CR LF; false when
    // there is none.
    virtual bool QueryRawHeaders(std::string& headers) = 0;
    // Reads up to size bytes of the body into buffer (fewer only at the end of the body).
    // Returns the number of bytes read, 0 at the end of the body, -1 on failure. A body that
    // ends before its Content-Length or its last chunk is a failure; chunked and compressed
    // bodies arrive decoded.
    virtual long ReadFile(void* buffer, size_t size) = 0;
    // Why the last SendRequest or ReadFile failed; kind kNone when nothing failed or the
    // service cannot tell (the default, so stand-ins need not say).
    virtual InternetError QueryError() const { return InternetError(); }

    // Why the last operation failed ("timed out", "cancelled", "cut short" or another short
    // text); empty when nothing failed or the service cannot tell.
    virtual std::string FailureReason() const { return std::string(); }
};

// An HTTP connection to one host and port. Closing = destroying the object.
class InternetConnection {
  public:
    virtual ~InternetConnection() = default;
    // Opens a request (verb "GET", object path, version "HTTP/1.0", flags such as kFlagSecure);
    // null on failure.
    virtual std::unique_ptr<InternetRequest> OpenRequest(const std::string& verb,
                                                         const std::string& object,
                                                         const std::string& version,
                                                         uint32_t flags) = 0;
};

// One session (the service handle of InternetOpen). Closing = destroying the object.
class InternetSession {
  public:
    virtual ~InternetSession() = default;
    // Connects to host:port with the user name and password (empty when none); secure tells
    // the scheme (https) for services that must know it before the request. Null on failure.
    virtual std::unique_ptr<InternetConnection> Connect(const std::string& host, uint16_t port,
                                                        const std::string& user,
                                                        const std::string& password,
                                                        bool secure) = 0;
    // A check that the session polls, on the thread of the request, while a request waits
    // for the network: from half a second after the request was sent, then every 100 ms (a
    // quick request never asks). When it answers true the operation under way fails with
    // "cancelled" within a second. Empty: never cancelled.
    virtual void SetAbortCheck(std::function<bool()> check) { (void)check; }
};

// The network half of the service: what differs between the real one and a test's stand-in.
class InternetService {
  public:
    virtual ~InternetService() = default;
    // 0 when a connection can be attempted, else an error number.
    virtual uint32_t AttemptConnect() = 0;
    // Opens a session with the agent name, access type and flags, whose requests are bounded
    // by timeouts; null on failure.
    virtual std::unique_ptr<InternetSession> OpenSession(const std::string& agent,
                                                         uint32_t accessType, uint32_t flags,
                                                         const InternetTimeouts& timeouts) = 0;
    // Looks the key up in the URL cache; true with the path of the local file that holds the
    // cached copy, false when there is no entry (always false where no cache exists).
    virtual bool GetUrlCacheEntry(const std::string& key, std::string& localFile) = 0;
};

// The platform's own service (WinINet on Windows, the socket client on Linux). Defined with
// the network implementation; only the program's start-up calls it, tests construct their own.
std::unique_ptr<InternetService> CreateInternetService();

// Address operations: the same on every platform's terms, so they are free functions.

// The parts of a split address.
struct UrlParts {
    int nScheme = kSchemeDefault;  // InternetScheme numbering
    std::string strHost;
    // Path with query and fragment, as written ("/" for a web address without one). For
    // file: addresses, the local path.
    std::string strPath;
    uint16_t nPort = 0;  // the scheme's default port when the address names none
};

// Splits url. flags: 0 or kCrackDecode. hostSize/pathSize bound the host and path (like the
// service's buffers: a part that needs size bytes or more with its terminator fails). Returns
// false when the address cannot be split or a part does not fit; parts holds whatever was
// filled before the failure (nScheme in particular).
bool CrackUrl(const std::string& url, uint32_t flags, UrlParts& parts,
              size_t hostSize = kHostBufferSize, size_t pathSize = kPathBufferSize);

// Resolves reference against base, decoding %xx sequences. False when the result cannot be
// made or does not fit in bufferSize bytes with its terminator.
bool CombineUrl(const std::string& base, const std::string& reference, std::string& result,
                size_t bufferSize = kCombineBufferSize);

// Canonicalises url in browser mode (unsafe characters escaped, dot segments resolved). The
// result may be longer than kCanonicalBufferSize (the buffer grows when the service asks).
// False when it cannot be done.
bool CanonicalizeUrl(const std::string& url, std::string& result);

}  // namespace platform
