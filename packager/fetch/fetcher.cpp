// The HTTP fetcher: one request routine with manual redirects and an authorization prompt,
// one body-read loop into a sink, and on top of them page fetches, file downloads and copies
// from the URL cache.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "packager/address/url_utils.h"
#include "packager/address/web_address.h"
#include "packager/fetch/fetcher.h"
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"

namespace {

const char kRequestHeaders[] =
    "Accept: */*\r\n"
    "User-Agent: Mozilla/2.0 (compatible; QLBX 1.0; RV; Windows 95)\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n";

// Use an existing connection, make persistent, no automatic redirect.
const uint32_t kFlagMakePersistent = 0x02000000;
const uint32_t kRequestFlags =
    platform::kFlagExistingConnect | kFlagMakePersistent | platform::kFlagNoAutoRedirect;

const size_t kPageChunk = 102400;
const size_t kFileChunk = 65536;
const char kAgent[] = "Quillbox!";

// String 5017.
const char kConnectProblem[] =
    "There was a problem connecting to %s. Please verify that you have an internet "
    "connection, and the URL is correct.\r\n\r\nIf you are using Netscape, your proxy settings "
    "may not be set correctly. Navigate to the Windows control panel and double-click on the "
    "Internet icon. In the Connection tab, set your Netscape proxy server settings accordingly.";
// The grab's own failure text, for addresses that never reach a server.
const char kUnableToLoad[] = "Unable to load ";

// The longest address a browser accepts; a location or an address beyond it is refused.
const size_t kMaxAddress = 2083;
// Server texts quoted in a message are cut here.
const size_t kMaxQuoted = 120;

// A text from a server, fit to quote: control characters become blanks, and it is cut short.
std::string Quoted(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (out.size() >= kMaxQuoted) {
            out += "...";
            break;
        }
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

// "The server answered 404 Not Found.": the reason is the status line's own.
std::string StatusCause(platform::InternetRequest& request, uint32_t status) {
    std::string headers, reason;
    if (request.QueryRawHeaders(headers)) {
        std::string line = headers.substr(0, headers.find_first_of("\r\n"));
        size_t code = line.find(' ');
        size_t text = code == std::string::npos ? code : line.find(' ', code + 1);
        if (text != std::string::npos) {
            reason = Quoted(line.substr(text + 1));
        }
    }
    return "The server answered " + std::to_string(status) + (reason.empty() ? "" : " ") + reason +
           ".";
}

// A failure of the service, in words that name the server.
std::string TransportCause(const platform::InternetError& error, const CWebAddress& server) {
    std::string detail = Quoted(error.detail);
    const std::string where = server.HostPort();
    switch (error.kind) {
        case platform::InternetFailure::kRefused:
            return "Connection refused by " + where + ".";
        case platform::InternetFailure::kUnresolved:
            return "No server named " + Quoted(server.strHost) + " could be found.";
        case platform::InternetFailure::kTimedOut:
            return "The server " + where + " did not answer in time.";
        case platform::InternetFailure::kCertificate:
            return "The server's certificate is not trusted: " +
                   (detail.empty() ? std::string("no reason given") : detail) + ".";
        case platform::InternetFailure::kOther:
        case platform::InternetFailure::kNone:
            break;
    }
    return "The connection to " + where + " failed" +
           (detail.empty() ? std::string() : ": " + detail) + ".";
}

std::string SizeText(uint64_t bytes) {
    if (bytes != 0 && bytes % (1ull << 30) == 0) {
        return std::to_string(bytes >> 30) + " GiB";
    }
    if (bytes != 0 && bytes % (1ull << 20) == 0) {
        return std::to_string(bytes >> 20) + " MiB";
    }
    return std::to_string(bytes) + " bytes";
}

bool IsWebScheme(const std::string& scheme) {
    std::string lower = scheme;
    for (char& c : lower) {
        c = LowerAscii(c);
    }
    return lower == "http" || lower == "https";
}

// The address as the user gave it, without an "http://" that a caller put in front of a
// local path or of an address with a scheme of its own.
std::string AsGiven(const std::string& address) {
    if (!HasPrefix(address, "http://", true)) {
        return address;
    }
    std::string rest = address.substr(7);
    if (rest[0] == '/' || rest[0] == '\\' || !SchemeOf(rest).empty()) {
        return rest;
    }
    return address;
}

// What is wrong with a local file as a page; empty when nothing is. brief, when given,
// receives the same without the path, for a line that names the file already.
std::string LocalFileProblem(const std::string& path, std::string* brief) {
    std::string full, shorter;
    if (platform::FolderExists(path)) {
        full = path + " is a folder, not a file.";
        shorter = "It is a folder, not a file.";
    } else if (!platform::PathExists(path)) {
        full = "No such file: " + path + ".";
        shorter = "No such file.";
    } else {
        int probe = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
        if (probe < 0) {
            full = "The file " + path + " cannot be read.";
            shorter = "The file cannot be read.";
        } else {
            platform::FileClose(probe);
        }
    }
    if (brief != nullptr) {
        *brief = shorter;
    }
    return full;
}

// What is wrong with an address before any server is asked: too long, a scheme the fetcher
// does not serve, a local file that is not there. Empty when nothing is. brief, when given,
// receives the cause as it reads after the address (a local file's path is not said again).
std::string AddressProblem(const std::string& address, std::string* brief = nullptr) {
    std::string given = AsGiven(address);
    std::string problem;
    std::string scheme = SchemeOf(given);
    if (given.size() > kMaxAddress) {
        problem = "The address is longer than " + std::to_string(kMaxAddress) + " characters.";
    } else if (IsWebScheme(scheme)) {
        return std::string();
    } else if (scheme.empty() || scheme.size() == 1) {  // a path, or one with a drive letter
        return LocalFileProblem(given, brief);
    } else if (FindTextNoCase(scheme, "file", 0) == 0 && scheme.size() == 4) {
        int number = 0;
        return LocalFileProblem(FileAddressToPath(given, number), brief);
    } else {
        problem = "The scheme " + Quoted(scheme) +
                  ": is not supported; only http://, https:// and file: addresses can be fetched.";
    }
    if (brief != nullptr) {
        *brief = problem;
    }
    return problem;
}

// The value of the first header line named Location, in any case, without the
// line break; false when there is none.
bool FindLocation(const std::string& headers, std::string& location) {
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
        if (line.size() >= 9 && FindTextNoCase(line.substr(0, 9), "location:", 0) == 0) {
            size_t from = 9;
            while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) {
                ++from;
            }
            location = line.substr(from);
            while (!location.empty() && (location.back() == ' ' || location.back() == '\t')) {
                location.pop_back();
            }
            return true;
        }
    }
    return false;
}

bool IsRedirect(uint32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The absolute address a Location names, from the request it answers. Absolute when it has
// a scheme, on the same scheme when it begins with "//"; otherwise a path on the same server,
// from the root when it begins with "/", else beside the current path. Dot segments and
// unsafe characters are left to the canonical form.
std::string ResolveLocation(const std::string& location, const CWebAddress& from) {
    if (!SchemeOf(location).empty()) {
        return location;
    }
    if (location.compare(0, 2, "//") == 0) {
        return (from.bSecure ? "https:" : "http:") + location;
    }
    std::string origin = from.Origin();
    if (location[0] == '/') {
        return origin + location;
    }
    const std::string& path = from.strPath;
    if (location[0] == '?') {
        return origin + path + location;
    }
    size_t slash = path.rfind('/');
    return origin + (slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1)) +
           location;
}

}  // namespace

std::string ConnectProblemText(const std::string& where, const std::string& cause) {
    std::vector<char> text(sizeof kConnectProblem + where.size());
    std::snprintf(text.data(), text.size(), kConnectProblem, where.c_str());
    return std::string(text.data()) + "\r\n\r\n" + cause;
}

std::string HttpStatusText(uint32_t status) {
    return "HTTP " + std::to_string(status);
}

CInternetSession::CInternetSession(std::unique_ptr<platform::InternetService> pService,
                                   const std::string& agent, uint32_t accessType, uint32_t flags,
                                   const platform::InternetTimeouts& timeouts)
    : m_pService(std::move(pService)),
      m_strAgent(agent),
      m_nAccessType(accessType),
      m_nFlags(flags),
      m_timeouts(timeouts) {
    if (m_pService) {
        m_pSession = m_pService->OpenSession(m_strAgent, m_nAccessType, m_nFlags, m_timeouts);
    }
}

void CInternetSession::Reopen(const platform::InternetTimeouts& timeouts) {
    m_timeouts = timeouts;
    if (m_pSession) {
        m_pSession.reset();
        m_pSession = m_pService->OpenSession(m_strAgent, m_nAccessType, m_nFlags, m_timeouts);
    }
}

CInternetSession::~CInternetSession() {
    Close();
}

void CInternetSession::Close() {
    m_pSession.reset();
}

CFetcher::CFetcher(std::unique_ptr<platform::InternetService> pService, const CGrabOptions& options,
                   CFetchPrompts* prompts)
    : CInternetSession(std::move(pService), kAgent, platform::kInternetOpenTypePreconfig,
                       platform::kFlagExistingConnect | platform::kFlagNoAutoRedirect,
                       options.timeouts),
      m_options(options),
      m_pPrompts(prompts) {}

void CFetcher::SetOptions(const CGrabOptions& options) {
    m_options = options;
    if (options.timeouts != Timeouts()) {
        // The connection belongs to the session it was made on.
        m_pConnection.reset();
        Reopen(options.timeouts);
    }
}

CFetcher::~CFetcher() {
    // The connection belongs to the session: it goes first.
    m_pConnection.reset();
    Close();
}

std::unique_ptr<platform::InternetRequest> CFetcher::OpenHttpFile(const CWebAddress& target,
                                                                  bool reportErrors) {
    std::unique_ptr<platform::InternetRequest> request;
    // Where the request goes: the address given, then each redirect's.
    m_current = target;
    m_strFailure.clear();
    m_nLastStatus = 0;
    auto fail = [&](const std::string& cause) -> std::unique_ptr<platform::InternetRequest> {
        // A cancelled request is the user's doing, not a connection problem.
        bool cancelled = request && request->FailureReason() == platform::kReasonCancelled;
        request.reset();
        m_pConnection.reset();
        m_strFailure = cancelled ? std::string() : cause;
        if (reportErrors && !cancelled) {
            std::string where = m_current.Text();
            Prompts().ShowFetchFailure(ConnectProblemText(where, cause), where, cause);
        }
        return nullptr;
    };

    platform::InternetSession* session = GetSession();
    m_pConnection.reset();
    if (session == nullptr) {
        return fail("The internet service is not available.");
    }
    // Credentials go only to the server they were entered for.
    auto connect = [&]() {
        bool own = m_current.ServerKey() == m_credentials.strServer;
        m_pConnection = session->Connect(
            m_current.strHost, m_current.nPort, own ? m_credentials.strUser : std::string(),
            own ? m_credentials.strPassword : std::string(), m_current.bSecure);
    };
    connect();
    int redirects = 0;
    for (;;) {
        const std::string server = m_current.HostPort();
        if (!m_pConnection) {
            return fail("No connection to " + server + " could be made.");
        }
        request = m_pConnection->OpenRequest(
            "GET", m_current.Object(), "HTTP/1.0",
            kRequestFlags | (m_current.bSecure ? platform::kFlagSecure : 0));
        if (!request) {
            return fail("No request to " + server + " could be made.");
        }
        if (!request->AddRequestHeaders(kRequestHeaders, platform::kHeaderAddIfNew) ||
            !request->SendRequest()) {
            return fail(TransportCause(request->QueryError(), m_current));
        }
        uint32_t status = 0;
        if (!request->QueryStatusCode(status)) {
            return fail("The server " + server + " sent no valid answer.");
        }
        m_nLastStatus = status;
        if (status == 401 || status == 407) {
            std::string user, password;
            if (!Prompts().AskForCredentials(server, user, password)) {
                return fail(StatusCause(*request, status));
            }
            request.reset();
            m_pConnection.reset();
            m_credentials = CCredentials{user, password, m_current.ServerKey()};
            connect();
            continue;
        }
        if (IsRedirect(status)) {
            if (++redirects > m_options.nMaxRedirects) {
                return fail("The server redirected more than " +
                            std::to_string(m_options.nMaxRedirects) + " times.");
            }
            std::string headers, location;
            if (!request->QueryRawHeaders(headers) || !FindLocation(headers, location) ||
                location.empty() || location.size() > kMaxAddress) {
                std::string cause = StatusCause(*request, status);
                return fail(cause.substr(0, cause.size() - 1) + " without a usable Location.");
            }
            CWebAddress next;
            if (!ParseWebAddress(ResolveLocation(location, m_current), next)) {
                return fail("The server redirected to " + Quoted(location) +
                            ", which cannot be fetched.");
            }
            // The page is read from where the server sent us: its host, port, scheme and
            // path with its query.
            request.reset();
            m_pConnection.reset();
            m_current = next;
            connect();
            continue;
        }
        if (status == 404) {
            return fail(StatusCause(*request, status));
        }
        return request;
    }
}

std::unique_ptr<platform::InternetRequest> CFetcher::OpenAddress(std::string address,
                                                                 bool reportErrors) {
    // Only an address without a scheme of its own takes the page's: "https://" in front of
    // "http://cdn/x.gif", or of "HTTP://host/x", would name a server "http".
    if (SchemeOf(address).empty() && m_page.IsSet()) {
        const std::string scheme = m_page.bSecure ? "https:" : "http:";
        address = address.compare(0, 2, "//") == 0 ? scheme + address : scheme + "//" + address;
    }
    CWebAddress target;
    std::string problem = AddressProblem(address);
    if (!problem.empty() || !ParseWebAddress(address, target)) {
        m_pConnection.reset();
        m_strFailure = problem.empty() ? "The address is not a web address." : problem;
        m_nLastStatus = 0;
        if (reportErrors) {
            Prompts().ShowFetchFailure(kUnableToLoad + AsGiven(address) + "\r\n\r\n" + m_strFailure,
                                       AsGiven(address), m_strFailure);
        }
        return nullptr;
    }
    return OpenHttpFile(target, reportErrors);
}

void CFetcher::ReportUnusableAddress(const std::string& address) {
    std::string brief;
    m_strFailure = AddressProblem(address, &brief);
    if (m_strFailure.empty()) {
        m_strFailure = brief = "The address cannot be understood.";
    }
    Prompts().ShowFetchFailure(kUnableToLoad + AsGiven(address) + "\r\n\r\n" + m_strFailure,
                               AsGiven(address), brief);
}

std::string CFetcher::RequestFailure() const {
    // A redirect's status is never the cause: the fetcher's words say what was wrong with it.
    bool redirect = m_nLastStatus >= 300 && m_nLastStatus <= 399;
    if (!m_strFailure.empty() && (m_nLastStatus == 0 || redirect)) {
        return m_strFailure;
    }
    return m_nLastStatus != 0 ? HttpStatusText(m_nLastStatus) : "no answer from the server";
}

CFetchResult CFetcher::Fetch(const std::string& address, CFetchSink& sink, size_t chunk,
                             bool reportErrors) {
    CFetchResult result;
    std::unique_ptr<platform::InternetRequest> response = OpenAddress(address, reportErrors);
    result.nStatus = m_nLastStatus;
    result.strAddress = m_current.Text();
    if (!response) {
        result.strFailure = m_strFailure;
        result.bCancelled = m_strFailure.empty();
        return result;
    }
    result.bOpened = true;
    result.bAnswered = sink.Begin(result.nStatus, result.strFailure);
    std::vector<char> buffer(result.bAnswered ? chunk : 0);
    while (result.bAnswered) {
        if (!sink.GoOn()) {
            result.bCancelled = true;
            break;
        }
        long n = response->ReadFile(buffer.data(), buffer.size());
        if (n < 0) {
            result.bReadBroke = true;
            result.bCancelled = response->FailureReason() == platform::kReasonCancelled;
            result.readError = response->QueryError();
            break;
        }
        if (n == 0) {
            result.bComplete = true;
            break;
        }
        result.nBytes += static_cast<uint64_t>(n);
        if (!sink.Take(buffer.data(), static_cast<size_t>(n), result.strFailure)) {
            result.bCancelled = result.strFailure.empty();
            break;
        }
    }
    response.reset();
    m_pConnection.reset();
    return result;
}

namespace {

// A page as it arrives: held in memory (to its first NUL byte in each read) within the page
// bound, with "Reading <address>  <n> bytes read" reported before each part; the file it is
// saved to is made once the answer is there.
class CPageSink : public CFetchSink {
  public:
    CPageSink(const std::string& address, const std::string& localPath, uint64_t limit,
              GrabJob& job, std::string& text)
        : m_address(address), m_localPath(localPath), m_limit(limit), m_job(job), m_text(text) {}
    bool Begin(uint32_t, std::string& failure) override {
        if (!m_file.Open(m_localPath)) {
            failure = "The page cannot be saved as " + m_localPath + ".";
            return false;
        }
        return true;
    }
    bool Take(const char* data, size_t size, std::string& failure) override {
        if (ReportProgress(m_job, "Reading " + m_address + m_bytesMessage, m_nCounter) == 0) {
            return false;
        }
        ++m_nCounter;
        m_nTotal += static_cast<long long>(size);
        m_bytesMessage = "  " + std::to_string(m_nTotal) + " bytes read";
        // A part ends at its first NUL byte.
        const char* end = static_cast<const char*>(std::memchr(data, '\0', size));
        size_t length = end ? static_cast<size_t>(end - data) : size;
        if (m_text.size() + length > m_limit) {
            failure = "The page is larger than " + SizeText(m_limit) + ".";
            return false;
        }
        m_text.append(data, length);
        return true;
    }
    bool Close() { return m_file.Close(); }
    int File() const { return m_file.Handle(); }

  private:
    const std::string& m_address;
    const std::string& m_localPath;
    uint64_t m_limit;
    GrabJob& m_job;
    std::string& m_text;
    CNewFile m_file;
    int32_t m_nCounter = 1;
    long long m_nTotal = 0;
    std::string m_bytesMessage;
};

// A file as it arrives, written as it comes (in text mode when asked) within a bound; a
// file that was there is made writable first.
class CFileSink : public CFetchSink {
  public:
    CFileSink(const std::string& destination, uint64_t limit, bool textMode)
        : m_destination(destination), m_limit(limit), m_bTextMode(textMode) {}
    bool Begin(uint32_t, std::string& failure) override {
        if (platform::PathExists(m_destination)) {
            platform::SetAttributes(m_destination, platform::kAttrNormal);
        }
        if (!m_file.Open(m_destination)) {
            failure = "The file cannot be saved as " + m_destination + ".";
            return false;
        }
        m_text = std::make_unique<CTextModeWriter>(m_file.Handle());
        return true;
    }
    bool Take(const char* data, size_t size, std::string& failure) override {
        m_nTotal += size;
        if (m_nTotal > m_limit) {
            failure = "The file is larger than " + SizeText(m_limit) + ".";
            return false;
        }
        if (!(m_bTextMode ? m_text->Write(data, size) : WriteAll(m_file.Handle(), data, size))) {
            failure = "The file cannot be written to " + m_destination + ".";
            return false;
        }
        return true;
    }
    bool Close() { return m_file.Close(); }

  private:
    std::string m_destination;
    uint64_t m_limit;
    bool m_bTextMode;
    CNewFile m_file;
    std::unique_ptr<CTextModeWriter> m_text;
    uint64_t m_nTotal = 0;
};

}  // namespace

bool CGrab::FetchPage(CPageRewriter& rewriter, const std::string& address,
                      const std::string& localPath, std::string& pageText,
                      const std::string& folder, GrabJob& job) {
    if (ReportProgress(job, "Opening " + address, 0) == 0) {
        return false;
    }
    if (platform::InternetSession* session = m_g.GetSession()) {
        // Waits for the network (this page's and the later downloads') learn of a cancel.
        session->SetAbortCheck([&job] { return PollProgress(job) == 0; });
    }
    pageText.clear();
    CPageSink sink(address, localPath, m_g.Options().nMaxPageBytes, job, pageText);
    CFetchResult fetched = m_g.Fetch(address, sink, kPageChunk, true);
    if (!fetched.bOpened) {
        return false;  // the request failed, and said so
    }
    // Failures past this point are about the page as it arrives: they name where it came from.
    std::string cause = fetched.strFailure;
    bool ok = fetched.bComplete;
    bool cancelled = fetched.bCancelled;
    if (fetched.bReadBroke && !cancelled) {
        std::string detail = Quoted(fetched.readError.detail);
        cause = fetched.readError.kind == platform::InternetFailure::kTimedOut
                    ? "The server " + m_g.m_current.HostPort() + " stopped sending the page."
                    : "The connection to " + m_g.m_current.HostPort() +
                          " broke while the page was read" +
                          (detail.empty() ? std::string() : ": " + detail) + ".";
    }
    // Where the page was read from: after redirects the final scheme, server, port and path.
    const std::string& pageAddress = fetched.strAddress;
    if (ok) {
        // The page's references resolve against that address.
        (void)rewriter;
        (void)folder;
        std::string base = pageAddress;
        RewritePage(base, pageText, job);
        CTextModeWriter writer(sink.File());
        ok = writer.Write(pageText);
        if (!ok) {
            cause =
                "The page cannot be written to " + localPath + ": " + std::strerror(errno) + ".";
            m_strLastFailure = "could not be written to the work folder (is the disk full?)";
        }
    }
    if (!sink.Close() && ok) {
        ok = false;
        cause = "The page cannot be written to " + localPath + ": " + std::strerror(errno) + ".";
        m_strLastFailure = "could not be written to the work folder (is the disk full?)";
    }
    m_g.m_strFailure = ok || cancelled ? std::string() : cause;
    if (!m_g.m_strFailure.empty()) {
        m_g.Prompts().ShowFetchFailure(ConnectProblemText(pageAddress, m_g.m_strFailure),
                                       pageAddress, m_g.m_strFailure);
    }
    return ok;
}

bool CFetcher::DownloadFile(const std::string& source, const std::string& destination,
                            bool reportErrors, bool textMode) {
    m_strFailure.clear();
    // Web addresses are never looked for on the local disk.
    if (!IsWebAddress(source)) {
        int probe = platform::FileOpen(source, platform::kOpenReadOnly | platform::kOpenBinary);
        if (probe < 0) {
            m_strFailure = AddressProblem(source);
            if (m_strFailure.empty()) {
                m_strFailure = "The file " + source + " cannot be read.";
            }
            return false;
        }
        platform::FileClose(probe);
        if (!platform::FileCopy(source, destination, false)) {
            m_strFailure = "The file " + source + " cannot be copied to " + destination + ".";
            return false;
        }
        return true;
    }
    CFileSink sink(destination, m_options.nMaxDownloadBytes, textMode);
    CFetchResult fetched = Fetch(source, sink, kFileChunk, reportErrors);
    if (!fetched.bOpened) {
        return false;  // the request failed
    }
    std::string cause = fetched.strFailure;
    if (fetched.bReadBroke) {
        std::string detail = Quoted(fetched.readError.detail);
        cause = "The connection to " + m_current.HostPort() + " broke while the file was read" +
                (detail.empty() ? std::string() : ": " + detail) + ".";
    }
    bool ok = fetched.bComplete;
    if (fetched.bAnswered) {
        if (!sink.Close() && ok) {
            ok = false;
            cause = "The file cannot be written to " + destination + ".";
        }
        // A failed or empty download leaves no file; an empty one still succeeds.
        if (!ok || fetched.nBytes == 0) {
            platform::FileRemove(destination);
        }
    }
    m_strFailure = cause;
    if (!ok && reportErrors) {
        Prompts().ShowFetchFailure(ConnectProblemText(fetched.strAddress, cause),
                                   fetched.strAddress, cause);
    }
    return ok;
}

bool CCacheCopier::CopyFromCache(const std::string& address, const std::string& destination) {
    std::string key = address;
    std::replace(key.begin(), key.end(), '\\', '/');
    size_t dot = key.rfind('.');
    if (dot != std::string::npos && key.find("htm", dot + 1) != std::string::npos) {
        size_t slash = key.rfind('/');
        if (slash != std::string::npos) {
            key = key.substr(slash + 1);
        }
    }
    std::string cached;
    if (m_service.GetUrlCacheEntry(key, cached)) {
        return platform::FileCopy(cached, destination, false);
    }
    dot = key.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    std::string extension = key.substr(dot + 1);
    static const char* const kOther[][2] = {
        {"htm", "html"}, {"html", "htm"}, {"jpg", "jpeg"}, {"jpeg", "jpg"}};
    for (const auto& pair : kOther) {
        if (extension == pair[0]) {
            key = key.substr(0, dot + 1) + pair[1];
            if (m_service.GetUrlCacheEntry(key, cached)) {
                return platform::FileCopy(cached, destination, false);
            }
            return false;
        }
    }
    // Any other extension: the lookup is made again under the same key.
    if (m_service.GetUrlCacheEntry(key, cached)) {
        return platform::FileCopy(cached, destination, false);
    }
    return false;
}
