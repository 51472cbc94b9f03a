// The fetcher: an internet session, its connection and the credentials entered for one
// server, and one operation, fetching an address into a sink. Questions and messages go
// to the prompts the caller hands (fetch_prompts.h); the fetcher shows nothing itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "packager/address/web_address.h"
#include "packager/fetch/fetch_prompts.h"
#include "packager/fetch/grab_options.h"
#include "platform/internet.h"

// Owns the service's session handle; closes it when closed or destroyed.
class CInternetSession {
  public:
    // Takes the service and opens a session on it with the agent, access type and flags,
    // its requests bounded by timeouts.
    CInternetSession(std::unique_ptr<platform::InternetService> pService, const std::string& agent,
                     uint32_t accessType, uint32_t flags,
                     const platform::InternetTimeouts& timeouts);
    virtual ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Closes the session; later connections fail. Safe to call twice.
    void Close();
    // The session, or null when it could not be opened or is closed.
    platform::InternetSession* GetSession() const { return m_pSession.get(); }
    platform::InternetService& GetService() const { return *m_pService; }
    // The bounds the session was opened with.
    const platform::InternetTimeouts& Timeouts() const { return m_timeouts; }

  protected:
    // Opens the session again with other bounds (a session keeps the ones it opened with);
    // a closed session stays closed. Connections made on the old session must be gone.
    void Reopen(const platform::InternetTimeouts& timeouts);

    std::unique_ptr<platform::InternetService> m_pService;
    std::unique_ptr<platform::InternetSession> m_pSession;

  private:
    std::string m_strAgent;
    uint32_t m_nAccessType;
    uint32_t m_nFlags;
    platform::InternetTimeouts m_timeouts;
};

// Where a fetched body goes.
class CFetchSink {
  public:
    virtual ~CFetchSink() = default;
    // The answer came with this status: false reads nothing, with the sink's failure (empty
    // when the status itself is the cause).
    virtual bool Begin(uint32_t /*status*/, std::string& /*failure*/) { return true; }
    // Asked before each read: false stops (cancelled).
    virtual bool GoOn() { return true; }
    // The next bytes of the body; false stops with failure (empty: cancelled).
    virtual bool Take(const char* data, size_t size, std::string& failure) = 0;
};

// What one fetch came to.
struct CFetchResult {
    bool bOpened = false;    // the request brought an answer
    bool bAnswered = false;  // ... and the sink took it up
    bool bComplete = false;  // ... and its body went into the sink to its end
    bool bCancelled = false;
    uint32_t nStatus = 0;    // the answer's status (0 when none came)
    std::string strAddress;  // where the answer came from, after redirects
    uint64_t nBytes = 0;     // body bytes the sink took
    // Why it is not complete: the request's cause, or the sink's.
    std::string strFailure;
    // The read broke off (a time-out, a broken connection, a cancel), with the service's words.
    bool bReadBroke = false;
    platform::InternetError readError;
};

class CFetcher : public CInternetSession {
  public:
    // Opens the session with the agent "Quillbox!", preconfigured access and the flags
    // existing-connect and no-auto-redirect, bounded by the options' time-outs. The program hands
    // the platform's service (platform::CreateInternetService); tests hand their own. Without
    // prompts it asks nothing and shows nothing.
    explicit CFetcher(std::unique_ptr<platform::InternetService> pService,
                      const CGrabOptions& options = CGrabOptions(),
                      CFetchPrompts* prompts = nullptr);
    // Closes and deletes the connection, then closes the session.
    ~CFetcher() override;

    // Fetches address into sink, reading chunk bytes at a time; follows redirects, asks for
    // credentials, and when reportErrors tells the prompts why the request failed.
    CFetchResult Fetch(const std::string& address, CFetchSink& sink, size_t chunk,
                       bool reportErrors);
    // Copies a local file or downloads an http(s) address to destination (text mode: line
    // feeds as CR LF). False with the cause in m_strFailure.
    bool DownloadFile(const std::string& source, const std::string& destination, bool reportErrors,
                      bool textMode);
    // Tells the user that address cannot be loaded at all (no scheme the fetcher serves, a
    // local file that is not there, too long), with the cause, which m_strFailure keeps.
    void ReportUnusableAddress(const std::string& address);
    // Why the last request brought no usable answer, for the report: the fetcher's cause when
    // the status does not tell it (no answer, a refused or endless redirect), else the status.
    std::string RequestFailure() const;

    CFetchPrompts& Prompts() { return m_pPrompts != nullptr ? *m_pPrompts : m_quiet; }
    void SetPrompts(CFetchPrompts* prompts) { m_pPrompts = prompts; }
    // The options bound the fetches (redirects, sizes, time-outs): other time-outs open the
    // session again, dropping the connection.
    void SetOptions(const CGrabOptions& options);
    const CGrabOptions& Options() const { return m_options; }

    // The user name and password and the server ("host:port", host lower-cased) they were
    // entered for: they are sent to no other.
    struct CCredentials {
        std::string strUser;
        std::string strPassword;
        std::string strServer;
    };
    const CCredentials& Credentials() const { return m_credentials; }
    void SetCredentials(const CCredentials& credentials) { m_credentials = credentials; }

    // Why the last fetch, download or copy failed, as one sentence for the user ("The server
    // answered 404 Not Found."); empty after a success.
    const std::string& Failure() const { return m_strFailure; }
    // The status of the last answer (0 when none came).
    uint32_t LastStatus() const { return m_nLastStatus; }
    // Whether a connection is held (none between fetches).
    bool Connected() const { return m_pConnection != nullptr; }

  protected:
    // The grab records its page's outcome here, and names the page whose scheme completes
    // addresses written without one.
    friend class CGrab;

    // Opens the request, following redirects; null when it failed.
    std::unique_ptr<platform::InternetRequest> OpenHttpFile(const CWebAddress& target,
                                                            bool reportErrors);
    std::unique_ptr<platform::InternetRequest> OpenAddress(std::string address, bool reportErrors);

    CGrabOptions m_options;
    CCredentials m_credentials;
    std::unique_ptr<platform::InternetConnection> m_pConnection;
    // A page whose scheme completes addresses written without one (host and path
    // lower-cased); a cached copy of it resolves against it.
    CWebAddress m_page;
    // Where the last request went, after redirects.
    CWebAddress m_current;
    uint32_t m_nLastStatus = 0;
    std::string m_strFailure;

  private:
    CFetchPrompts* m_pPrompts = nullptr;
    CQuietPrompts m_quiet;
};

// The text of a connection problem with the address it concerns and its cause (the box the
// user sees when a page cannot be fetched).
std::string ConnectProblemText(const std::string& where, const std::string& cause);
// A status as the report names it: "HTTP 404".
std::string HttpStatusText(uint32_t status);
