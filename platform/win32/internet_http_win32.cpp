// The network half of the internet service on Windows: WinINet handles wrapped
// in objects that close them when destroyed.
#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/internet.h"

namespace platform {

namespace {

// Context value of every handle made after the session.
const DWORD_PTR kContext = 1;

class Handle {
  public:
    explicit Handle(HINTERNET h) : m_h(h) {}
    ~Handle() {
        if (m_h != nullptr) {
            InternetCloseHandle(m_h);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return m_h; }

  private:
    HINTERNET m_h;
};

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

class WinRequest : public InternetRequest {
  public:
    explicit WinRequest(HINTERNET h) : m_handle(h) {}

    bool AddRequestHeaders(const std::string& headers, uint32_t modifiers) override {
        return HttpAddRequestHeadersA(m_handle.get(), headers.c_str(), static_cast<DWORD>(-1),
                                      modifiers) != FALSE;
    }

    bool SendRequest() override {
        if (HttpSendRequestA(m_handle.get(), nullptr, 0, nullptr, 0) == FALSE) {
            m_nError = GetLastError();
            return false;
        }
        m_nError = 0;
        return true;
    }

    bool QueryStatusCode(uint32_t& status) override {
        DWORD code = 0;
        DWORD size = sizeof code;
        if (!HttpQueryInfoA(m_handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                            &size, nullptr)) {
            return false;
        }
        status = code;
        return true;
    }

    bool QueryRawHeaders(std::string& headers) override {
        std::vector<char> buffer(4096);
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD size = static_cast<DWORD>(buffer.size());
            if (HttpQueryInfoA(m_handle.get(), HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &size,
                               nullptr)) {
                headers.assign(buffer.data(), size);
                return true;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) {
                return false;
            }
            buffer.resize(size + 1);
        }
        return false;
    }

    long ReadFile(void* buffer, size_t size) override {
        DWORD read = 0;
        if (!InternetReadFile(m_handle.get(), buffer, static_cast<DWORD>(size), &read)) {
            m_nError = GetLastError();
            return -1;
        }
        return static_cast<long>(read);
    }

    InternetError QueryError() const override {
        InternetError error;
        switch (m_nError) {
            case 0:
                return error;
            case ERROR_INTERNET_CANNOT_CONNECT:
                error.kind = InternetFailure::kRefused;
                break;
            case ERROR_INTERNET_NAME_NOT_RESOLVED:
                error.kind = InternetFailure::kUnresolved;
                break;
            case ERROR_INTERNET_TIMEOUT:
                error.kind = InternetFailure::kTimedOut;
                break;
            case ERROR_INTERNET_INVALID_CA:
            case ERROR_INTERNET_SEC_CERT_CN_INVALID:
            case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
            case ERROR_INTERNET_SEC_CERT_ERRORS:
            case ERROR_INTERNET_SEC_CERT_REV_FAILED:
            case ERROR_INTERNET_SEC_INVALID_CERT:
            case ERROR_INTERNET_SEC_CERT_REVOKED:
                error.kind = InternetFailure::kCertificate;
                break;
            default:
                error.kind = InternetFailure::kOther;
                break;
        }
        error.detail = ErrorText(m_nError);
        return error;
    }

  private:
    // WinINet's own words for its error numbers, else the number.
    static std::string ErrorText(DWORD code) {
        char text[512] = "";
        DWORD n =
            FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleA("wininet.dll"), code, 0, text, sizeof text, nullptr);
        std::string out(text, n);
        while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ' ||
                                out.back() == '.')) {
            out.pop_back();
        }
        return out.empty() ? "error " + std::to_string(code) : out;
    }

    Handle m_handle;
    DWORD m_nError = 0;
};

class WinConnection : public InternetConnection {
  public:
    explicit WinConnection(HINTERNET h) : m_handle(h) {}

    std::unique_ptr<InternetRequest> OpenRequest(const std::string& verb, const std::string& object,
                                                 const std::string& version,
                                                 uint32_t flags) override {
        HINTERNET h = HttpOpenRequestA(m_handle.get(), verb.c_str(), object.c_str(),
                                       version.c_str(), nullptr, nullptr, flags, kContext);
        if (h == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinRequest>(h);
    }

  private:
    Handle m_handle;
};

class WinSession : public InternetSession {
  public:
    explicit WinSession(HINTERNET h) : m_handle(h) {}

    std::unique_ptr<InternetConnection> Connect(const std::string& host, uint16_t port,
                                                const std::string& user,
                                                const std::string& password,
                                                bool /*secure*/) override {
        HINTERNET h = InternetConnectA(m_handle.get(), host.c_str(), port, OrNull(user),
                                       OrNull(password), INTERNET_SERVICE_HTTP, 0, kContext);
        if (h == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinConnection>(h);
    }

  private:
    Handle m_handle;
};

class WinInternetService : public InternetService {
  public:
    uint32_t AttemptConnect() override { return InternetAttemptConnect(0); }

    std::unique_ptr<InternetSession> OpenSession(const std::string& agent, uint32_t accessType,
                                                 uint32_t flags) override {
        HINTERNET h = InternetOpenA(agent.c_str(), accessType, nullptr, nullptr, flags);
        if (h == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinSession>(h);
    }

    bool GetUrlCacheEntry(const std::string& key, std::string& localFile) override {
        // Entries with long names or many headers need more than the usual 4,096 bytes.
        std::vector<char> buffer(4096);
        for (int attempt = 0; attempt < 3; ++attempt) {
            DWORD size = static_cast<DWORD>(buffer.size());
            auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
            info->dwStructSize = sizeof(INTERNET_CACHE_ENTRY_INFOA);
            if (GetUrlCacheEntryInfoA(key.c_str(), info, &size)) {
                if (info->lpszLocalFileName == nullptr || info->lpszLocalFileName[0] == '\0') {
                    return false;
                }
                localFile = info->lpszLocalFileName;
                return true;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) {
                return false;
            }
            buffer.resize(size);
        }
        return false;
    }
};

}  // namespace

std::unique_ptr<InternetService> CreateInternetService() {
    return std::make_unique<WinInternetService>();
}

}  // namespace platform
