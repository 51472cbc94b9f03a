// The grab driver: fills a fresh work folder with a page, its frame pages and
// its embedded files. The work folders themselves are made in work_folder.cpp.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "packager/fetch/fetch_pool.h"
#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "packager/address/url_utils.h"
#include "packager/rewrite/css_rewriter.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"

namespace {

const char kUnableToLoad[] = "Unable to load ";
const size_t kNoEntry = static_cast<size_t>(-1);
// Pages and stylesheets are kept as they arrived up to this many bytes in all; one beyond
// it keeps the local names of what failed.
const uint64_t kMostKeptBytes = 256ull << 20;

bool IsWebScheme(int scheme) {
    return scheme == platform::kSchemeHttp || scheme == platform::kSchemeHttps;
}

// Imports nested deeper than this are left pointing at the web.
const int kMaxImportDepth = 8;

const char kRefusedLocal[] = "refused: a page from the web may not take a file of this machine";
const char kNotWritten[] = "could not be written to the work folder (is the disk full?)";

bool IsSuccess(uint32_t status) {
    return status >= 200 && status <= 299;
}

}  // namespace

CGrabber::CGrabber(std::unique_ptr<platform::InternetService> pService, const CGrabOptions& options,
                   CFetchPrompts* prompts)
    : CFetcher(std::move(pService), options, prompts) {}

std::string CGrabber::Grab(const std::string& address, GrabJob& job) {
    CGrab grab(*this, job);
    std::string error = grab.Run(address);
    m_report = std::move(grab.Plan());
    return error;
}

std::string CGrab::Run(const std::string& address) {
    GrabJob& job = m_job;
    std::string target = address;
    size_t hash = target.find('#');
    if (hash != std::string::npos) {
        target.erase(hash);
    }
    job.strMainPage.clear();
    // Whatever an earlier, failed grab left behind is not this grab's.
    m_plan.Reset();
    m_nMain = kNoEntry;
    m_nPageCursor = 0;
    m_keptSources.clear();
    m_nKeptBytes = 0;
    m_g.SetOptions(job.options);

    std::string folder;
    if (!m_g.MakeWorkFolder(folder)) {
        m_plan.SetFailed(m_plan.AddMainPage(target, "-"), "the work folder could not be made");
        return kUnableToLoad + target;
    }
    std::string localPath, extra;
    int scheme = MakeLocalPath(target, folder, localPath, extra);
    if (scheme == -1) {
        m_g.ReportUnusableAddress(target);
        m_plan.SetFailed(m_plan.AddMainPage(target, "-"), m_g.m_strFailure);
        return kUnableToLoad + target;
    }
    m_bFromWeb = IsWebScheme(scheme);
    // A web page gets a fresh name of the grab; a local page keeps its own.
    m_nMain = m_plan.AddMainPage(target, m_bFromWeb ? std::string() : BaseName(localPath));
    bool finished = LoadEntries(folder, job);
    if (m_plan.At(m_nMain).state == EntryState::Failed) {
        return kUnableToLoad + target;
    }
    if (!finished || !PointFailuresAtTheWeb(folder, job)) {
        // Cancelled: every transfer has stopped, and nothing of the grab is kept.
        job.strMainPage.clear();
        m_g.RemoveFolder(folder);
    }
    m_keptSources.clear();
    m_nKeptBytes = 0;
    return "";
}

bool CGrab::LoadEntries(const std::string& folder, GrabJob& job) {
    // The one walk over the plan, which grows as pages and stylesheets are read. The next
    // pending page or frame comes first: taken in plan order they are loaded breadth first,
    // and one seen before (the main page included) is never loaded twice, so cycles end.
    // Only then the files, through the pool, which reads the stylesheets in plan order.
    // Names are given when an address is found, so this order is also the order of names.
    CGrabFiles files(*this, folder, job, m_g.Options());
    for (;;) {
        size_t page = NextPendingPage();
        if (page != kNoEntry) {
            LoadPlanPage(page, folder, job);
            if (page == m_nMain && m_plan.At(page).state == EntryState::Failed) {
                return false;
            }
            continue;
        }
        switch (files.Next()) {
            case CGrabFiles::Turn::More:
                break;
            case CGrabFiles::Turn::Done:
                return true;
            case CGrabFiles::Turn::Stopped:
                return false;
        }
    }
}

size_t CGrab::NextPendingPage() {
    for (; m_nPageCursor < m_plan.Size(); ++m_nPageCursor) {
        const CGrabEntry& entry = m_plan.At(m_nPageCursor);
        if ((entry.kind == EntryKind::Page || entry.kind == EntryKind::Frame) &&
            entry.state == EntryState::Pending) {
            return m_nPageCursor;
        }
    }
    return kNoEntry;
}

void CGrab::LoadPlanPage(size_t i, const std::string& folder, GrabJob& job) {
    const std::string address = m_plan.At(i).strAddress;
    if (i != m_nMain && m_bFromWeb && !IsWebAddress(address)) {
        // A page from the web never pulls the user's own files into the archive.
        m_plan.SetFailed(i, kRefusedLocal);
        return;
    }
    std::string scratch, extra;
    int scheme = MakeLocalPath(address, folder, scratch, extra);
    CPageRewriter rewriter;
    m_nPageEntry = i;
    const std::string path = platform::JoinPath(folder, m_plan.At(i).strLocalName);
    bool loaded = LoadPage(address, folder, path, scheme, rewriter, job);
    m_nPageEntry = kNoEntry;
    if (loaded) {
        NotePageStatus(i);
        if (i == m_nMain) {
            job.strMainPage = path;
        }
    } else {
        m_plan.SetFailed(i, PageFailure());
    }
}

std::string CGrab::PageFailure() const {
    if (!m_strLastFailure.empty()) {
        return m_strLastFailure;
    }
    if (m_g.m_nLastStatus == 0 || !IsSuccess(m_g.m_nLastStatus)) {
        return m_g.RequestFailure();
    }
    if (!m_g.m_strFailure.empty()) {
        return m_g.m_strFailure;
    }
    return "not saved: the transfer broke off, was cancelled or could not be written";
}

void CGrab::NotePageStatus(size_t i) {
    // An error page is still packed as the page, as it always was; the report says so.
    if (m_g.m_nLastStatus != 0 && !IsSuccess(m_g.m_nLastStatus)) {
        m_plan.SetDone(i,
                       HttpStatusText(m_g.m_nLastStatus) + " (the server's error page was packed)");
    } else {
        m_plan.SetDone(i);
    }
}

int CGrab::MakeLocalPath(const std::string& address, const std::string& folder,
                         std::string& localPath, std::string& extra) {
    platform::UrlParts parts;
    bool cracked = platform::CrackUrl(address, 0, parts, platform::kCanonicalBufferSize,
                                      platform::kCanonicalBufferSize);
    std::string name;
    if (cracked && IsWebScheme(parts.nScheme)) {
        std::string lower = address;
        for (char& c : lower) {
            c = LowerAscii(c);
        }
        if (!SplitWebAddressAsWritten(lower, m_g.m_page)) {
            return -1;
        }
        name = "home.htm";
    } else {
        std::string path = address;
        // A file: address is a local page whichever form it takes (file:///, file://localhost/).
        if (StartsWithNoCase(address, "file:")) {
            int fileScheme = 0;
            path = FileAddressToPath(address, fileScheme);
            parts.nScheme = platform::kSchemeFile;
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

bool CGrab::LoadPage(const std::string& address, const std::string& folder,
                     const std::string& localPath, int scheme, CPageRewriter& rewriter,
                     GrabJob& job) {
    std::string content;
    m_g.m_nLastStatus = 0;
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
    if (!m_g.DownloadFile(source, localPath, false, false)) {
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

bool CGrab::LoadFromCache(CPageRewriter& /*rewriter*/, const std::string& address,
                          const std::string& localPath, std::string& content,
                          const std::string& folder, GrabJob& job) {
    CCacheCopier copier(m_g.GetService());
    if (!copier.CopyFromCache(address, localPath)) {
        return false;
    }
    return ProcessSavedPage(m_g.m_page.Text(), localPath, content, folder, job);
}

bool CGrab::ProcessSavedPage(const std::string& pageAddress, const std::string& localPath,
                             std::string& content, const std::string& folder, GrabJob& job) {
    int file = platform::FileOpen(localPath, platform::kOpenReadOnly | platform::kOpenBinary);
    if (file < 0) {
        return false;
    }
    // What could be read is the page, as a browser shows what arrived.
    ReadAll(file, content, UINT64_MAX);
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

bool CGrab::PagePass(std::string& pageAddress, std::string& text, bool linksAsWritten,
                     CLocalNames& names, CReferenceList& found, GrabJob& job) {
    CJobProgress progress(job);
    CRewriteOptions options;
    options.bKeepStyles = m_g.Options().bKeepStyles;
    options.bLinksAsWritten = linksAsWritten;
    return CPageRewriter().ProcessPage(pageAddress, text, names, found, progress, options);
}

void CGrab::RewritePage(std::string& pageAddress, std::string& text, GrabJob& job) {
    // Outside the grab's page steps (a page fetched on its own) nothing is kept.
    CKeptSource kept;
    if (m_nPageEntry != kNoEntry) {
        kept = CKeptSource{m_nPageEntry, pageAddress, text, m_bLinksAsWritten, {}};
    }
    CReferenceList found;
    CPassNames names(m_plan);
    PagePass(pageAddress, text, m_bLinksAsWritten, names, found, job);
    m_plan.Append(found, 0);
    if (m_nPageEntry != kNoEntry) {
        KeepSource(std::move(kept), found);
    }
}

void CGrab::KeepSource(CKeptSource kept, const CReferenceList& found) {
    bool web = false;
    for (const CFoundReference& ref : found) {
        size_t entry = m_plan.Find(ref.strAddress);
        if (entry != std::string::npos && IsWebAddress(ref.strAddress)) {
            kept.lstNamed.push_back(entry);
            web = true;
        }
    }
    // Only what it names on the web can fail and be pointed back at the web.
    if (!web || m_nKeptBytes + kept.strText.size() > kMostKeptBytes) {
        return;
    }
    m_nKeptBytes += kept.strText.size();
    m_keptSources.push_back(std::move(kept));
}

namespace {

// The names of the first pass, except that what failed on the web has none: the pass then
// points its references at their absolute addresses, as it does for links.
class CNamesWithoutFailures : public CLocalNames {
  public:
    explicit CNamesWithoutFailures(const CGrabPlan& plan) : m_plan(plan) {}
    std::string NameFor(const std::string& absoluteAddress, EntryKind) override {
        size_t i = m_plan.Find(absoluteAddress);
        // Not in the plan: it got no name the first time either (the plan was full).
        if (i == std::string::npos || IsFailedWebEntry(m_plan.At(i))) {
            return std::string();
        }
        return m_plan.At(i).strLocalName;
    }
    static bool IsFailedWebEntry(const CGrabEntry& entry) {
        return entry.state == EntryState::Failed && IsWebAddress(entry.strAddress);
    }

  private:
    const CGrabPlan& m_plan;
};

}  // namespace

bool CGrab::PointFailuresAtTheWeb(const std::string& folder, GrabJob& job) {
    CNamesWithoutFailures names(m_plan);
    for (CKeptSource& kept : m_keptSources) {
        const CGrabEntry& entry = m_plan.At(kept.nEntry);
        bool namesFailure = false;
        for (size_t named : kept.lstNamed) {
            namesFailure =
                namesFailure || CNamesWithoutFailures::IsFailedWebEntry(m_plan.At(named));
        }
        if (entry.state != EntryState::Done || !namesFailure) {
            continue;
        }
        std::string text = std::move(kept.strText);
        CReferenceList found;
        std::string path = platform::JoinPath(folder, entry.strLocalName);
        if (entry.kind == EntryKind::Stylesheet) {
            text = CssPass(kept.nEntry, text, kept.strAddress, names, found);
        } else if (!PagePass(kept.strAddress, text, kept.bLinksAsWritten, names, found, job)) {
            return false;
        } else {
            text = ToTextMode(text);
        }
        // A file that cannot be written again keeps what the first pass wrote.
        std::string fresh = path + ".new";
        if (!WriteWholeFile(fresh, text) || !platform::FileReplace(fresh, path)) {
            platform::FileRemove(fresh);
        }
    }
    return true;
}

std::string CGrab::CurrentAddress() const {
    return m_g.m_current.Text();
}

std::string CGrab::CssPass(size_t i, const std::string& css, const std::string& base,
                           CLocalNames& names, CReferenceList& found) {
    CCssContext context{base, names, found, m_plan.At(i).nDepth < kMaxImportDepth, m_bFromWeb};
    return RewriteCss(css, context);
}

void CGrab::RewriteStylesheet(size_t i, std::string& css, const std::string& base) {
    CKeptSource kept{i, base, css, false, {}};
    CReferenceList found;
    CPassNames names(m_plan);
    css = CssPass(i, css, base, names, found);
    // What a stylesheet names is one import deeper than the stylesheet.
    m_plan.Append(found, m_plan.At(i).nDepth + 1);
    KeepSource(std::move(kept), found);
}

void CGrab::FetchResource(size_t i, const std::string& folder) {
    const std::string address = m_plan.At(i).strAddress;
    const std::string destination = platform::JoinPath(folder, m_plan.At(i).strLocalName);
    const bool stylesheet = m_plan.At(i).kind == EntryKind::Stylesheet;
    const CGrabOptions& limits = m_g.Options();

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

    CFileOutcome fetched =
        FetchFile(m_g, address, destination, stylesheet,
                  stylesheet ? limits.nMaxPageBytes : limits.nMaxDownloadBytes, nullptr);
    std::string failure = fetched.strFailure;
    if (failure.empty() && stylesheet) {
        RewriteStylesheet(i, fetched.strBody, fetched.strBase);
        if (!WriteWholeFile(destination, fetched.strBody)) {
            failure = kNotWritten;
        }
    }
    if (!failure.empty()) {
        platform::FileRemove(destination);
        m_plan.SetFailed(i, failure);
        return;
    }
    m_plan.SetDone(i);
}
