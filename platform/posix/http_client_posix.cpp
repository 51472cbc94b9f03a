#include "platform/posix/http_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qb {

namespace {

std::atomic<int> g_nConnectMs{20000};
std::atomic<int> g_nIoMs{60000};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

const char* Env(const char* lower, const char* upper) {
    const char* v = std::getenv(lower);
    if (v == nullptr || *v == '\0') {
        v = std::getenv(upper);
    }
    return (v != nullptr && *v != '\0') ? v : nullptr;
}

// no_proxy: comma-separated host names or domain suffixes; "*" exempts all.
bool ProxyExempt(const std::string& host) {
    const char* list = Env("no_proxy", "NO_PROXY");
    if (list == nullptr) {
        return false;
    }
    std::string h = Lower(host);
    std::string all = list;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        std::string item = all.substr(start, end - start);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        item = Lower(item);
        if (item == "*") {
            return true;
        }
        if (!item.empty() && item[0] == '.') {
            item.erase(0, 1);
        }
        if (!item.empty() &&
            (h == item ||
             (h.size() > item.size() && h.compare(h.size() - item.size(), item.size(), item) == 0 &&
              h[h.size() - item.size() - 1] == '.'))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Names and addresses only: nothing that could end a request line or header.
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

// The object path as it goes on the request line: bytes that would break the
// line (controls, spaces, 8-bit) are sent %-escaped.
std::string RequestTarget(const std::string& object) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (object.empty() || (object[0] != '/' && object.compare(0, 4, "http") != 0)) {
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

std::string HostHeader(const std::string& host, uint16_t port, bool secure) {
    std::string h = host.find(':') != std::string::npos && host[0] != '[' ? "[" + host + "]" : host;
    if (port != (secure ? 443 : 80)) {
        h += ":" + std::to_string(port);
    }
    return h;
}

// Blocks SIGPIPE on this thread while alive, and swallows one raised meanwhile,
// so that writing to a peer that has gone away is an error, not a dead process.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &m_old);
    }
    ~SigpipeGuard() {
        if (!m_bWasPending) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            struct timespec zero = {0, 0};
            while (sigtimedwait(&pipe, nullptr, &zero) > 0) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }

  private:
    sigset_t m_old;
    bool m_bWasPending = false;
};

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
    g_nConnectMs = timeouts.connectMs;
    g_nIoMs = timeouts.ioMs;
}

HttpTimeouts GetHttpTimeouts() {
    return HttpTimeouts{g_nConnectMs.load(), g_nIoMs.load()};
}

std::string HttpBasicCredentials(const std::string& user, const std::string& password) {
    std::string in = user + ":" + password;
    std::string out = "Basic ";
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                     (static_cast<unsigned char>(in[i + 1]) << 8) |
                     static_cast<unsigned char>(in[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) {
            v |= static_cast<unsigned char>(in[i + 1]) << 8;
        }
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string HttpProxyFor(bool secure, const std::string& host) {
    const char* value =
        secure ? Env("https_proxy", "HTTPS_PROXY") : Env("http_proxy", "HTTP_PROXY");
    if (value == nullptr || ProxyExempt(host)) {
        return "";
    }
    std::string p = value;
    size_t scheme = p.find("://");
    if (scheme != std::string::npos) {
        p.erase(0, scheme + 3);
    }
    size_t at = p.rfind('@');  // credentials for the proxy are not supported
    if (at != std::string::npos) {
        p.erase(0, at + 1);
    }
    size_t slash = p.find('/');
    if (slash != std::string::npos) {
        p.erase(slash);
    }
    if (p.empty()) {
        return "";
    }
    if (p.find(':') == std::string::npos || p.back() == ']') {
        p += ":80";
    }
    return p;
}

struct HttpClientRequest::Tls {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    ~Tls() {
        if (ssl != nullptr) {
            SSL_free(ssl);
        }
        if (ctx != nullptr) {
            SSL_CTX_free(ctx);
        }
    }
};

HttpClientRequest::~HttpClientRequest() {
    Close();
}

void HttpClientRequest::Close() {
    if (m_pTls != nullptr) {
        if (m_pTls->ssl != nullptr && m_fd >= 0) {
            SigpipeGuard guard;
            SSL_shutdown(m_pTls->ssl);
        }
        delete m_pTls;
        m_pTls = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool HttpClientRequest::Fail(const std::string& why) {
    m_strError = why;
    Close();
    return false;
}

bool HttpClientRequest::AddHeaders(const std::string& block) {
    size_t start = 0;
    while (start < block.size()) {
        size_t end = block.find('\n', start);
        if (end == std::string::npos) {
            end = block.size();
        }
        std::string line = block.substr(start, end - start);
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
        std::string name = Lower(line.substr(0, colon));
        bool present = std::any_of(
            m_lstHeaders.begin(), m_lstHeaders.end(),
            [&](const std::string& have) { return Lower(have.substr(0, have.find(':'))) == name; });
        if (!present) {
            m_lstHeaders.push_back(line);
        }
    }
    return true;
}

bool HttpClientRequest::Connect(const std::string& host, uint16_t port) {
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(name.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
        return Fail("cannot resolve " + host);
    }
    int timeout = g_nConnectMs;
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        int flags = fcntl(fd, F_GETFL, 0);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            rc = -1;
            if (poll(&p, 1, timeout) == 1) {
                int err = 0;
                socklen_t len = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
                    rc = 0;
                }
            }
        }
        if (rc == 0) {
            fcntl(fd, F_SETFL, flags);
            timeval tv{g_nIoMs / 1000, (g_nIoMs % 1000) * 1000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            m_fd = fd;
            break;
        }
        ::close(fd);
    }
    freeaddrinfo(list);
    if (m_fd < 0) {
        return Fail("cannot connect to " + host + ":" + service);
    }
    return true;
}

bool HttpClientRequest::StartTls(const std::string& host) {
    m_pTls = new Tls;
    m_pTls->ctx = SSL_CTX_new(TLS_client_method());
    if (m_pTls->ctx == nullptr) {
        return Fail("TLS unavailable");
    }
    SSL_CTX_set_min_proto_version(m_pTls->ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(m_pTls->ctx, SSL_VERIFY_PEER, nullptr);
    // The system store; OpenSSL reads SSL_CERT_FILE and SSL_CERT_DIR here.
    SSL_CTX_set_default_verify_paths(m_pTls->ctx);
    m_pTls->ssl = SSL_new(m_pTls->ctx);
    if (m_pTls->ssl == nullptr) {
        return Fail("TLS unavailable");
    }
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    unsigned char probe[16];
    bool literal = inet_pton(AF_INET, name.c_str(), probe) == 1 ||
                   inet_pton(AF_INET6, name.c_str(), probe) == 1;
    X509_VERIFY_PARAM* param = SSL_get0_param(m_pTls->ssl);
    if (literal) {
        X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(m_pTls->ssl, name.c_str());
        SSL_set_tlsext_host_name(m_pTls->ssl, name.c_str());
    }
    SSL_set_fd(m_pTls->ssl, m_fd);
    SigpipeGuard guard;
    if (SSL_connect(m_pTls->ssl) != 1) {
        long verify = SSL_get_verify_result(m_pTls->ssl);
        ERR_clear_error();
        if (verify != X509_V_OK) {
            return Fail(std::string("certificate not accepted: ") +
                        X509_verify_cert_error_string(verify));
        }
        return Fail("TLS handshake failed");
    }
    return true;
}

bool HttpClientRequest::WriteAll(const std::string& data) {
    SigpipeGuard guard;
    size_t done = 0;
    while (done < data.size()) {
        long n;
        if (m_pTls != nullptr) {
            n = SSL_write(m_pTls->ssl, data.data() + done, static_cast<int>(data.size() - done));
            if (n <= 0) {
                ERR_clear_error();
                return false;
            }
        } else {
            n = ::send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

long HttpClientRequest::ReadSome(char* buffer, size_t size) {
    if (m_fd < 0) {
        return -1;
    }
    size = std::min<size_t>(size, 1 << 20);
    if (m_pTls != nullptr) {
        int n = SSL_read(m_pTls->ssl, buffer, static_cast<int>(size));
        if (n > 0) {
            return n;
        }
        int err = SSL_get_error(m_pTls->ssl, n);
        ERR_clear_error();
        // A peer that closes without close_notify is common for HTTP/1.0 and
        // ends the body like a plain close.
        if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && errno == 0)) {
            return 0;
        }
        return -1;
    }
    for (;;) {
        long n = ::recv(m_fd, buffer, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 ? -1 : n;
    }
}

bool HttpClientRequest::Tunnel(const std::string& host, uint16_t port) {
    std::string target = HostHeader(host, port, false);
    if (port == 80) {
        target += ":80";
    }
    if (!WriteAll("CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n\r\n")) {
        return Fail("proxy refused the tunnel");
    }
    // Byte by byte, so nothing of the tunnelled stream is taken by the head.
    HttpResponseHead head;
    char c;
    while (head.state() == HttpResponseHead::kNeedMore) {
        errno = 0;
        long n = ReadSome(&c, 1);
        if (n <= 0) {
            head.Finish();
            break;
        }
        head.Feed(&c, 1, nullptr);
    }
    if (head.state() != HttpResponseHead::kDone || head.status() / 100 != 2) {
        return Fail("proxy refused the tunnel");
    }
    return true;
}

bool HttpClientRequest::Send(const std::string& host, uint16_t port, bool secure,
                             const std::string& verb, const std::string& object,
                             const std::string& version, const std::string& user,
                             const std::string& password) {
    Close();
    m_head = HttpResponseHead();
    m_strPending.clear();
    m_nPendingPos = 0;
    m_nRemaining = -1;
    m_bEnded = false;
    m_strError.clear();
    if (!PlainHost(host) || port == 0) {
        return Fail("bad host");
    }
    std::string proxy = HttpProxyFor(secure, host);
    std::string target = RequestTarget(object);
    if (!proxy.empty()) {
        size_t colon = proxy.rfind(':');
        int proxyPort = std::atoi(proxy.c_str() + colon + 1);
        if (proxyPort <= 0 || proxyPort > 65535 ||
            !Connect(proxy.substr(0, colon), static_cast<uint16_t>(proxyPort))) {
            return Fail("cannot connect to the proxy " + proxy);
        }
        if (secure) {
            if (!Tunnel(host, port)) {
                return false;
            }
        } else {
            target = "http://" + HostHeader(host, port, false) + target;
        }
    } else if (!Connect(host, port)) {
        return false;
    }
    if (secure && !StartTls(host)) {
        return false;
    }

    std::string request = verb + " " + target + " " + version + "\r\n";
    request += "Host: " + HostHeader(host, port, secure) + "\r\n";
    for (const std::string& line : m_lstHeaders) {
        request += line + "\r\n";
    }
    if (!user.empty()) {
        request += "Authorization: " + HttpBasicCredentials(user, password) + "\r\n";
    }
    request += "\r\n";
    if (!WriteAll(request)) {
        return Fail("cannot send the request");
    }

    char buffer[4096];
    while (m_head.state() == HttpResponseHead::kNeedMore) {
        errno = 0;
        long n = ReadSome(buffer, sizeof buffer);
        if (n <= 0) {
            m_head.Finish();
            break;
        }
        size_t used = 0;
        m_head.Feed(buffer, static_cast<size_t>(n), &used);
        if (m_head.state() == HttpResponseHead::kDone) {
            m_strPending.assign(buffer + used, static_cast<size_t>(n) - used);
        }
    }
    if (m_head.state() != HttpResponseHead::kDone) {
        return Fail("no valid response");
    }
    m_nRemaining = m_head.contentLength();
    return true;
}

long HttpClientRequest::Read(char* buffer, size_t size) {
    size_t done = 0;
    while (done < size && !m_bEnded) {
        size_t want = size - done;
        if (m_nRemaining >= 0) {
            if (m_nRemaining == 0) {
                m_bEnded = true;
                break;
            }
            want = std::min<size_t>(want, static_cast<size_t>(m_nRemaining));
        }
        long n;
        if (m_nPendingPos < m_strPending.size()) {
            n = static_cast<long>(std::min(want, m_strPending.size() - m_nPendingPos));
            std::memcpy(buffer + done, m_strPending.data() + m_nPendingPos, n);
            m_nPendingPos += n;
        } else {
            errno = 0;
            n = ReadSome(buffer + done, want);
            if (n < 0) {
                m_strError = "receive failed or timed out";
                return -1;
            }
            if (n == 0) {
                // A close before the promised length is a truncated body:
                // what arrived is handed out, then the end.
                m_bEnded = true;
                break;
            }
        }
        done += static_cast<size_t>(n);
        if (m_nRemaining >= 0) {
            m_nRemaining -= n;
        }
    }
    return static_cast<long>(done);
}

}  // namespace qb
