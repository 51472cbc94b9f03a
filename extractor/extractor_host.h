// The narrow view of the operating system that the extractor's logic needs. One
// implementation talks to Win32 (windows, message boxes, CreateProcess), one to a POSIX
// terminal; tests install a fake to watch what the driver asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace spillet {

class CExtractorHost {
  public:
    virtual ~CExtractorHost() = default;

    // Low-level files, flags and mode in the Windows C runtime's numbering (0x0001 write-only,
    // 0x0002 read-write, 0x0008 append, 0x0020 sequential, 0x0100 create, 0x0200 truncate,
    // 0x0400 exclusive, 0x8000 binary). Open returns -1 on failure; read/write return the
    // count moved or -1; seek returns the new position or -1.
    virtual int Open(const std::string& path, int flags, int mode) = 0;
    virtual long Read(int fd, void* buffer, unsigned long count) = 0;
    virtual long Write(int fd, const void* buffer, unsigned long count) = 0;
    virtual long Seek(int fd, long offset, int origin) = 0;
    virtual int Close(int fd) = 0;

    // Paths use backslashes as separators, as the cabinet names do; a POSIX host maps them.
    virtual bool Exists(const std::string& path) = 0;
    virtual bool CreateFolder(const std::string& path) = 0;
    // Sets creation and last-write time from an MS-DOS date and time read as local time.
    virtual bool SetDosTime(const std::string& path, uint16_t date, uint16_t time) = 0;
    // Attributes in the FAT numbering: 0x01 read-only, 0x02 hidden, 0x04 system, 0x20 archive.
    virtual bool SetAttributes(const std::string& path, unsigned attributes) = 0;
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    // Removes a file (a read-only one too, and a link itself, never what it points to).
    virtual bool RemoveFile(const std::string& path) = 0;
    // Removes an empty folder; false when it is not empty or cannot be removed.
    virtual bool RemoveFolder(const std::string& path) = 0;
    // True when `path` itself is a symbolic link (Windows: any reparse point).
    virtual bool IsLink(const std::string& path) = 0;
    // Bytes free for this user in the file system that holds `folder`; -1 when unknown.
    virtual int64_t FreeSpace(const std::string& folder) = 0;
    // Creates a new folder of this run's own inside `parent` (which ends in a separator),
    // readable by this user only where the platform allows; returns it ending in a
    // separator, or empty with the reason left for LastErrorText.
    virtual std::string MakePrivateFolder(const std::string& parent) = 0;
    // The names in `folder` (ending in a separator), subfolders with a separator at the end,
    // links (Windows: reparse points) left out; with `olderThanADay` only those last written more
    // than a day ago. A host that does not list keeps the folders of earlier runs (it says where
    // they are).
    virtual std::vector<std::string> ListFolder(const std::string& /*folder*/,
                                                bool /*olderThanADay*/ = false) {
        return {};
    }
    // The longest path the platform can open, in characters.
    virtual size_t MaxPath() { return 259; }
    // The reason of the last failed file operation, in words ("No space left on device").
    virtual std::string LastErrorText();
    // A path as the user reads it: with the platform's separators.
    virtual std::string NativePath(const std::string& path) { return path; }
    // The temporary folder, ending in a separator; empty when it cannot be determined.
    virtual std::string TempFolder() = 0;
    // The whole command line, first token the program itself.
    virtual std::string CommandLine() = 0;

    // Trace lines for the standard output; nobody depends on them.
    virtual void Trace(const std::string& text) = 0;

    // User interface. Titles are "Error", "Save" or "Extractor".
    virtual void Message(const std::string& text, const std::string& title) = 0;
    virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
    // Shows the password prompt; false when the user cancels. An empty entry is not
    // returned: the prompt says string 1 and asks again.
    virtual bool AskPassword(std::string& password) = 0;
    virtual void ShowSplash() = 0;
    virtual void EndSplash() = 0;
    // Progress window: false when it could not be created.
    virtual bool OpenProgress(const std::string& title, bool cancellable) = 0;
    virtual void SetProgressMessage(const std::string& text) = 0;
    virtual void SetProgressPosition(int percent) = 0;
    virtual void PumpProgress() = 0;
    // False once the user has closed the progress window.
    virtual bool IsProgressOpen() = 0;
    virtual void CloseProgress() = 0;

    // Starts a program and waits for it to end while keeping windows alive; false if it did
    // not start.
    virtual bool RunAndWait(const std::string& path) = 0;
    // Opens a file with its registered viewer; false when the shell could not.
    virtual bool ShellOpen(const std::string& path) = 0;
    // False when nothing at all can open a page here (Linux without xdg-open): asking
    // whether to try the browser would then be a question without a useful answer.
    virtual bool ShellAvailable() { return true; }
    // Told where the files are once the extraction has succeeded.
    virtual void Finished(const std::string& /*folder*/) {}
    // String-table text by id (1 to 8).
    virtual std::string LoadText(int id);
};

}  // namespace spillet
