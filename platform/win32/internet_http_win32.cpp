// The network half of the internet service on Windows: WinINet handles wrapped
// in objects that close them when destroyed.
//
// Requests ask for kept-alive HTTP/1.1 connections, which WinINet pools per server (up to six
// at once). The blocking calls (send, read) run on a helper thread while the caller's thread
// watches the session's abort check and the request's overall deadline; either closes the
// request handle, which ends the call.
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/internet.h"

namespace platform {

namespace {

// Context value of every handle made after the session.
const DWORD_PTR kContext = 1;

const DWORD kMaxConnectionsPerServer = 6;
// The longest wait between two looks at the abort check, and how long a call runs before the
// check is first asked (a quick request never asks).
const DWORD kPollMs = 100;
const DWORD kFirstPollMs = 500;

class Handle {
  public:
    explicit Handle(HINTERNET h) : m_h(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return m_h; }
    void Close() {
        if (m_h != nullptr) {
            InternetCloseHandle(m_h);
            m_h = nullptr;
        }
    }

  private:
    HINTERNET m_h;
};

// The session's abort check, shared with its requests.
struct AbortState {
    std::mutex lock;
    std::function<bool()> check;

    bool Requested() {
        std::function<bool()> copy;
        {
            std::lock_guard<std::mutex> guard(lock);
            copy = check;
        }
        return copy && copy();
    }
};

// One blocking call on a helper thread. Shared by the thread and the caller, so that a call
// abandoned after its handle was closed can still finish safely.
struct Call {
    std::function<bool()> work;
    bool result = false;
    DWORD error = 0;
    HANDLE done = nullptr;
    ~Call() {
        if (done != nullptr) {
            CloseHandle(done);
        }
    }
};

DWORD WINAPI RunCall(void* param) {
    auto* call = static_cast<std::shared_ptr<Call>*>(param);
    (*call)->result = (*call)->work();
    (*call)->error = GetLastError();
    SetEvent((*call)->done);
    delete call;
    return 0;
}

enum class CallEnd { kFinished, kCancelled, kTimedOut, kNoThread };

// Runs work on a helper thread and waits for it; when the abort check asks or the deadline
// passes, closes the handle (which ends the call) and says why.
CallEnd RunAbortable(const std::shared_ptr<Call>& call, AbortState& abort, DWORD deadline,
                     Handle& handle) {
    call->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (call->done == nullptr) {
        return CallEnd::kNoThread;
    }
    auto* param = new std::shared_ptr<Call>(call);
    HANDLE thread = CreateThread(nullptr, 0, &RunCall, param, 0, nullptr);
    if (thread == nullptr) {
        delete param;
        return CallEnd::kNoThread;
    }
    CloseHandle(thread);
    DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(call->done, kPollMs) == WAIT_OBJECT_0) {
            return CallEnd::kFinished;
        }
        DWORD now = GetTickCount();
        CallEnd end = CallEnd::kFinished;
        if (static_cast<LONG>(now - deadline) >= 0) {
            end = CallEnd::kTimedOut;
        } else if (now - start >= kFirstPollMs && abort.Requested()) {
            end = CallEnd::kCancelled;
        }
        if (end != CallEnd::kFinished) {
            handle.Close();
            // The call usually ends with its handle; when it does not (a read blocked in the
            // socket), it is left to finish alone: it holds nothing of the caller's.
            WaitForSingleObject(call->done, 200);
            return end;
        }
    }
}

// Time bounds of one request, on its handle.
void SetTimeouts(HINTERNET h, const InternetTimeouts& timeouts) {
    DWORD connect = static_cast<DWORD>(timeouts.connectMs);
    DWORD read = static_cast<DWORD>(timeouts.readMs);
    InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &read, sizeof read);
    InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &read, sizeof read);
}

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

class WinRequest : public InternetRequest {
  public:
    WinRequest(HINTERNET h, std::shared_ptr<AbortState> abort, const InternetTimeouts& timeouts)
        : m_handle(h), m_pAbort(std::move(abort)), m_timeouts(timeouts) {}

    bool AddRequestHeaders(const std::string& headers, uint32_t modifiers) override {
        return HttpAddRequestHeadersA(m_handle.get(), headers.c_str(), static_cast<DWORD>(-1),
                                      modifiers) != FALSE;
    }

    bool SendRequest() override {
        m_strReason.clear();
        m_nError = 0;
        m_nRead = 0;
        m_nLength = -1;
        if (m_handle.get() == nullptr) {
            return false;
        }
        SetTimeouts(m_handle.get(), m_timeouts);
        m_nDeadline = GetTickCount() + static_cast<DWORD>(m_timeouts.requestMs);
        HINTERNET h = m_handle.get();
        auto call = std::make_shared<Call>();
        call->work = [h] { return HttpSendRequestA(h, nullptr, 0, nullptr, 0) != FALSE; };
        if (!Run(call)) {
            return false;
        }
        if (!call->result) {
            m_nError = call->error;
            m_strReason = call->error == ERROR_INTERNET_TIMEOUT ? kReasonTimedOut : "send failed";
            return false;
        }
        // The promised length, so that a body cut short is told from a whole one.
        char text[32];
        DWORD size = sizeof text;
        if (HttpQueryInfoA(h, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
            text[size < sizeof text ? size : sizeof text - 1] = '\0';
            char* end = nullptr;
            long long length = std::strtoll(text, &end, 10);
            if (end != text && length >= 0) {
                m_nLength = length;
            }
        }
        return true;
    }

    std::string FailureReason() const override { return m_strReason; }

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
        if (m_handle.get() == nullptr || !m_strReason.empty()) {
            return -1;
        }
        HINTERNET h = m_handle.get();
        auto call = std::make_shared<Call>();
        auto data = std::make_shared<std::vector<char>>(size);
        auto read = std::make_shared<DWORD>(0);
        call->work = [h, data, read] {
            return InternetReadFile(h, data->data(), static_cast<DWORD>(data->size()),
                                    read.get()) != FALSE;
        };
        if (!Run(call)) {
            return -1;
        }
        if (!call->result) {
            m_nError = call->error;
            m_strReason =
                call->error == ERROR_INTERNET_TIMEOUT ? kReasonTimedOut : "receive failed";
            return -1;
        }
        if (*read == 0 && m_nLength >= 0 && m_nRead < m_nLength) {
            m_strReason = kReasonCutShort;
            return -1;
        }
        std::memcpy(buffer, data->data(), *read);
        m_nRead += *read;
        return static_cast<long>(*read);
    }

    InternetError QueryError() const override {
        InternetError error;
        if (m_nError == 0 && m_strReason == kReasonTimedOut) {
            // The request's own deadline, not WinINet's.
            error.kind = InternetFailure::kTimedOut;
            error.detail = m_strReason;
            return error;
        }
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

    // Runs a blocking call; false (with the reason) when it was cancelled or timed out.
    bool Run(const std::shared_ptr<Call>& call) {
        switch (RunAbortable(call, *m_pAbort, m_nDeadline, m_handle)) {
            case CallEnd::kFinished:
                return true;
            case CallEnd::kCancelled:
                m_strReason = kReasonCancelled;
                return false;
            case CallEnd::kTimedOut:
                m_strReason = kReasonTimedOut;
                return false;
            case CallEnd::kNoThread:
                break;
        }
        m_strReason = "no thread";
        return false;
    }

    Handle m_handle;
    std::shared_ptr<AbortState> m_pAbort;
    InternetTimeouts m_timeouts;
    DWORD m_nDeadline = 0;
    long long m_nLength = -1;
    long long m_nRead = 0;
    std::string m_strReason;
    DWORD m_nError = 0;
};

class WinConnection : public InternetConnection {
  public:
    WinConnection(HINTERNET h, std::shared_ptr<AbortState> abort, const InternetTimeouts& timeouts)
        : m_handle(h), m_pAbort(std::move(abort)), m_timeouts(timeouts) {}

    std::unique_ptr<InternetRequest> OpenRequest(const std::string& verb, const std::string& object,
                                                 const std::string& /*version*/,
                                                 uint32_t flags) override {
        // HTTP/1.1 and keep-alive, so that the service can reuse the connection.
        HINTERNET h = HttpOpenRequestA(m_handle.get(), verb.c_str(), object.c_str(), "HTTP/1.1",
                                       nullptr, nullptr, flags | kFlagKeepConnection, kContext);
        if (h == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinRequest>(h, m_pAbort, m_timeouts);
    }

  private:
    Handle m_handle;
    std::shared_ptr<AbortState> m_pAbort;
    InternetTimeouts m_timeouts;
};

class WinSession : public InternetSession {
  public:
    WinSession(HINTERNET h, const InternetTimeouts& timeouts)
        : m_handle(h), m_pAbort(std::make_shared<AbortState>()), m_timeouts(timeouts) {}

    void SetAbortCheck(std::function<bool()> check) override {
        std::lock_guard<std::mutex> guard(m_pAbort->lock);
        m_pAbort->check = std::move(check);
    }

    std::unique_ptr<InternetConnection> Connect(const std::string& host, uint16_t port,
                                                const std::string& user,
                                                const std::string& password,
                                                bool /*secure*/) override {
        HINTERNET h = InternetConnectA(m_handle.get(), host.c_str(), port, OrNull(user),
                                       OrNull(password), INTERNET_SERVICE_HTTP, 0, kContext);
        if (h == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinConnection>(h, m_pAbort, m_timeouts);
    }

  private:
    Handle m_handle;
    std::shared_ptr<AbortState> m_pAbort;
    InternetTimeouts m_timeouts;
};

class WinInternetService : public InternetService {
  public:
    uint32_t AttemptConnect() override { return InternetAttemptConnect(0); }

    std::unique_ptr<InternetSession> OpenSession(const std::string& agent, uint32_t accessType,
                                                 uint32_t flags,
                                                 const InternetTimeouts& timeouts) override {
        // Up to six kept connections per server (for HTTP/1.0 servers too).
        DWORD most = kMaxConnectionsPerServer;
        InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &most, sizeof most);
        InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &most, sizeof most);
        HINTERNET h = InternetOpenA(agent.c_str(), accessType, nullptr, nullptr, flags);
        if (h == nullptr) {
            return nullptr;
        }
        return std::make_unique<WinSession>(h, timeouts);
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
