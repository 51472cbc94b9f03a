// The network half of the internet service on Linux, over libcurl: HTTP/1.1 with connections
// kept alive and shared by every request of a session, HTTP/2 where a server offers it over
// TLS, compressed bodies decoded, proxies from the environment (http_proxy, https_proxy,
// no_proxy, as curl reads them), certificates and host names checked against the system store
// or SSL_CERT_FILE / SSL_CERT_DIR. Redirects and credentials stay with the caller: curl follows
// nothing and sends Basic credentials only when given some. There is no URL cache.
//
// Each request drives its own multi handle from the caller's thread, so that reading is a
// pull (the caller's buffer sizes), a silent server and a cancel are noticed while waiting,
// and nothing runs behind the caller's back.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/internet.h"
#include "platform/posix/http_response.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Body bytes held for the caller before the transfer is paused.
const size_t kHoldLimit = 256 * 1024;
// The longest wait between two looks at the abort check and the clocks, and how long a
// request runs before the abort check is first asked.
const int kPollMs = 100;
const int kFirstPollMs = 500;

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Names and addresses only: nothing that could change what the address means.
bool PlainHost(const std::string& host) {
    if (host.empty() || host.size() > 255) {
        return false;
    }
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_' &&
            c != ':' && c != '[' && c != ']') {
            return false;
        }
    }
    return true;
}

// The object path as it goes into the address: bytes that would break the request line
// (controls, spaces, 8-bit) are sent %-escaped.
std::string RequestTarget(const std::string& object) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (object.empty() || object[0] != '/') {
        out += '/';
    }
    for (unsigned char c : object) {
        if (c <= 0x20 || c >= 0x7f) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string HostForAddress(const std::string& host) {
    return host.find(':') != std::string::npos && host[0] != '[' ? "[" + host + "]" : host;
}

// The short reason of a transfer's failure.
std::string ReasonOf(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return kReasonTimedOut;
        case CURLE_PARTIAL_FILE:
            return kReasonCutShort;
        case CURLE_ABORTED_BY_CALLBACK:
            return kReasonCancelled;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "cannot resolve the server";
        case CURLE_COULDNT_CONNECT:
            return "cannot connect";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return "certificate not accepted";
        case CURLE_SSL_CONNECT_ERROR:
            return "TLS handshake failed";
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            return "connection lost";
        case CURLE_BAD_CONTENT_ENCODING:
            return "bad compressed body";
        default:
            return curl_easy_strerror(code);
    }
}

// What every request of a session shares: the connection cache, resolved names and TLS
// sessions, behind locks so that requests on several threads may use it.
class Share {
  public:
    Share() {
        m_pShare = curl_share_init();
        if (m_pShare != nullptr) {
            curl_share_setopt(m_pShare, CURLSHOPT_LOCKFUNC, &Share::Lock);
            curl_share_setopt(m_pShare, CURLSHOPT_UNLOCKFUNC, &Share::Unlock);
            curl_share_setopt(m_pShare, CURLSHOPT_USERDATA, this);
            curl_share_setopt(m_pShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
            curl_share_setopt(m_pShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(m_pShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
    }
    ~Share() {
        if (m_pShare != nullptr) {
            curl_share_cleanup(m_pShare);
        }
    }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    CURLSH* get() const { return m_pShare; }

  private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Share*>(self)->m_locks[Index(data)].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<Share*>(self)->m_locks[Index(data)].unlock();
    }
    static size_t Index(curl_lock_data data) {
        size_t i = static_cast<size_t>(data);
        return i < kLocks ? i : 0;
    }
    static const size_t kLocks = CURL_LOCK_DATA_LAST;
    CURLSH* m_pShare = nullptr;
    std::mutex m_locks[kLocks];
};

// The session's state that its requests need: outlives every request made from it.
struct SessionState {
    std::string strAgent;
    InternetTimeouts timeouts;
    Share share;
    std::mutex checkLock;
    std::function<bool()> abortCheck;

    bool AbortRequested() {
        std::function<bool()> check;
        {
            std::lock_guard<std::mutex> lock(checkLock);
            check = abortCheck;
        }
        return check && check();
    }
};

class CurlRequest : public InternetRequest {
  public:
    CurlRequest(std::shared_ptr<SessionState> session, const std::string& address,
                const std::string& user, const std::string& password)
        : m_pSession(std::move(session)),
          m_strAddress(address),
          m_strUser(user),
          m_strPassword(password) {}

    ~CurlRequest() override { Release(); }

    bool AddRequestHeaders(const std::string& headers, uint32_t /*modifiers*/) override {
        // Only add-if-new is ever asked for: a line whose name is already there is skipped.
        size_t start = 0;
        while (start < headers.size()) {
            size_t end = headers.find('\n', start);
            if (end == std::string::npos) {
                end = headers.size();
            }
            std::string line = headers.substr(start, end - start);
            start = end + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.empty()) {
                continue;
            }
            size_t colon = line.find(':');
            if (colon == std::string::npos || colon == 0) {
                return false;
            }
            for (char c : line) {
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                    return false;
                }
            }
            if (!HasHeader(line.substr(0, colon))) {
                m_lstHeaders.push_back(line);
            }
        }
        return true;
    }

    bool SendRequest() override {
        Release();
        m_head = qb::HttpResponseHead();
        m_strBody.clear();
        m_nBodyPos = 0;
        m_bDone = false;
        m_result = CURLE_OK;
        m_strReason.clear();
        m_szError[0] = '\0';
        if (m_strAddress.empty()) {
            return Fail("bad host");
        }
        m_pEasy = curl_easy_init();
        m_pMulti = curl_multi_init();
        if (m_pEasy == nullptr || m_pMulti == nullptr) {
            return Fail("out of memory");
        }
        // The session's agent names us unless the caller's headers already do.
        if (!m_pSession->strAgent.empty() && !HasHeader("User-Agent")) {
            m_lstHeaders.push_back("User-Agent: " + m_pSession->strAgent);
        }
        for (const std::string& line : m_lstHeaders) {
            m_pHeaderList = curl_slist_append(m_pHeaderList, line.c_str());
        }
        const InternetTimeouts& timeouts = m_pSession->timeouts;
        m_nReadMs = timeouts.readMs;
        CURL* e = m_pEasy;
        curl_easy_setopt(e, CURLOPT_URL, m_strAddress.c_str());
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_szError);
        curl_easy_setopt(e, CURLOPT_SHARE, m_pSession->share.get());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");  // every coding curl can decode
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_pHeaderList);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connectMs));
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.requestMs));
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(e, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        // The variables OpenSSL itself honours name the trusted certificates when set.
        if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
            curl_easy_setopt(e, CURLOPT_CAINFO, file);
        }
        if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
            curl_easy_setopt(e, CURLOPT_CAPATH, dir);
        }
        if (!m_strUser.empty()) {
            curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(e, CURLOPT_USERNAME, m_strUser.c_str());
            curl_easy_setopt(e, CURLOPT_PASSWORD, m_strPassword.c_str());
        }
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        if (curl_multi_add_handle(m_pMulti, m_pEasy) != CURLM_OK) {
            return Fail("out of memory");
        }
        m_bAdded = true;
        m_lastHeard = m_started = m_lastPoll = Clock::now();
        Pump([this] { return m_head.state() != qb::HttpResponseHead::kNeedMore; });
        if (m_head.state() != qb::HttpResponseHead::kDone) {
            if (m_strReason.empty()) {
                m_strReason =
                    m_bDone && m_result != CURLE_OK ? ReasonOf(m_result) : "no valid response";
            }
            Release();
            return false;
        }
        m_bSent = true;
        return true;
    }

    bool QueryStatusCode(uint32_t& status) override {
        if (!m_bSent) {
            return false;
        }
        status = static_cast<uint32_t>(m_head.status());
        return true;
    }

    bool QueryRawHeaders(std::string& headers) override {
        if (!m_bSent) {
            return false;
        }
        headers = m_head.rawHeaders();
        return true;
    }

    long ReadFile(void* buffer, size_t size) override {
        if (!m_bSent || !m_strReason.empty()) {
            return -1;
        }
        Pump([this, size] { return m_strBody.size() - m_nBodyPos >= size; });
        size_t held = m_strBody.size() - m_nBodyPos;
        if (held == 0) {
            if (!m_strReason.empty()) {
                return -1;
            }
            if (m_bDone && m_result != CURLE_OK) {
                m_strReason = ReasonOf(m_result);
                return -1;
            }
            return 0;
        }
        size_t n = std::min(size, held);
        std::memcpy(buffer, m_strBody.data() + m_nBodyPos, n);
        m_nBodyPos += n;
        if (m_nBodyPos == m_strBody.size()) {
            m_strBody.clear();
            m_nBodyPos = 0;
        }
        return static_cast<long>(n);
    }

    std::string FailureReason() const override { return m_strReason; }

    InternetError QueryError() const override {
        InternetError error;
        if (m_strReason.empty()) {
            return error;
        }
        // curl's own words where it has them (the TLS library's, for a certificate).
        error.detail = m_szError[0] != '\0' ? std::string(m_szError) : m_strReason;
        switch (m_result) {
            case CURLE_COULDNT_CONNECT:
                error.kind = InternetFailure::kRefused;
                break;
            case CURLE_COULDNT_RESOLVE_HOST:
                error.kind = InternetFailure::kUnresolved;
                break;
            case CURLE_OPERATION_TIMEDOUT:
                error.kind = InternetFailure::kTimedOut;
                break;
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CACERT_BADFILE:
                error.kind = InternetFailure::kCertificate;
                break;
            default:
                error.kind = m_strReason == kReasonTimedOut ? InternetFailure::kTimedOut
                                                            : InternetFailure::kOther;
                break;
        }
        return error;
    }

  private:
    bool HasHeader(const std::string& name) const {
        std::string want = Lower(name);
        return std::any_of(m_lstHeaders.begin(), m_lstHeaders.end(), [&](const std::string& have) {
            return Lower(have.substr(0, have.find(':'))) == want;
        });
    }

    bool Fail(const std::string& why) {
        m_strReason = why;
        Release();
        return false;
    }

    // Ends the transfer; a connection in the middle of a body is closed, not kept.
    void Release() {
        if (m_pMulti != nullptr && m_pEasy != nullptr && m_bAdded) {
            curl_multi_remove_handle(m_pMulti, m_pEasy);
        }
        m_bAdded = false;
        if (m_pEasy != nullptr) {
            curl_easy_cleanup(m_pEasy);
            m_pEasy = nullptr;
        }
        if (m_pMulti != nullptr) {
            curl_multi_cleanup(m_pMulti);
            m_pMulti = nullptr;
        }
        if (m_pHeaderList != nullptr) {
            curl_slist_free_all(m_pHeaderList);
            m_pHeaderList = nullptr;
        }
        m_bPaused = false;
        CountBytesInFlight(-static_cast<int64_t>(m_nReceived));
        m_nReceived = 0;
    }

    // Drives the transfer until enough is there, it ends, the server has been silent for the
    // read time-out, or the abort check asks to stop.
    template <typename Enough>
    void Pump(Enough enough) {
        while (m_pMulti != nullptr && !m_bDone && m_strReason.empty() && !enough()) {
            if (m_bPaused && m_strBody.size() - m_nBodyPos < kHoldLimit) {
                m_bPaused = false;
                curl_easy_pause(m_pEasy, CURLPAUSE_CONT);
                continue;
            }
            if (m_bPaused) {
                return;  // the caller's buffer is larger than what is held: cannot happen
            }
            int running = 0;
            if (curl_multi_perform(m_pMulti, &running) != CURLM_OK) {
                m_strReason = "transfer failed";
                return;
            }
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(m_pMulti, &left)) {
                if (msg->msg == CURLMSG_DONE) {
                    m_bDone = true;
                    m_result = msg->data.result;
                }
            }
            if (m_bDone || enough() || m_bPaused) {
                continue;
            }
            // A quick request never asks (the caller reports between requests anyway).
            Clock::time_point now = Clock::now();
            if (now - m_started >= std::chrono::milliseconds(kFirstPollMs) &&
                now - m_lastPoll >= std::chrono::milliseconds(kPollMs)) {
                m_lastPoll = now;
                if (m_pSession->AbortRequested()) {
                    m_strReason = kReasonCancelled;
                    return;
                }
            }
            auto silent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_lastHeard);
            if (silent.count() >= m_nReadMs) {
                m_strReason = kReasonTimedOut;
                return;
            }
            long wait = std::min<long>(kPollMs, m_nReadMs - static_cast<long>(silent.count()));
            curl_multi_poll(m_pMulti, nullptr, 0, static_cast<int>(std::max(1L, wait)), nullptr);
        }
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* r = static_cast<CurlRequest*>(self);
        size_t n = size * count;
        r->m_lastHeard = Clock::now();
        if (r->m_head.FeedLine(data, n) == qb::HttpResponseHead::kBad) {
            r->m_strReason = "malformed or oversized response head";
            return 0;  // ends the transfer
        }
        return n;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* r = static_cast<CurlRequest*>(self);
        size_t n = size * count;
        r->m_lastHeard = Clock::now();
        if (r->m_strBody.size() - r->m_nBodyPos >= kHoldLimit) {
            r->m_bPaused = true;
            return CURL_WRITEFUNC_PAUSE;  // curl keeps these bytes for later
        }
        r->m_strBody.append(data, n);
        r->m_nReceived += n;
        CountBytesInFlight(static_cast<int64_t>(n));
        return n;
    }

    std::shared_ptr<SessionState> m_pSession;
    std::string m_strAddress;  // empty when the host cannot be used
    std::string m_strUser;
    std::string m_strPassword;
    std::vector<std::string> m_lstHeaders;
    CURL* m_pEasy = nullptr;
    CURLM* m_pMulti = nullptr;
    curl_slist* m_pHeaderList = nullptr;
    bool m_bAdded = false;
    bool m_bSent = false;
    bool m_bDone = false;
    bool m_bPaused = false;
    CURLcode m_result = CURLE_OK;
    qb::HttpResponseHead m_head;
    std::string m_strBody;  // decoded body bytes not yet read
    size_t m_nBodyPos = 0;
    uint64_t m_nReceived = 0;  // decoded body bytes that arrived, read or not
    Clock::time_point m_lastHeard;
    Clock::time_point m_started;
    Clock::time_point m_lastPoll;
    int m_nReadMs = 60000;
    std::string m_strReason;
    char m_szError[CURL_ERROR_SIZE] = "";
};

class CurlConnection : public InternetConnection {
  public:
    CurlConnection(std::shared_ptr<SessionState> session, const std::string& host, uint16_t port,
                   const std::string& user, const std::string& password, bool secure)
        : m_pSession(std::move(session)),
          m_strHost(host),
          m_nPort(port),
          m_strUser(user),
          m_strPassword(password),
          m_bSecure(secure) {}

    std::unique_ptr<InternetRequest> OpenRequest(const std::string& /*verb*/,
                                                 const std::string& object,
                                                 const std::string& /*version*/,
                                                 uint32_t flags) override {
        // Always GET; the version is HTTP/1.1 or newer, which keeping connections needs.
        bool secure = m_bSecure || (flags & kFlagSecure) != 0;
        std::string address;
        if (PlainHost(m_strHost) && m_nPort != 0) {
            address = std::string(secure ? "https://" : "http://") + HostForAddress(m_strHost) +
                      ":" + std::to_string(m_nPort) + RequestTarget(object);
        }
        return std::make_unique<CurlRequest>(m_pSession, address, m_strUser, m_strPassword);
    }

  private:
    std::shared_ptr<SessionState> m_pSession;
    std::string m_strHost;
    uint16_t m_nPort;
    std::string m_strUser;
    std::string m_strPassword;
    bool m_bSecure;
};

class CurlSession : public InternetSession {
  public:
    explicit CurlSession(std::shared_ptr<SessionState> state) : m_pState(std::move(state)) {}

    std::unique_ptr<InternetConnection> Connect(const std::string& host, uint16_t port,
                                                const std::string& user,
                                                const std::string& password, bool secure) override {
        if (host.empty()) {
            return nullptr;
        }
        // Connecting waits for the request; a kept connection to the server may serve it.
        return std::make_unique<CurlConnection>(m_pState, host, port, user, password, secure);
    }

    void SetAbortCheck(std::function<bool()> check) override {
        std::lock_guard<std::mutex> lock(m_pState->checkLock);
        m_pState->abortCheck = std::move(check);
    }

  private:
    std::shared_ptr<SessionState> m_pState;
};

class CurlInternetService : public InternetService {
  public:
    uint32_t AttemptConnect() override { return 0; }

    std::unique_ptr<InternetSession> OpenSession(const std::string& agent, uint32_t /*accessType*/,
                                                 uint32_t /*flags*/,
                                                 const InternetTimeouts& timeouts) override {
        static std::once_flag s_once;
        static bool s_bReady = false;
        std::call_once(s_once,
                       [] { s_bReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
        if (!s_bReady) {
            return nullptr;
        }
        auto state = std::make_shared<SessionState>();
        if (state->share.get() == nullptr) {
            return nullptr;
        }
        state->strAgent = agent;
        state->timeouts = timeouts;
        return std::make_unique<CurlSession>(std::move(state));
    }

    bool GetUrlCacheEntry(const std::string& /*key*/, std::string& /*localFile*/) override {
        return false;
    }
};

}  // namespace

std::unique_ptr<InternetService> CreateInternetService() {
    return std::make_unique<CurlInternetService>();
}

}  // namespace platform
