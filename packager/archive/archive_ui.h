// What the archive builder shows the user: its task-modal messages and the busy
// cursor while it works.
#pragma once

#include <string>

// The application's name: the program's file name without its extension. It is the
// caption of every message box of the packager and its key in the settings store.
std::string ApplicationName();

// String 111: packing a capture failed.
extern const char* const kStrFailedToWrite;

// A task-modal OK message box with the application's name as caption.
void ArchiveShowMessage(const std::string& text);

// Shows the busy cursor for its lifetime (Windows only).
class ArchiveBusyCursor {
  public:
    ArchiveBusyCursor();
    ~ArchiveBusyCursor();
    ArchiveBusyCursor(const ArchiveBusyCursor&) = delete;
    ArchiveBusyCursor& operator=(const ArchiveBusyCursor&) = delete;

  private:
    [[maybe_unused]] void* m_hPrevious = nullptr;  // Windows only
};
