// The HTTP fetcher: one request routine with manual redirects and an
// authorization prompt, and on top of it page fetches, file downloads and
// copies from the URL cache.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "packager/fetch/fetch_limits.h"
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "packager/fetch/url_utils.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "packager/fetch/fetch_prompts.h"

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
const size_t kDownloadChunk = 10024;

// String 5017.
const char kConnectProblem[] =
    "There was a problem connecting to %s. Please verify that you have an internet "
    "connection, and the URL is correct.\r\n\r\nIf you are using Netscape, your proxy settings "
    "may not be set correctly. Navigate to the Windows control panel and double-click on the "
    "Internet icon. In the Connection tab, set your Netscape proxy server settings accordingly.";

// A location longer than any address a browser accepts is refused.
const size_t kMaxLocation = 2083;

std::atomic<uint64_t> g_nMaxPageBytes{64ull << 20};
std::atomic<uint64_t> g_nMaxDownloadBytes{1ull << 30};
std::atomic<int> g_nMaxRedirects{20};

std::string ServerKey(const std::string& server, uint16_t port) {
    std::string key = server;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key + ":" + std::to_string(port);
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

bool IsWebAddress(const std::string& address) {
    return HasPrefix(address, "http://", true) || HasPrefix(address, "https://", true);
}

}  // namespace

FetchLimits GetFetchLimits() {
    return FetchLimits{g_nMaxPageBytes.load(), g_nMaxDownloadBytes.load(), g_nMaxRedirects.load()};
}

void SetFetchLimits(const FetchLimits& limits) {
    g_nMaxPageBytes = limits.nMaxPageBytes;
    g_nMaxDownloadBytes = limits.nMaxDownloadBytes;
    g_nMaxRedirects = limits.nMaxRedirects;
}

std::unique_ptr<platform::InternetRequest> CGrabber::OpenHttpFile(const std::string& server,
                                                                  uint16_t port, std::string object,
                                                                  bool secure, bool reportErrors) {
    std::unique_ptr<platform::InternetRequest> request;
    std::string host = server;
    auto fail = [&]() -> std::unique_ptr<platform::InternetRequest> {
        // A cancelled request is the user's doing, not a connection problem.
        bool cancelled = request && request->FailureReason() == platform::kReasonCancelled;
        request.reset();
        m_pConnection.reset();
        if (reportErrors && !cancelled) {
            std::string where = host + "/" + object;
            std::vector<char> text(sizeof kConnectProblem + where.size());
            std::snprintf(text.data(), text.size(), kConnectProblem, where.c_str());
            ShowFetchMessage(text.data());
        }
        return nullptr;
    };

    platform::InternetSession* session = GetSession();
    m_pConnection.reset();
    if (session == nullptr) {
        return fail();
    }
    // Credentials go only to the server they were entered for.
    bool own = ServerKey(host, port) == m_strCredentialsServer;
    m_pConnection = session->Connect(host, port, own ? m_strUser : std::string(),
                                     own ? m_strPassword : std::string(), secure);
    int redirects = 0;
    for (;;) {
        if (!m_pConnection) {
            return fail();
        }
        request = m_pConnection->OpenRequest("GET", object, "HTTP/1.0",
                                             kRequestFlags | (secure ? platform::kFlagSecure : 0));
        if (!request || !request->AddRequestHeaders(kRequestHeaders, platform::kHeaderAddIfNew) ||
            !request->SendRequest()) {
            return fail();
        }
        uint32_t status = 0;
        if (!request->QueryStatusCode(status)) {
            return fail();
        }
        if (status == 401 || status == 407) {
            std::string user, password;
            if (!AskForCredentials(user, password)) {
                return fail();
            }
            request.reset();
            m_pConnection.reset();
            m_strUser = user;
            m_strPassword = password;
            m_strCredentialsServer = ServerKey(host, port);
            m_pConnection = session->Connect(host, port, m_strUser, m_strPassword, secure);
            continue;
        }
        if (status == 301 || status == 302 || status == 303) {
            std::string headers, location;
            if (++redirects > g_nMaxRedirects || !request->QueryRawHeaders(headers) ||
                !FindLocation(headers, location) || location.empty() ||
                location.size() > kMaxLocation) {
                return fail();
            }
            request.reset();
            m_pConnection.reset();
            if (FindTextNoCase(location, "http", 0) < 0) {
                // A path on the same server; a relative one is taken from the
                // folder of the current path.
                if (location[0] != '/') {
                    size_t slash = object.rfind('/', object.find('?'));
                    location = (slash == std::string::npos ? std::string("/")
                                                           : object.substr(0, slash + 1)) +
                               location;
                }
                object = location;
            } else {
                platform::UrlParts parts;
                if (!platform::CrackUrl(location, 0, parts) || parts.strHost.empty() ||
                    (parts.nScheme != platform::kSchemeHttp &&
                     parts.nScheme != platform::kSchemeHttps)) {
                    return fail();
                }
                // The page is read from where the server sent us: its host,
                // port, scheme and path (keeping the old path would send the
                // same request again, and a port or scheme dropped would reach
                // the wrong service).
                host = parts.strHost;
                port = parts.nPort;
                secure = parts.nScheme == platform::kSchemeHttps;
                if (!parts.strPath.empty()) {
                    object = parts.strPath;
                }
            }
            size_t hash = object.find('#');
            if (hash != std::string::npos) {
                object.erase(hash);
            }
            // A redirected request carries no credentials.
            m_pConnection = session->Connect(host, port, "", "", secure);
            m_strServer = host;
            m_strObject = object;
            m_nPort = port;
            m_bSecure = secure;
            continue;
        }
        if (status == 404) {
            return fail();
        }
        return request;
    }
}

std::unique_ptr<platform::InternetRequest> CGrabber::OpenAddress(std::string address,
                                                                 bool reportErrors) {
    if (FindText(address, m_strScheme, 0) < 0) {
        address = m_strScheme + address;
    }
    std::string canonical;
    platform::UrlParts parts;
    if (!platform::CanonicalizeUrl(address, canonical) ||
        !platform::CrackUrl(canonical, 0, parts, platform::kCanonicalBufferSize,
                            platform::kCanonicalBufferSize) ||
        (parts.nScheme != platform::kSchemeHttp && parts.nScheme != platform::kSchemeHttps) ||
        parts.strHost.empty()) {
        m_pConnection.reset();
        return nullptr;
    }
    // The fragment names a place in the page; it is not sent.
    size_t hash = parts.strPath.find('#');
    if (hash != std::string::npos) {
        parts.strPath.erase(hash);
    }
    m_strServer = parts.strHost;
    m_strObject = parts.strPath;
    m_nPort = parts.nPort;
    m_bSecure = parts.nScheme == platform::kSchemeHttps;
    return OpenHttpFile(m_strServer, m_nPort, m_strObject, m_bSecure, reportErrors);
}

bool CGrabber::FetchPage(CPageRewriter& rewriter, const std::string& address,
                         const std::string& localPath, std::string& pageText,
                         const std::string& folder, GrabJob& job) {
    if (ReportProgress(job, "Opening " + address, 0) == 0) {
        return false;
    }
    if (platform::InternetSession* session = GetSession()) {
        // Waits for the network (this page's and the later downloads') learn of a cancel.
        session->SetAbortCheck([&job] { return PollProgress(job) == 0; });
    }
    std::unique_ptr<platform::InternetRequest> response = OpenAddress(address, true);
    if (!response) {
        return false;
    }
    int file = platform::FileOpen(localPath,
                                  platform::kOpenCreate | platform::kOpenTruncate |
                                      platform::kOpenWriteOnly | platform::kOpenBinary,
                                  platform::kModeReadWrite);
    bool ok = file >= 0;
    pageText.clear();
    if (ok) {
        int32_t counter = 1;
        long long total = 0;
        std::string bytesMessage;
        std::vector<char> chunk(kPageChunk);
        for (;;) {
            long n = response->ReadFile(chunk.data(), chunk.size());
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0) {
                break;
            }
            if (ReportProgress(job, "Reading " + address + bytesMessage, counter) == 0) {
                ok = false;
                break;
            }
            ++counter;
            total += n;
            bytesMessage = "  " + std::to_string(total) + " bytes read";
            // A chunk ends at its first NUL byte.
            const char* end = static_cast<const char*>(std::memchr(chunk.data(), '\0', n));
            size_t length = end ? static_cast<size_t>(end - chunk.data()) : static_cast<size_t>(n);
            if (pageText.size() + length > g_nMaxPageBytes) {
                ok = false;
                break;
            }
            pageText.append(chunk.data(), length);
        }
    }
    if (ok) {
        // The page's references resolve against the address it was read from:
        // after redirects the final scheme, server, port and path.
        std::string scheme = m_bSecure ? "https://" : "http://";
        std::string root = scheme + m_strServer;
        if (m_nPort != (m_bSecure ? 443 : 80)) {
            root += ":" + std::to_string(m_nPort);
        }
        m_strServer = root;
        std::string pageAddress = m_strServer + m_strObject;
        rewriter.ProcessPage(pageAddress, pageText, folder, m_lstFrames, m_lstFramePaths,
                             m_lstResources, m_arrResourceNames, job, &m_mapQueuedFrames);
        CTextModeWriter writer(file);
        ok = writer.Write(pageText);
    }
    if (file >= 0 && platform::FileClose(file) != 0) {
        ok = false;
    }
    response.reset();
    m_pConnection.reset();
    return ok;
}

bool CGrabber::DownloadFile(const std::string& source, const std::string& destination,
                            bool reportErrors, bool textMode) {
    // Web addresses are never looked for on the local disk.
    if (!IsWebAddress(source)) {
        int probe = platform::FileOpen(source, platform::kOpenReadOnly | platform::kOpenBinary);
        if (probe < 0) {
            return false;
        }
        platform::FileClose(probe);
        return platform::FileCopy(source, destination, false);
    }
    std::unique_ptr<platform::InternetRequest> response = OpenAddress(source, reportErrors);
    if (!response) {
        return false;
    }
    if (platform::PathExists(destination)) {
        platform::SetAttributes(destination, platform::kAttrNormal);
    }
    int file = platform::FileOpen(destination,
                                  platform::kOpenCreate | platform::kOpenTruncate |
                                      platform::kOpenWriteOnly | platform::kOpenBinary,
                                  platform::kModeReadWrite);
    bool ok = file >= 0;
    uint64_t total = 0;
    if (ok) {
        CTextModeWriter text(file);
        std::vector<char> chunk(kDownloadChunk);
        for (;;) {
            std::fill(chunk.begin(), chunk.end(), '\0');
            long n = response->ReadFile(chunk.data(), chunk.size());
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0) {
                break;
            }
            total += static_cast<uint64_t>(n);
            if (total > g_nMaxDownloadBytes) {
                ok = false;
                break;
            }
            bool written =
                textMode ? text.Write(chunk.data(), static_cast<size_t>(n))
                         : platform::FileWrite(file, chunk.data(), static_cast<unsigned>(n)) == n;
            if (!written) {
                ok = false;
                break;
            }
        }
        if (platform::FileClose(file) != 0) {
            ok = false;
        }
        // A failed or empty download leaves no file; an empty one still succeeds.
        if (!ok || total == 0) {
            platform::FileRemove(destination);
        }
    }
    response.reset();
    m_pConnection.reset();
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
