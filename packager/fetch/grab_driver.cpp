// The grab driver: fills a fresh work folder with a page, its frame pages and
// its embedded files. The work folders themselves are made in work_folder.cpp.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "packager/fetch/fetch_limits.h"
#include "packager/fetch/fetch_pool.h"
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "packager/fetch/url_utils.h"
#include "packager/rewrite/css_rewriter.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "platform/settings.h"
#include "packager/fetch/fetch_prompts.h"

namespace {

const char kUnableToLoad[] = "Unable to load ";

bool IsWebScheme(int scheme) {
    return scheme == platform::kSchemeHttp || scheme == platform::kSchemeHttps;
}

// Imports nested deeper than this are left pointing at the web.
const int kMaxImportDepth = 8;

const char kRefusedLocal[] = "refused: a page from the web may not take a file of this machine";
const char kNotWritten[] = "could not be written to the work folder (is the disk full?)";

std::string StatusText(uint32_t status) {
    return "HTTP " + std::to_string(status);
}

bool IsSuccess(uint32_t status) {
    return status >= 200 && status <= 299;
}

bool ReadWholeFile(const std::string& path, std::string& content, uint64_t limit) {
    int file = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (file < 0) {
        return false;
    }
    content.clear();
    std::vector<char> chunk(65536);
    bool ok = true;
    for (;;) {
        int n = platform::FileRead(file, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (n < 0) {
            ok = false;
        }
        if (n <= 0) {
            break;
        }
        if (content.size() + static_cast<size_t>(n) > limit) {
            ok = false;
            break;
        }
        content.append(chunk.data(), static_cast<size_t>(n));
    }
    platform::FileClose(file);
    return ok;
}

}  // namespace

std::string CGrabber::Grab(const std::string& address, GrabJob& job) {
    std::string target = address;
    size_t hash = target.find('#');
    if (hash != std::string::npos) {
        target.erase(hash);
    }
    job.strMainPage.clear();
    // Whatever an earlier, failed grab left behind is not this grab's.
    m_plan.Reset();
    m_bKeepStyles = !m_bNoStyles && platform::ReadSettingInt("Settings", "KeepStyles", 1) != 0;

    std::string folder;
    if (!MakeWorkFolder(folder)) {
        m_plan.SetFailed(m_plan.AddMainPage(target, "-"), "the work folder could not be made");
        return kUnableToLoad + target;
    }
    std::string localPath, extra;
    int scheme = MakeLocalPath(target, folder, localPath, extra);
    if (scheme == -1) {
        ReportUnusableAddress(target);
        m_plan.SetFailed(m_plan.AddMainPage(target, "-"), m_strFailure);
        return kUnableToLoad + target;
    }
    m_bFromWeb = IsWebScheme(scheme);
    // A web page gets a fresh name of the grab; a local page keeps its own.
    size_t main = m_plan.AddMainPage(target, m_bFromWeb ? std::string() : BaseName(localPath));
    localPath = platform::JoinPath(folder, m_plan.At(main).strLocalName);
    CPageRewriter rewriter;
    if (!LoadPage(target, folder, localPath, scheme, rewriter, job)) {
        m_plan.SetFailed(main, PageFailure());
        return kUnableToLoad + target;
    }
    NotePageStatus(main);
    job.strMainPage = localPath;

    // Frames are entries like any other: walking the plan in order and loading the frames
    // as they come is breadth first, and a frame seen before (the main page included) is
    // never loaded twice, so cycles end.
    for (size_t i = main + 1; i < m_plan.Size(); ++i) {
        if (m_plan.At(i).kind != EntryKind::Frame || m_plan.At(i).state != EntryState::Pending) {
            continue;
        }
        std::string frame = m_plan.At(i).strAddress;
        std::string framePath = platform::JoinPath(folder, m_plan.At(i).strLocalName);
        if (m_bFromWeb && !IsWebAddress(frame)) {
            // A page from the web never pulls the user's own files into the archive.
            m_plan.SetFailed(i, kRefusedLocal);
            continue;
        }
        std::string scratch;
        int frameScheme = MakeLocalPath(frame, folder, scratch, extra);
        if (LoadPage(frame, folder, framePath, frameScheme, rewriter, job)) {
            NotePageStatus(i);
        } else {
            m_plan.SetFailed(i, PageFailure());
        }
    }
    if (!LoadResources(folder, job)) {
        // Cancelled: every transfer has stopped, and nothing of the grab is kept.
        job.strMainPage.clear();
        RemoveFolder(folder);
    }
    return "";
}

std::string CGrabber::PageFailure() const {
    if (!m_strLastFailure.empty()) {
        return m_strLastFailure;
    }
    if (m_nLastStatus != 0 && !IsSuccess(m_nLastStatus)) {
        return StatusText(m_nLastStatus);
    }
    if (!m_strFailure.empty()) {
        return m_strFailure;
    }
    if (m_nLastStatus == 0) {
        return "no answer from the server";
    }
    return "not saved: the transfer broke off, was cancelled or could not be written";
}

void CGrabber::NotePageStatus(size_t i) {
    // An error page is still packed as the page, as it always was; the report says so.
    if (m_nLastStatus != 0 && !IsSuccess(m_nLastStatus)) {
        m_plan.SetDone(i, StatusText(m_nLastStatus) + " (the server's error page was packed)");
    } else {
        m_plan.SetDone(i);
    }
}

int CGrabber::MakeLocalPath(const std::string& address, const std::string& folder,
                            std::string& localPath, std::string& extra) {
    platform::UrlParts parts;
    bool cracked = platform::CrackUrl(address, 0, parts, platform::kCanonicalBufferSize,
                                      platform::kCanonicalBufferSize);
    std::string name;
    if (cracked && IsWebScheme(parts.nScheme)) {
        m_strScheme = parts.nScheme == platform::kSchemeHttps ? "https://" : "http://";
        if (!MakePageNames(address, m_strServer, m_strObject, name)) {
            return -1;
        }
    } else {
        std::string path = address;
        if (cracked && parts.nScheme == platform::kSchemeFile) {
            int fileScheme = 0;
            path = FileAddressToPath(address, fileScheme);
        }
        if (!SplitLocalPath(path, name, extra)) {
            return -1;
        }
    }
    localPath = platform::JoinPath(folder, name);
    // A service that leaves "unknown" (-1) for a plain path must not turn a named
    // local page into a failure: -1 means only that no name could be made.
    return parts.nScheme == -1 ? platform::kSchemeDefault : parts.nScheme;
}

bool CGrabber::LoadPage(const std::string& address, const std::string& folder,
                        const std::string& localPath, int scheme, CPageRewriter& rewriter,
                        GrabJob& job) {
    std::string content;
    m_nLastStatus = 0;
    m_strLastFailure.clear();
    m_bLinksAsWritten = !IsWebScheme(scheme);
    if (IsWebScheme(scheme) && TakesRenderedPage(address)) {
        return LoadRenderedPage(address, folder, localPath, content, job);
    }
    if (IsWebScheme(scheme)) {
        if (LoadFromCache(rewriter, address, localPath, content, folder, job)) {
            return true;
        }
        return FetchPage(rewriter, address, localPath, content, folder, job);
    }
    std::string source = address;
    if (scheme == platform::kSchemeFile) {
        int fileScheme = 0;
        source = FileAddressToPath(address, fileScheme);
    }
    if (!DownloadFile(source, localPath, false, false)) {
        m_strLastFailure =
            platform::FileExists(source) ? kNotWritten : "the local file cannot be read";
        return false;
    }
    // A local page's pictures and frames lie beside it, not in whatever folder the
    // packager happens to run in: they resolve against the page's own file: address.
    // Its links keep their text (no path of this machine goes into the page).
    std::string full = platform::GetFullPath(source);
    ProcessSavedPage(full.empty() ? std::string() : LocalPathToFileAddress(full), localPath,
                     content, folder, job);
    return true;
}

bool CGrabber::LoadFromCache(CPageRewriter& /*rewriter*/, const std::string& address,
                             const std::string& localPath, std::string& content,
                             const std::string& folder, GrabJob& job) {
    CCacheCopier copier(GetService());
    if (!copier.CopyFromCache(address, localPath)) {
        return false;
    }
    return ProcessSavedPage(m_strServer + m_strObject, localPath, content, folder, job);
}

bool CGrabber::ProcessSavedPage(const std::string& pageAddress, const std::string& localPath,
                                std::string& content, const std::string& folder, GrabJob& job) {
    int file = platform::FileOpen(localPath, platform::kOpenReadOnly | platform::kOpenBinary);
    if (file < 0) {
        return false;
    }
    content.clear();
    std::vector<char> chunk(65536);
    for (;;) {
        int n = platform::FileRead(file, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (n <= 0) {
            break;
        }
        content.append(chunk.data(), static_cast<size_t>(n));
    }
    platform::FileClose(file);
    platform::FileRemove(localPath);
    // The text ends at the first zero byte.
    size_t nul = content.find('\0');
    if (nul != std::string::npos) {
        content.erase(nul);
    }
    (void)folder;
    std::string address = pageAddress;
    RewritePage(address, content, job);
    file = platform::FileOpen(localPath,
                              platform::kOpenCreate | platform::kOpenTruncate |
                                  platform::kOpenWriteOnly | platform::kOpenBinary,
                              platform::kModeReadWrite);
    if (file < 0) {
        m_strLastFailure = kNotWritten;
        return false;
    }
    CTextModeWriter writer(file);
    bool ok = writer.Write(content);
    ok = platform::FileClose(file) == 0 && ok;
    if (!ok) {
        m_strLastFailure = kNotWritten;
    }
    return ok;
}

void CGrabber::RewritePage(std::string& pageAddress, std::string& text, GrabJob& job) {
    CJobProgress progress(job);
    CRewriteOptions options;
    options.bKeepStyles = m_bKeepStyles;
    options.bLinksAsWritten = m_bLinksAsWritten;
    CReferenceList found;
    m_plan.SetDiscoveryDepth(0);
    CPageRewriter().ProcessPage(pageAddress, text, m_plan, found, progress, options);
}

bool CGrabber::LoadResources(const std::string& folder, GrabJob& job) {
    // Several transfers at once; the plan keeps the names, and the order in which
    // stylesheets are read, those of a one-at-a-time grab.
    return FetchPlanFiles(*this, folder, job, ReadPoolLimits());
}

std::string CGrabber::CurrentAddress() const {
    std::string address = m_bSecure ? "https://" : "http://";
    address += m_strServer;
    if (m_nPort != (m_bSecure ? 443 : 80)) {
        address += ":" + std::to_string(m_nPort);
    }
    return address + m_strObject;
}

void CGrabber::RewriteStylesheet(size_t i, std::string& css, const std::string& base) {
    int depth = m_plan.At(i).nDepth;
    CReferenceList found;
    m_plan.SetDiscoveryDepth(depth + 1);
    CCssContext context{base, m_plan, found, depth < kMaxImportDepth, m_bFromWeb};
    css = RewriteCss(css, context);
    m_plan.SetDiscoveryDepth(0);
}

void CGrabber::FetchResource(size_t i, const std::string& folder) {
    const std::string address = m_plan.At(i).strAddress;
    const std::string destination = platform::JoinPath(folder, m_plan.At(i).strLocalName);
    const bool stylesheet = m_plan.At(i).kind == EntryKind::Stylesheet;
    const FetchLimits limits = GetFetchLimits();

    if (!IsWebAddress(address)) {
        if (m_bFromWeb) {
            m_plan.SetFailed(i, kRefusedLocal);
            return;
        }
        std::string source = address;
        if (StartsWithNoCase(source, "file:")) {
            int fileScheme = 0;
            source = FileAddressToPath(address, fileScheme);
        }
        if (!platform::FileExists(source)) {
            m_plan.SetFailed(i, "the local file cannot be read");
            return;
        }
        bool written;
        if (stylesheet) {
            std::string css;
            if (!ReadWholeFile(source, css, limits.nMaxPageBytes)) {
                m_plan.SetFailed(i, "the local file cannot be read, or is too large");
                return;
            }
            std::string full = platform::GetFullPath(source);
            RewriteStylesheet(i, css, LocalPathToFileAddress(full.empty() ? source : full));
            written = WriteWholeFile(destination, css);
        } else {
            written = platform::FileCopy(source, destination, false);
        }
        if (written) {
            m_plan.SetDone(i);
        } else {
            platform::FileRemove(destination);
            m_plan.SetFailed(i, kNotWritten);
        }
        return;
    }

    m_nLastStatus = 0;
    std::unique_ptr<platform::InternetRequest> response = OpenAddress(address, false);
    if (!response || !IsSuccess(m_nLastStatus)) {
        m_plan.SetFailed(i, m_nLastStatus != 0      ? StatusText(m_nLastStatus)
                            : !m_strFailure.empty() ? m_strFailure
                                                    : "no answer from the server");
        response.reset();
        m_pConnection.reset();
        return;
    }
    const uint64_t limit = stylesheet ? limits.nMaxPageBytes : limits.nMaxDownloadBytes;
    const std::string base = CurrentAddress();
    int file = -1;
    if (!stylesheet) {
        file = platform::FileOpen(destination,
                                  platform::kOpenCreate | platform::kOpenTruncate |
                                      platform::kOpenWriteOnly | platform::kOpenBinary,
                                  platform::kModeReadWrite);
    }
    std::string failure = !stylesheet && file < 0 ? kNotWritten : "";
    std::string body;
    uint64_t total = 0;
    std::vector<char> chunk(65536);
    while (failure.empty()) {
        long n = response->ReadFile(chunk.data(), chunk.size());
        if (n < 0) {
            failure = "the transfer broke off";
            break;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<uint64_t>(n);
        if (total > limit) {
            failure = "too large";
            break;
        }
        if (stylesheet) {
            body.append(chunk.data(), static_cast<size_t>(n));
        } else if (!WriteAll(file, chunk.data(), static_cast<size_t>(n))) {
            failure = kNotWritten;
        }
    }
    response.reset();
    m_pConnection.reset();
    if (file >= 0 && platform::FileClose(file) != 0 && failure.empty()) {
        failure = kNotWritten;
    }
    if (failure.empty() && stylesheet) {
        RewriteStylesheet(i, body, base);
        if (!WriteWholeFile(destination, body)) {
            failure = kNotWritten;
        }
    }
    if (!failure.empty()) {
        platform::FileRemove(destination);
        m_plan.SetFailed(i, failure);
        return;
    }
    if (total == 0 && !stylesheet) {
        platform::FileRemove(destination);  // an empty answer leaves no file, as it always did
    }
    m_plan.SetDone(i);
}
