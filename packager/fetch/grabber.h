// The grabber: the internet session, the fetcher's connection state, the page queue and the
// resource lists that the page rewriter fills for the grab driver.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/work_folder.h"
#include "platform/internet.h"

class CPageRewriter;

// Ordered list of strings (heads are taken off the page queue) and growable array of strings.
using CStringList = std::deque<std::string>;
using CStringArray = std::vector<std::string>;
// Every frame page queued during one grab: absolute address → its local file name.
using CFrameMap = std::map<std::string, std::string>;

// Owns the service's session handle; closes it when closed or destroyed.
class CInternetSession {
  public:
    // Takes the service and opens a session on it with the agent, access type and flags.
    CInternetSession(std::unique_ptr<platform::InternetService> pService, const std::string& agent,
                     uint32_t accessType, uint32_t flags);
    virtual ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Closes the session; later connections fail. Safe to call twice.
    void Close();
    // The session, or null when it could not be opened or is closed.
    platform::InternetSession* GetSession() const { return m_pSession.get(); }
    platform::InternetService& GetService() const { return *m_pService; }

  protected:
    std::unique_ptr<platform::InternetService> m_pService;
    std::unique_ptr<platform::InternetSession> m_pSession;
};

class CGrabber : public CInternetSession {
  public:
    // Opens the session with the agent "Quillbox!", preconfigured access and the flags
    // existing-connect and no-auto-redirect. The program hands the platform's service
    // (platform::CreateInternetService); tests hand their own.
    explicit CGrabber(std::unique_ptr<platform::InternetService> pService);
    // Closes and deletes the connection, then closes the session.
    ~CGrabber() override;

    // Grab driver. Empty on success, else "Unable to load " + address.
    std::string Grab(const std::string& address, GrabJob& job);
    // Creates a fresh work folder; false when it cannot be made.
    bool MakeWorkFolder(std::string& folder);
    // Local path of a page in folder; returns the scheme number (3 http, 4 https, other for
    // addresses that are not web addresses), -1 when no local name can be made. For web
    // addresses it sets m_strScheme, m_strServer and m_strObject; for others extra receives
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
    // Downloads every collected resource; false when the progress callback stopped it.
    bool LoadResources(const std::string& folder, GrabJob& job);
    // Deletes the files of a work folder and the folder (not recursive; silent).
    void RemoveFolder(const std::string& path);
    // Removes work folders left over from earlier runs (start-up).
    void SweepWorkFolders();

    // Fetcher. The caller owns the returned response (and must then reset m_pConnection).
    std::unique_ptr<platform::InternetRequest> OpenHttpFile(const std::string& server,
                                                            uint16_t port, std::string object,
                                                            bool secure, bool reportErrors);
    std::unique_ptr<platform::InternetRequest> OpenAddress(std::string address, bool reportErrors);
    // Downloads a page, rewrites it and saves it to localPath; true when read to its end.
    bool FetchPage(CPageRewriter& rewriter, const std::string& address,
                   const std::string& localPath, std::string& pageText, const std::string& folder,
                   GrabJob& job);
    // Copies a local file or downloads an http(s) address to destination.
    bool DownloadFile(const std::string& source, const std::string& destination, bool reportErrors,
                      bool textMode);

    // Fields, in this order.
    std::string m_strUser;
    std::string m_strPassword;
    CStringList m_lstResources;
    CStringArray m_arrResourceNames;
    std::unique_ptr<platform::InternetConnection> m_pConnection;
    std::string m_strServer;
    std::string m_strObject;
    uint16_t m_nPort = 0;
    std::string m_strScheme;
    CStringList m_lstFrames;
    CStringList m_lstFramePaths;
    // Every frame page queued during the current grab, so that a frame cycle ends and a
    // repeated reference carries the first local name. Emptied at the start of each grab.
    CFrameMap m_mapQueuedFrames;
    // The server ("host:port", host lower-cased) that m_strUser and m_strPassword were entered
    // for: they are sent to no other.
    std::string m_strCredentialsServer;
    // Whether the last address opened (after redirects) was read over https.
    bool m_bSecure = false;
    // The work folders this grabber made and still holds.
    CWorkFolderLocks m_workLocks;
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
