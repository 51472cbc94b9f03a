// Work folders: each grab fills a fresh one, and a folder belongs to the run that
// made it for as long as that run lives (it holds the folder's lock), so that a
// second packager starting meanwhile never sweeps it away.
#pragma once

#include <map>
#include <string>

// The work folders a grabber has made and not yet removed, each with its lock.
class CWorkFolderLocks {
  public:
    CWorkFolderLocks() = default;
    // Removes every folder still held (a grab that failed or was cancelled) with its files:
    // a run leaves nothing behind. Only a run that is killed leaves its folder, for the next
    // start's sweep.
    ~CWorkFolderLocks();
    CWorkFolderLocks(const CWorkFolderLocks&) = delete;
    CWorkFolderLocks& operator=(const CWorkFolderLocks&) = delete;

    // Keeps the lock (a handle from platform::FolderLockTake) of folder.
    void Hold(const std::string& folder, int lock);
    // Ends the lock of folder and deletes its lock file; false when none is held.
    bool Drop(const std::string& folder);

  private:
    std::map<std::string, int> m_mapLocks;
};
