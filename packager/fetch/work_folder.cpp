// The housekeeping of work folders: making a fresh one that this run holds,
// removing it after the zip, and sweeping at start-up what dead runs left behind.
#include "packager/fetch/work_folder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#ifndef _WIN32
#include <limits.h>
#include <unistd.h>
#endif

#include "packager/fetch/grabber.h"
#include "packager/fetch/page_source.h"
#include "packager/address/url_utils.h"
#include "platform/files.h"

namespace {

bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

#ifndef _WIN32
// Whether the program's folder is where the system keeps installed programs: a folder of
// PATH, or under /usr, /opt, /bin, /sbin or /snap. Nothing of a run goes there, whoever runs
// it (root can write anywhere).
bool IsSystemProgramFolder(const std::string& folder) {
    for (const char* system : {"/usr", "/opt", "/bin", "/sbin", "/snap"}) {
        size_t n = std::strlen(system);
        if (folder.compare(0, n, system) == 0 && (folder.size() == n || folder[n] == '/')) {
            return true;
        }
    }
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        // The program's path has its links resolved; so must the folder's.
        char* real = realpath(folders.substr(start, end - start).c_str(), nullptr);
        bool same = real != nullptr && folder == real;
        std::free(real);
        if (same) {
            return true;
        }
        start = end + 1;
    }
    return false;
}
#endif

// The folder "temp" beside the program, or "" where the program is installed (Linux) or
// its folder cannot take files: the per-user folder serves then.
std::string ProgramWorkRoot() {
    std::string program = platform::GetProgramPath();
    std::string folder = platform::FolderOf(program);
    if (folder.empty()) {
        return "";
    }
#ifndef _WIN32
    if (IsSystemProgramFolder(folder) || access(folder.c_str(), W_OK) != 0) {
        return "";
    }
#endif
    return platform::JoinPath(folder, "temp");
}

// Where work folders go when the program's own folder cannot take them (an
// installed program): a per-user folder; its parents are made when create is set.
std::string UserWorkRoot(bool create) {
#ifdef _WIN32
    std::string base = platform::GetTempFolder();
    if (base.empty()) {
        return "";
    }
    std::string quillbox = platform::JoinPath(base, "Quillbox");
#else
    std::string base;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') {
        base = cache;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            return "";
        }
        base = platform::JoinPath(home, ".cache");
    }
    if (create) {
        platform::FolderCreate(base);
    }
    std::string quillbox = platform::JoinPath(base, "quillbox");
#endif
    if (create) {
        platform::FolderCreate(quillbox);
    }
    return platform::JoinPath(quillbox, "temp");
}

// Deletes the files of a folder except its lock file (not recursive; silent).
void EmptyFolder(const std::string& folder) {
    for (const platform::FindData& entry :
         platform::ListFolder(platform::JoinPath(folder, "*.*"))) {
        if (IsDotEntry(entry.name) || entry.name == platform::kFolderLockName) {
            continue;
        }
        std::string path = platform::JoinPath(folder, entry.name);
        platform::SetAttributes(path, platform::kAttrNormal);
        platform::FileRemove(path);
    }
}

// Empties a work folder and removes it, unless a living run holds its lock;
// errors are ignored.
void SweepOne(const std::string& folder) {
    int lock = platform::FolderLockTake(folder);
    if (lock < 0) {
        return;
    }
    // A run that died while a browser rendered its page left the browser's profile, a tree
    // of its own.
    std::error_code ignored;
    std::filesystem::remove_all(platform::JoinPath(folder, kBrowserProfileName), ignored);
    EmptyFolder(folder);
    // The lock file goes last: until then nobody else can take the folder, and
    // whoever makes a new lock file afterwards keeps the folder from going.
    platform::FolderLockDelete(lock, folder);
    platform::FolderRemove(folder);
}

void SweepRoot(const std::string& root) {
    if (root.empty()) {
        return;
    }
    for (const platform::FindData& entry : platform::ListFolder(platform::JoinPath(root, "*.*"))) {
        if (IsDotEntry(entry.name) || FindTextNoCase(entry.name, "~QB", 0) < 0) {
            continue;
        }
        SweepOne(platform::JoinPath(root, entry.name));
    }
    platform::FolderRemove(root);
}

// Creates folder and takes its lock. 1: made and held; 0: nothing could be
// created there; -1: created, but the lock was taken first by a sweep of another
// run starting at that moment (or cannot be had here), so the folder is left to it.
int MakeHeldFolder(const std::string& folder, int& lock) {
    lock = -1;
    if (!platform::FolderCreate(folder)) {
        return platform::PathExists(folder) ? -1 : 0;
    }
    lock = platform::FolderLockTake(folder);
    if (lock >= 0) {
        return 1;
    }
    platform::FolderRemove(folder);
    return -1;
}

}  // namespace

CWorkFolderLocks::~CWorkFolderLocks() {
    for (const auto& held : m_mapLocks) {
        EmptyFolder(held.first);
        platform::FolderLockDelete(held.second, held.first);
        platform::FolderRemove(held.first);
    }
}

void CWorkFolderLocks::Hold(const std::string& folder, int lock) {
    auto it = m_mapLocks.find(folder);
    if (it != m_mapLocks.end()) {
        platform::FolderLockRelease(it->second);
    }
    m_mapLocks[folder] = lock;
}

bool CWorkFolderLocks::Drop(const std::string& folder) {
    auto it = m_mapLocks.find(folder);
    if (it == m_mapLocks.end()) {
        return false;
    }
    platform::FolderLockDelete(it->second, folder);
    m_mapLocks.erase(it);
    return true;
}

bool CGrabber::MakeWorkFolder(std::string& folder) {
    std::vector<std::string> roots = {ProgramWorkRoot(), UserWorkRoot(true)};
    for (const std::string& root : roots) {
        if (root.empty()) {
            continue;
        }
        platform::FolderCreate(root);
        // The temporary name only looks at names ending ".tmp": a folder made
        // from an earlier name (a grab moments ago) can still be in the way.
        // Such probes are kept until a free name is found, so that the next
        // name differs, and are deleted afterwards.
        std::vector<std::string> probes;
        bool made = false;
        int lock = -1;
        std::string name;
        for (int attempt = 0; attempt < 64 && !made; ++attempt) {
            if (platform::TempFileName(root, "~QB", 0, name) == 0) {
                break;
            }
            probes.push_back(name);
            int dot = FindTextNoCase(name, ".tmp", 0);
            if (dot >= 0) {
                name.erase(static_cast<size_t>(dot));
            }
            int outcome = MakeHeldFolder(name, lock);
            if (outcome == 0) {
                break;
            }
            made = outcome == 1;
        }
        for (const std::string& probe : probes) {
            if (platform::FileExists(probe)) {
                platform::FileRemove(probe);
            }
        }
        if (made) {
            m_workLocks.Hold(name, lock);
            folder = name;
            return true;
        }
        if (!probes.empty()) {
            return false;
        }
        // No unique name here: an unwritable root moves on to the next one;
        // otherwise the fixed name is the last resort.
        if (platform::FolderExists(root)) {
            std::string fixed = platform::JoinPath(root, "~QBTEMP");
            if (MakeHeldFolder(fixed, lock) == 1) {
                m_workLocks.Hold(fixed, lock);
                folder = fixed;
                return true;
            }
            if (!platform::FolderExists(fixed)) {
                continue;
            }
            return false;
        }
    }
    return false;
}

void CGrabber::RemoveFolder(const std::string& path) {
    EmptyFolder(path);
    if (!m_workLocks.Drop(path)) {
        platform::FileRemove(platform::JoinPath(path, platform::kFolderLockName));
    }
    platform::FolderRemove(path);
}

void CGrabber::SweepWorkFolders() {
    SweepRoot(ProgramWorkRoot());
    SweepRoot(UserWorkRoot(false));
}
