// The file layer on Windows: the C runtime's handles and the Win32 file API.
#include "platform/files.h"

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace platform {

namespace {

FileTime FromFiletime(const FILETIME& ft) {
    return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFiletime(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

void FillFrom(const WIN32_FIND_DATAA& wfd, FindData& out) {
    out.name = wfd.cFileName;
    out.attributes = wfd.dwFileAttributes;
    out.size = (static_cast<int64_t>(wfd.nFileSizeHigh) << 32) | wfd.nFileSizeLow;
    out.lastWrite = FromFiletime(wfd.ftLastWriteTime);
}

}  // namespace

// ---- Handles ----------------------------------------------------------------------

namespace {

// Windows refuses writers on a read-only file; Wine run by the superuser does not,
// so the rule is checked here too and holds the same everywhere.
bool IsReadOnlyFile(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY) &&
           (attrs & FILE_ATTRIBUTE_READONLY);
}

}  // namespace

int FileOpen(const std::string& path, int flags, int mode) {
    if (((flags & 3) != kOpenReadOnly || (flags & kOpenTruncate)) && IsReadOnlyFile(path)) {
        errno = (flags & kOpenCreate) && (flags & kOpenExclusive) ? EEXIST : EACCES;
        return -1;
    }
    // Text translation is the caller's business; handles are always binary.
    int rtFlags = (flags & ~kOpenText) | kOpenBinary | _O_NOINHERIT;
    int rtMode = 0;
    if (mode & kModeRead)
        rtMode |= _S_IREAD;
    if (mode & kModeWrite)
        rtMode |= _S_IWRITE;
    return _open(path.c_str(), rtFlags, rtMode);
}

int FileRead(int handle, void* buffer, unsigned count) {
    if (count > 0x7FFFFFFFu)
        count = 0x7FFFFFFFu;
    return _read(handle, buffer, count);
}

int FileWrite(int handle, const void* buffer, unsigned count) {
    if (count > 0x7FFFFFFFu)
        count = 0x7FFFFFFFu;
    return _write(handle, buffer, count);
}

long FileSeek(int handle, long offset, int origin) {
    if (origin < kSeekSet || origin > kSeekEnd) {
        errno = EINVAL;
        return -1;
    }
    // The runtime's 32-bit seek wraps past 2 GB; the 64-bit one lets that be refused.
    __int64 pos = _lseeki64(handle, offset, origin);
    if (pos < 0)
        return -1;
    if (pos > 0x7FFFFFFF) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<long>(pos);
}

int FileClose(int handle) {
    if (handle < 0) {
        errno = EBADF;
        return -1;
    }
    return _close(handle);
}

bool FileRemove(const std::string& path) {
    return _unlink(path.c_str()) == 0;
}

// ---- Whole files and folders ---------------------------------------------------------

int LastPlatformError() {
    return static_cast<int>(GetLastError());
}

bool FileExists(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FolderCreate(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool FolderRemove(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool FileRename(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool FileReplace(const std::string& from, const std::string& to) {
    if (IsReadOnlyFile(to)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool FileCopy(const std::string& from, const std::string& to, bool failIfExists) {
    if (!failIfExists && IsReadOnlyFile(to)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != 0;
}

// ---- Attributes --------------------------------------------------------------------------

uint32_t GetAttributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    return SetFileAttributesA(path.c_str(), attributes) != 0;
}

// ---- Times -------------------------------------------------------------------------------

bool GetWriteTime(const std::string& path, FileTime& utc) {
    // Backup semantics let the same call read a folder's time.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(h, &info);
    DWORD err = GetLastError();
    CloseHandle(h);
    if (!ok) {
        SetLastError(err);
        return false;
    }
    utc = FromFiletime(info.ftLastWriteTime);
    return true;
}

bool SetWriteTime(const std::string& path, FileTime utc) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME ft = ToFiletime(utc);
    BOOL ok = SetFileTime(h, &ft, nullptr, &ft);
    DWORD err = GetLastError();
    CloseHandle(h);
    if (!ok)
        SetLastError(err);
    return ok != 0;
}

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& utc) {
    FILETIME local, universal;
    if (!DosDateTimeToFileTime(dosDate, dosTime, &local) ||
        !LocalFileTimeToFileTime(&local, &universal))
        return false;
    utc = FromFiletime(universal);
    return true;
}

bool UtcToDosDateTime(FileTime utc, uint16_t& dosDate, uint16_t& dosTime) {
    FILETIME universal = ToFiletime(utc), local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&universal, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return false;
    dosDate = date;
    dosTime = time;
    return true;
}

// ---- Enumeration -------------------------------------------------------------------------

CFileFinder::~CFileFinder() {
    Close();
}

void CFileFinder::Close() {
    if (m_pState)
        FindClose(static_cast<HANDLE>(m_pState));
    m_pState = nullptr;
}

bool CFileFinder::First(const std::string& pattern, FindData& out) {
    Close();
    WIN32_FIND_DATAA wfd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &wfd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    m_pState = h;
    FillFrom(wfd, out);
    return true;
}

bool CFileFinder::Next(FindData& out) {
    if (!m_pState)
        return false;
    WIN32_FIND_DATAA wfd;
    if (!FindNextFileA(static_cast<HANDLE>(m_pState), &wfd))
        return false;
    FillFrom(wfd, out);
    return true;
}

// ---- Names and well-known folders -----------------------------------------------------

unsigned TempFileName(const std::string& folder, const std::string& prefix, unsigned unique,
                      std::string& out) {
    char buffer[MAX_PATH + 1];
    UINT n = GetTempFileNameA(folder.c_str(), prefix.substr(0, 3).c_str(), unique, buffer);
    if (n == 0)
        return 0;
    out = buffer;
    return n;
}

int FolderLockTake(const std::string& folder) {
    // No sharing at all: while the handle is open nobody else can open the file,
    // delete it, or therefore remove the folder.
    HANDLE h = CreateFileA(JoinPath(folder, kFolderLockName).c_str(), GENERIC_READ | GENERIC_WRITE,
                           0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
    if (fd < 0) {
        DWORD err = GetLastError();
        CloseHandle(h);
        SetLastError(err);
        return -1;
    }
    return fd;
}

void FolderLockRelease(int lock) {
    if (lock >= 0)
        _close(lock);
}

bool FolderLockDelete(int lock, const std::string& folder) {
    // The file cannot be deleted while it is held; whoever opens it between the
    // two steps keeps it, and with it the folder.
    FolderLockRelease(lock);
    return DeleteFileA(JoinPath(folder, kFolderLockName).c_str()) != 0;
}

std::string GetTempFolder() {
    char buffer[MAX_PATH + 2];
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::string();
    std::string folder(buffer, n);
    if (folder.back() != '\\')
        folder += '\\';
    return folder;
}

std::string GetFullPath(const std::string& path) {
    if (path.empty())
        return std::string();
    char buffer[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    if (n == 0 || n >= sizeof(buffer))
        return std::string();
    return std::string(buffer, n);
}

std::string GetProgramPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::string();
        if (n < buffer.size())
            return std::string(buffer.data(), n);
        if (buffer.size() >= 32768)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetWindowsFolder() {
    char buffer[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::string();
    return std::string(buffer, n);
}

}  // namespace platform
