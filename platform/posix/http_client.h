// A small HTTP/1.0 client over sockets, with TLS through OpenSSL.
//
// One object is one request: Send() connects (through the proxy named by
// http_proxy / https_proxy unless no_proxy exempts the host), writes the
// request, and reads the response head; Read() then streams the body until the
// server closes or the Content-Length is reached. Certificates are verified
// against the system store (SSL_CERT_FILE / SSL_CERT_DIR are honoured), and so
// is the host name (or IP address) of the server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/http_response.h"

namespace qb {

struct HttpTimeouts {
    int connectMs;  // connecting, including the TLS handshake
    int ioMs;       // any single send or receive
};

// Process-wide time-outs of every later request. Defaults: 20 s to connect,
// 60 s per send or receive. Tests shorten them.
void SetHttpTimeouts(const HttpTimeouts& timeouts);
HttpTimeouts GetHttpTimeouts();

class HttpClientRequest {
  public:
    HttpClientRequest() = default;
    ~HttpClientRequest();
    HttpClientRequest(const HttpClientRequest&) = delete;
    HttpClientRequest& operator=(const HttpClientRequest&) = delete;

    // Header lines ("Name: value\r\n"...) to send; a line whose name is
    // already present is skipped (add-if-new). False for a malformed block
    // (a line without a colon, or a control character).
    bool AddHeaders(const std::string& block);

    // Connects to host:port and sends "<verb> <object> <version>" with Host,
    // the added headers and, when user is not empty, Basic credentials; then
    // reads the response head. False on any failure (see error()).
    bool Send(const std::string& host, uint16_t port, bool secure, const std::string& verb,
              const std::string& object, const std::string& version, const std::string& user,
              const std::string& password);

    int status() const { return m_head.status(); }
    const std::string& rawHeaders() const { return m_head.rawHeaders(); }
    const std::string& error() const { return m_strError; }

    // Reads up to size bytes; fewer only at the end of the body. Returns the
    // count, 0 at the end, -1 on an error or time-out.
    long Read(char* buffer, size_t size);

    void Close();

  private:
    struct Tls;
    bool Connect(const std::string& host, uint16_t port);
    bool StartTls(const std::string& host);
    bool WriteAll(const std::string& data);
    long ReadSome(char* buffer, size_t size);  // one receive; 0 at close, -1 error
    bool Tunnel(const std::string& host, uint16_t port);
    bool Fail(const std::string& why);

    int m_fd = -1;
    Tls* m_pTls = nullptr;
    std::vector<std::string> m_lstHeaders;
    HttpResponseHead m_head;
    std::string m_strPending;  // body bytes read together with the head
    size_t m_nPendingPos = 0;
    long long m_nRemaining = -1;  // from Content-Length; -1 reads to the close
    bool m_bEnded = false;
    std::string m_strError;
};

// Exposed for tests: the proxy to use for a scheme and host ("" when none),
// as "host:port", from the environment.
std::string HttpProxyFor(bool secure, const std::string& host);

// "Basic " credentials value.
std::string HttpBasicCredentials(const std::string& user, const std::string& password);

}  // namespace qb
