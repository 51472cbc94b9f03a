// Files and folders, the way the rest of the system expects them from Windows.
//
// Handles are plain ints, exactly like the C runtime's low-level file handles, so
// that the cabinet callbacks can pass them through an intptr_t without a table.
// -1 is "no handle". Open flags and origins use the runtime's numbering on every
// platform (see kOpen* and kSeek* below); the POSIX implementation translates them.
//
// Error reporting: the handle operations (FileOpen, FileRead, FileWrite, FileSeek,
// FileClose) and FileRemove leave the runtime's error number in errno on failure.
// Every other operation that fails leaves the platform's error code for
// LastPlatformError() (GetLastError() on Windows, errno elsewhere).
//
// Names avoid the Win32 ones (CopyFile, GetFileAttributes, ...), which windows.h
// turns into macros.
//
// Paths are 8-bit strings in the system code page. Windows uses "\\" between path
// parts, Linux "/"; portable code joins with JoinPath and never spells a separator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ---- Low-level file handles -----------------------------------------------------

// Open flags in the C runtime's numbering (read-only is 0).
constexpr int kOpenReadOnly = 0x0000;
constexpr int kOpenWriteOnly = 0x0001;
constexpr int kOpenReadWrite = 0x0002;
constexpr int kOpenAppend = 0x0008;
constexpr int kOpenRandom = 0x0010;      // access hint, ignored off Windows
constexpr int kOpenSequential = 0x0020;  // access hint, ignored off Windows
constexpr int kOpenCreate = 0x0100;
constexpr int kOpenTruncate = 0x0200;
constexpr int kOpenExclusive = 0x0400;
constexpr int kOpenText = 0x4000;  // never honoured: text translation is done in code
constexpr int kOpenBinary = 0x8000;

// Permission for a created file, runtime numbering: read 0x0100, write 0x0080.
constexpr int kModeRead = 0x0100;
constexpr int kModeWrite = 0x0080;
constexpr int kModeReadWrite = 0x0180;

// Seek origins, runtime numbering.
constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

// Opens `path`; returns a handle >= 0 or -1 (errno set). Files are always opened
// in binary mode. `mode` only matters with kOpenCreate: without kModeWrite the
// created file is read-only.
int FileOpen(const std::string& path, int flags, int mode = kModeReadWrite);
// Reads up to `count` bytes; returns the number read (0 at the end) or -1.
int FileRead(int handle, void* buffer, unsigned count);
// Writes `count` bytes; returns the number written or -1.
int FileWrite(int handle, const void* buffer, unsigned count);
// Moves the file position; returns the new position or -1. Positions beyond
// 0x7FFFFFFF are not supported and fail with -1 (errno EOVERFLOW or EINVAL).
long FileSeek(int handle, long offset, int origin);
// Closes the handle; 0 on success, -1 on failure (including an invalid handle).
int FileClose(int handle);
// Deletes a file (not a folder). true on success; errno set on failure.
bool FileRemove(const std::string& path);

// ---- Whole files and folders ----------------------------------------------------

// The platform error code of the last failed operation outside the handle group.
int LastPlatformError();

bool FileExists(const std::string& path);    // a file (not a folder) is there
bool FolderExists(const std::string& path);  // a folder is there
bool PathExists(const std::string& path);    // anything is there
// Size of a file in bytes, or -1 when it cannot be determined.
int64_t FileSize(const std::string& path);

// Creates one folder (the parent must exist); fails if anything already exists there.
bool FolderCreate(const std::string& path);
// Removes an empty folder.
bool FolderRemove(const std::string& path);
// Renames or moves a file; fails if `to` exists.
bool FileRename(const std::string& from, const std::string& to);
// Renames `from` over `to` in one step, replacing an existing file: whoever looks at
// `to` finds either the old file or the whole new one, never a mixture. The data of
// `from` reaches the disk before the name moves (Windows: MoveFileExA with
// write-through; Linux: fsync, then rename). A read-only `to` is not replaced, as
// on Windows. Both paths must lie on the same volume.
bool FileReplace(const std::string& from, const std::string& to);
// Copies a file with its attributes and last-write time. With failIfExists an
// existing target makes it fail; otherwise the target is replaced.
bool FileCopy(const std::string& from, const std::string& to, bool failIfExists);

// ---- Attributes -----------------------------------------------------------------

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// The attribute bits of a file or folder, or kInvalidAttributes.
// Linux has no such bits; they are derived: read-only when nobody may write,
// hidden for names that start with a dot, archive always for files, directory for
// folders; system never.
uint32_t GetAttributes(const std::string& path);
// Sets the attribute bits. On Linux only read-only has an effect (it clears or
// restores the owner's write permission); the other bits are accepted and ignored.
bool SetAttributes(const std::string& path, uint32_t attributes);

// ---- Times ----------------------------------------------------------------------

// A point in time as Windows counts it: 100-nanosecond ticks since 1601-01-01 UTC.
using FileTime = uint64_t;
constexpr FileTime kUnixEpochAsFileTime = 116444736000000000ULL;

// The last-write time of a file or folder.
bool GetWriteTime(const std::string& path, FileTime& utc);
// Sets the last-write time (and, on Windows, the creation time) of an existing
// file; the last-access time is left alone.
bool SetWriteTime(const std::string& path, FileTime utc);

// MS-DOS date and time are local time. Date: day bits 0-4, month 5-8, year-1980
// 9-15. Time: seconds/2 bits 0-4, minutes 5-10, hours 11-15.
// Converts a local MS-DOS date/time to a universal time; false for impossible fields.
bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& utc);
// Converts a universal time to a local MS-DOS date/time; odd seconds round down.
// false when the local time lies outside 1980-2107.
bool UtcToDosDateTime(FileTime utc, uint16_t& dosDate, uint16_t& dosTime);

// ---- Enumeration ----------------------------------------------------------------

struct FindData {
    std::string name;  // bare name, no folder
    uint32_t attributes = 0;
    int64_t size = 0;
    FileTime lastWrite = 0;
};

// Find-first/find-next enumeration. The pattern is a folder plus a last part that
// may hold "*" and "?" ("*.*" matches every name, as on Windows). The entries "."
// and ".." are returned as Windows returns them, first. Off Windows the remaining
// names come sorted by their bytes, so listings are repeatable.
class CFileFinder {
  public:
    CFileFinder() = default;
    ~CFileFinder();
    CFileFinder(const CFileFinder&) = delete;
    CFileFinder& operator=(const CFileFinder&) = delete;

    // Starts an enumeration; false when nothing matches or the folder cannot be read.
    bool First(const std::string& pattern, FindData& out);
    // The next entry; false at the end.
    bool Next(FindData& out);
    void Close();

  private:
    void* m_pState = nullptr;
};

// Convenience: every entry that matches `pattern`, in enumeration order.
std::vector<FindData> ListFolder(const std::string& pattern);

// ---- Names and well-known folders ------------------------------------------------

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Joins two path parts with exactly one separator between them. An empty part
// yields the other one unchanged.
std::string JoinPath(const std::string& left, const std::string& right);

// A unique temporary file name in the manner of GetTempFileNameA: folder, the first
// three characters of `prefix`, `unique` (only its low 16 bits) in upper-case hex,
// ".tmp". With unique 0 a free number is picked, the file is created (exclusively,
// empty) and a collision makes it try the next number. With a non-zero unique the
// name is only formed. Returns the number used, or 0 on failure.
unsigned TempFileName(const std::string& folder, const std::string& prefix, unsigned unique,
                      std::string& out);

// The file inside a folder whose lock says that a living process works in it.
constexpr const char* kFolderLockName = "~QBLOCK";
// Takes the lock of a folder: opens its lock file (created when missing) and holds
// it for this process alone. Linux: an advisory lock (flock) on the open file;
// Windows: the file kept open without any sharing, so no other process can open or
// delete it. The lock ends with FolderLockRelease or FolderLockDelete, or with the
// process, however it ends. Returns the lock's handle, or -1 when someone else
// holds it (another process, or another lock of this one), when the folder is gone
// or when the file cannot be made.
int FolderLockTake(const std::string& folder);
// Ends the lock and keeps its file.
void FolderLockRelease(int lock);
// Ends the lock and deletes its file; on Linux the file goes while still held, so
// nobody takes a lock on a file that is about to disappear. true when deleted.
bool FolderLockDelete(int lock, const std::string& folder);
// The temporary folder, ending in a separator; empty on failure.
// Windows: GetTempPathA. Linux: $TMPDIR, else /tmp.
std::string GetTempFolder();
// The full path of the running program; empty on failure.
std::string GetProgramPath();
// The folder that holds the installed extractor template, without a trailing
// separator. Windows: GetWindowsDirectoryA. Linux: ../share/quillbox relative to
// the program's folder, absolute and normalised.
std::string GetWindowsFolder();

// Folder part of a path (everything before the last separator), or "" if none.
std::string FolderOf(const std::string& path);
// Lexically normalises "." and ".." parts and doubled separators of an absolute path.
std::string NormalisePath(const std::string& path);
// The absolute form of a path (relative ones count from the current folder), with
// "." and ".." resolved; empty on failure.
std::string GetFullPath(const std::string& path);

}  // namespace platform
