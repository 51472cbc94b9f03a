// The network half of the internet service on Linux: sessions, connections and
// requests over our own HTTP/1.0 client. There is no URL cache.
#include <memory>
#include <string>

#include "platform/internet.h"
#include "platform/posix/http_client.h"

namespace platform {

namespace {

class PosixRequest : public InternetRequest {
  public:
    PosixRequest(const std::string& host, uint16_t port, bool secure, const std::string& user,
                 const std::string& password, const std::string& agent, const std::string& verb,
                 const std::string& object, const std::string& version)
        : m_strHost(host),
          m_nPort(port),
          m_bSecure(secure),
          m_strUser(user),
          m_strPassword(password),
          m_strAgent(agent),
          m_strVerb(verb),
          m_strObject(object),
          m_strVersion(version) {}

    bool AddRequestHeaders(const std::string& headers, uint32_t /*modifiers*/) override {
        // Only add-if-new is ever asked for, and the client adds that way.
        return m_client.AddHeaders(headers);
    }

    bool SendRequest() override {
        // The session's agent names us unless the caller's headers already do.
        if (!m_strAgent.empty()) {
            m_client.AddHeaders("User-Agent: " + m_strAgent + "\r\n");
        }
        m_bSent = m_client.Send(m_strHost, m_nPort, m_bSecure, m_strVerb, m_strObject, m_strVersion,
                                m_strUser, m_strPassword);
        return m_bSent;
    }

    bool QueryStatusCode(uint32_t& status) override {
        if (!m_bSent) {
            return false;
        }
        status = static_cast<uint32_t>(m_client.status());
        return true;
    }

    bool QueryRawHeaders(std::string& headers) override {
        if (!m_bSent) {
            return false;
        }
        headers = m_client.rawHeaders();
        return true;
    }

    long ReadFile(void* buffer, size_t size) override {
        if (!m_bSent) {
            return -1;
        }
        return m_client.Read(static_cast<char*>(buffer), size);
    }

    InternetError QueryError() const override {
        // The client words its failures itself; their beginnings tell the kind.
        InternetError error;
        const std::string& text = m_client.error();
        auto starts = [&](const char* prefix) { return text.rfind(prefix, 0) == 0; };
        const char kCertificate[] = "certificate not accepted: ";
        if (text.empty()) {
            return error;
        }
        if (starts("cannot resolve")) {
            error.kind = InternetFailure::kUnresolved;
        } else if (starts("cannot connect to the proxy")) {
            error.kind = InternetFailure::kOther;
        } else if (starts("cannot connect")) {
            error.kind = InternetFailure::kRefused;
        } else if (starts(kCertificate)) {
            error.kind = InternetFailure::kCertificate;
            error.detail = text.substr(sizeof kCertificate - 1);
            return error;
        } else {
            error.kind = InternetFailure::kOther;
        }
        error.detail = text;
        return error;
    }

  private:
    qb::HttpClientRequest m_client;
    std::string m_strHost;
    uint16_t m_nPort;
    bool m_bSecure;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strAgent;
    std::string m_strVerb;
    std::string m_strObject;
    std::string m_strVersion;
    bool m_bSent = false;
};

class PosixConnection : public InternetConnection {
  public:
    PosixConnection(const std::string& host, uint16_t port, const std::string& user,
                    const std::string& password, bool secure, const std::string& agent)
        : m_strHost(host),
          m_nPort(port),
          m_strUser(user),
          m_strPassword(password),
          m_bSecure(secure),
          m_strAgent(agent) {}

    std::unique_ptr<InternetRequest> OpenRequest(const std::string& verb, const std::string& object,
                                                 const std::string& version,
                                                 uint32_t flags) override {
        bool secure = m_bSecure || (flags & kFlagSecure) != 0;
        return std::make_unique<PosixRequest>(m_strHost, m_nPort, secure, m_strUser, m_strPassword,
                                              m_strAgent, verb, object, version);
    }

  private:
    std::string m_strHost;
    uint16_t m_nPort;
    std::string m_strUser;
    std::string m_strPassword;
    bool m_bSecure;
    std::string m_strAgent;
};

class PosixSession : public InternetSession {
  public:
    explicit PosixSession(const std::string& agent) : m_strAgent(agent) {}

    std::unique_ptr<InternetConnection> Connect(const std::string& host, uint16_t port,
                                                const std::string& user,
                                                const std::string& password, bool secure) override {
        if (host.empty()) {
            return nullptr;
        }
        // Connecting is deferred to the request, as the platform's service does.
        return std::make_unique<PosixConnection>(host, port, user, password, secure, m_strAgent);
    }

  private:
    std::string m_strAgent;
};

class PosixInternetService : public InternetService {
  public:
    uint32_t AttemptConnect() override { return 0; }

    std::unique_ptr<InternetSession> OpenSession(const std::string& agent, uint32_t /*accessType*/,
                                                 uint32_t /*flags*/) override {
        // Proxy settings come from the environment (http_proxy, https_proxy,
        // no_proxy); redirects are never followed by the client itself.
        return std::make_unique<PosixSession>(agent);
    }

    bool GetUrlCacheEntry(const std::string& /*key*/, std::string& /*localFile*/) override {
        return false;
    }
};

}  // namespace

std::unique_ptr<InternetService> CreateInternetService() {
    return std::make_unique<PosixInternetService>();
}

}  // namespace platform
