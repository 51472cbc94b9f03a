// The grabber: a fetcher with the plan of the current grab (every page, frame and file it
// captures, which is also its report).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "packager/fetch/fetcher.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_options.h"
#include "packager/fetch/grab_plan.h"
#include "packager/fetch/page_source.h"
#include "packager/fetch/work_folder.h"

class CPageRewriter;

class CGrabber : public CFetcher {
  public:
    // The fetcher's session (fetcher.h); the options bound the fetches made outside a grab,
    // a grab takes its job's. Questions and messages go to prompts (none: asked nothing).
    explicit CGrabber(std::unique_ptr<platform::InternetService> pService,
                      const CGrabOptions& options = CGrabOptions(),
                      CFetchPrompts* prompts = nullptr);

    // Runs one grab of address for job (a CGrab of its own), with the job's options.
    // Empty on success, else "Unable to load " + address.
    std::string Grab(const std::string& address, GrabJob& job);
    // The plan of the last grab: what it captured and what failed, and why.
    const CGrabPlan& GetReport() const { return m_report; }
    // Creates a fresh work folder; false when it cannot be made.
    bool MakeWorkFolder(std::string& folder);
    // Deletes the files of a work folder and the folder (not recursive; silent).
    void RemoveFolder(const std::string& path);
    // Removes work folders left over from earlier runs (start-up).
    void SweepWorkFolders();

  private:
    CGrabPlan m_report;
    // The work folders this grabber made and still holds.
    CWorkFolderLocks m_workLocks;
};

// One grab, made for one job: it owns the plan (every page, frame and file it captures, in
// the order found, which is also its report) and fills a fresh work folder through the
// grabber's fetcher.
class CGrab {
  public:
    CGrab(CGrabber& grabber, GrabJob& job) : m_g(grabber), m_job(job) {}
    CGrab(const CGrab&) = delete;
    CGrab& operator=(const CGrab&) = delete;

    // The grab driver. Empty on success, else "Unable to load " + address.
    std::string Run(const std::string& address);
    CGrabPlan& Plan() { return m_plan; }
    CFetcher& Fetcher() { return m_g; }

    // Local path of a page in folder; returns the scheme number (3 http, 4 https, other for
    // addresses that are not web addresses), -1 when no local name can be made. For web
    // addresses it sets m_page; for others extra receives
    // the folder of the local file.
    int MakeLocalPath(const std::string& address, const std::string& folder, std::string& localPath,
                      std::string& extra);
    // Saves one page (cache, download or local copy) and rewrites it; false when not saved.
    bool LoadPage(const std::string& address, const std::string& folder,
                  const std::string& localPath, int scheme, CPageRewriter& rewriter, GrabJob& job);
    // Copies the page from the URL cache and rewrites it; false on a cache miss.
    bool LoadFromCache(CPageRewriter& rewriter, const std::string& address,
                       const std::string& localPath, std::string& content,
                       const std::string& folder, GrabJob& job);
    // Reads a saved page, rewrites it with pageAddress as its address and writes it back in
    // text mode; false when the file cannot be opened.
    bool ProcessSavedPage(const std::string& pageAddress, const std::string& localPath,
                          std::string& content, const std::string& folder, GrabJob& job);
    // Loads every pending entry of the plan into folder, in one loop: the next pending page
    // or frame first, then the files (pictures, stylesheets with what they import, fonts,
    // other files), several at once (fetch_pool.h). What a page or stylesheet names joins
    // the plan and is loaded in its turn. False when the progress callback stopped it or
    // the main page could not be loaded.
    bool LoadEntries(const std::string& folder, GrabJob& job);
    // The first pending page or frame from the page cursor on, or npos.
    size_t NextPendingPage();
    // Loads page or frame entry i and records its outcome.
    void LoadPlanPage(size_t i, const std::string& folder, GrabJob& job);
    // Fetches entry i of the plan into folder and records its outcome; a stylesheet goes
    // through the CSS pass first. Only a 2xx answer is saved.
    void FetchResource(size_t i, const std::string& folder);
    // Runs the page pass on a page of this grab with the grab's options; its references
    // join the plan.
    void RewritePage(std::string& pageAddress, std::string& text, GrabJob& job);
    // Why the page just tried could not be saved, for the report.
    std::string PageFailure() const;
    // Records a saved page's outcome: done, with the status when it was an error page.
    void NotePageStatus(size_t i);
    // The address the last answer came from (after redirects).
    std::string CurrentAddress() const;
    // The CSS pass over stylesheet entry i, read from base; its references join the plan
    // one import deeper.
    void RewriteStylesheet(size_t i, std::string& css, const std::string& base);
    // The page pass and the CSS pass of this grab with the names given; PagePass is false
    // when the progress callback stopped it.
    bool PagePass(std::string& pageAddress, std::string& text, bool linksAsWritten,
                  CLocalNames& names, CReferenceList& found, GrabJob& job);
    std::string CssPass(size_t i, const std::string& css, const std::string& base,
                        CLocalNames& names, CReferenceList& found);
    // Rewrites again, from the text they arrived with, the pages and stylesheets of the grab
    // that name a web address that could not be fetched, so that such a reference points
    // back at the web instead of at a local name that was never written. False when the
    // progress callback stopped it.
    bool PointFailuresAtTheWeb(const std::string& folder, GrabJob& job);

    // Downloads a page, rewrites it and saves it to localPath; true when read to its end.
    bool FetchPage(CPageRewriter& rewriter, const std::string& address,
                   const std::string& localPath, std::string& pageText, const std::string& folder,
                   GrabJob& job);
    // Whether the page at address comes from the rendered capture: the main page, or a frame
    // document that the capture took (other frames are fetched).
    bool TakesRenderedPage(const std::string& address) const;
    // Saves a rendered page (for the main page: has the page source render it first) and
    // runs the page pass on it; false when not saved.
    bool LoadRenderedPage(const std::string& address, const std::string& folder,
                          const std::string& localPath, std::string& content, GrabJob& job);

    // Every page, frame and file of the current grab, in the order found (the page queue
    // and the resource lists in one).
    CGrabPlan m_plan;
    // Why the last page could not be saved when it was not the answer's fault.
    std::string m_strLastFailure;
    // For the grab running: the main page came from the web, and the page being rewritten
    // is a local file.
    bool m_bFromWeb = false;
    bool m_bLinksAsWritten = false;
    // A page or stylesheet of the grab as it arrived, kept until the grab's files are
    // fetched (PointFailuresAtTheWeb), with what its pass pointed at local names.
    struct CKeptSource {
        size_t nEntry = 0;       // its plan entry
        std::string strAddress;  // what its references resolve against
        std::string strText;     // its text before the pass
        bool bLinksAsWritten = false;
        std::vector<size_t> lstNamed;  // plan entries it names
    };
    std::vector<CKeptSource> m_keptSources;
    // Keeps a source whose pass (which found these references) named something on the web,
    // while the kept texts stay within their bound.
    void KeepSource(CKeptSource kept, const CReferenceList& found);
    uint64_t m_nKeptBytes = 0;
    // The plan entry of the page being loaded (npos outside the grab's page steps).
    size_t m_nPageEntry = static_cast<size_t>(-1);
    // The grab's main page (npos when the plan has none), and the first entry that may
    // still be a pending page.
    size_t m_nMain = static_cast<size_t>(-1);
    size_t m_nPageCursor = 0;
    // What the rendered capture of the current grab took.
    CRenderedPage m_rendered;

  private:
    CGrabber& m_g;
    GrabJob& m_job;
};

// Copies one address's cached copy from the URL cache (the grab driver makes one per copy).
class CCacheCopier {
  public:
    explicit CCacheCopier(platform::InternetService& service) : m_service(service) {}
    // True when a cached copy of address was written to destination.
    bool CopyFromCache(const std::string& address, const std::string& destination);

  private:
    platform::InternetService& m_service;
};
