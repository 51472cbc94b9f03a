// The grab driver: fills a fresh work folder with a page, its frame pages and
// its embedded files. The work folders themselves are made in work_folder.cpp.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "packager/fetch/grabber.h"
#include "packager/fetch/text_file.h"
#include "packager/fetch/url_utils.h"
#include "packager/rewrite/page_rewriter.h"
#include "platform/files.h"
#include "platform/internet.h"
#include "packager/fetch/fetch_prompts.h"

namespace {

const char kUnableToLoad[] = "Unable to load ";

bool IsWebScheme(int scheme) {
    return scheme == platform::kSchemeHttp || scheme == platform::kSchemeHttps;
}

bool IsWebAddress(const std::string& address) {
    return HasPrefix(address, "http://", true) || HasPrefix(address, "https://", true);
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
    m_lstFrames.clear();
    m_lstFramePaths.clear();
    m_lstResources.clear();
    m_arrResourceNames.clear();
    m_mapQueuedFrames.clear();

    std::string folder;
    if (!MakeWorkFolder(folder)) {
        return kUnableToLoad + target;
    }
    std::string localPath, extra;
    int scheme = MakeLocalPath(target, folder, localPath, extra);
    if (scheme == -1) {
        return kUnableToLoad + target;
    }
    // A frame that leads back to the main page shows the saved main page.
    m_mapQueuedFrames.emplace(target, localPath.substr(folder.size() + 1));
    CPageRewriter rewriter;
    if (!LoadPage(target, folder, localPath, scheme, rewriter, job)) {
        return kUnableToLoad + target;
    }
    job.strMainPage = localPath;

    // A page from the web never pulls the user's own files into the archive:
    // frames and resources that resolve to local paths are left out.
    bool fromWeb = IsWebScheme(scheme);
    while (!m_lstFrames.empty()) {
        std::string frame = m_lstFrames.front();
        std::string framePath = m_lstFramePaths.front();
        m_lstFrames.pop_front();
        m_lstFramePaths.pop_front();
        if (fromWeb && !IsWebAddress(frame)) {
            continue;
        }
        std::string scratch;
        int frameScheme = MakeLocalPath(frame, folder, scratch, extra);
        LoadPage(frame, folder, framePath, frameScheme, rewriter, job);
    }
    if (fromWeb) {
        CStringList resources;
        CStringArray names;
        for (size_t i = 0; i < m_lstResources.size(); ++i) {
            if (IsWebAddress(m_lstResources[i])) {
                resources.push_back(m_lstResources[i]);
                names.push_back(m_arrResourceNames[i]);
            }
        }
        m_lstResources.swap(resources);
        m_arrResourceNames.swap(names);
    }
    LoadResources(folder, job);
    m_lstResources.clear();
    m_arrResourceNames.clear();
    return "";
}

int CGrabber::MakeLocalPath(const std::string& address, const std::string& folder,
                            std::string& localPath, std::string& extra) {
    platform::UrlParts parts;
    bool cracked = platform::CrackUrl(address, 0, parts);
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
        return false;
    }
    // A local page's relative references lie beside it, not in whatever folder the
    // packager happens to run in: resolve them against the page's own file: address.
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
    CPageRewriter rewriter;
    std::string address = pageAddress;
    rewriter.ProcessPage(address, content, folder, m_lstFrames, m_lstFramePaths, m_lstResources,
                         m_arrResourceNames, job, &m_mapQueuedFrames);
    file = platform::FileOpen(localPath,
                              platform::kOpenCreate | platform::kOpenTruncate |
                                  platform::kOpenWriteOnly | platform::kOpenBinary,
                              platform::kModeReadWrite);
    if (file < 0) {
        return false;
    }
    CTextModeWriter writer(file);
    bool ok = writer.Write(content);
    return platform::FileClose(file) == 0 && ok;
}

bool CGrabber::LoadResources(const std::string& folder, GrabJob& job) {
    size_t n = m_lstResources.size();
    if (n == 0) {
        return true;
    }
    for (size_t i = 0; i < n; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "Loading images (%d of %d)", static_cast<int>(i),
                      static_cast<int>(n));
        if (ReportProgress(job, text, static_cast<int32_t>(i * 100 / n)) == 0) {
            return false;
        }
        DownloadFile(m_lstResources[i], platform::JoinPath(folder, m_arrResourceNames[i]), false,
                     false);
    }
    return true;
}

