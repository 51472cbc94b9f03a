// The file layer on Linux: POSIX calls shaped to behave like the Windows runtime.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

FileTime ToFileTime(const struct timespec& ts) {
    int64_t ticks = static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec / 100;
    return static_cast<FileTime>(ticks + static_cast<int64_t>(kUnixEpochAsFileTime));
}

struct timespec ToTimespec(FileTime ft) {
    int64_t ticks = static_cast<int64_t>(ft) - static_cast<int64_t>(kUnixEpochAsFileTime);
    int64_t sec = ticks / kTicksPerSecond;
    int64_t rem = ticks % kTicksPerSecond;
    if (rem < 0) {
        rem += kTicksPerSecond;
        --sec;
    }
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = static_cast<long>(rem * 100);
    return ts;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint32_t AttributesOf(const struct stat& st, const std::string& name) {
    uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode))
        attrs |= kAttrDirectory;
    else
        attrs |= kAttrArchive;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attrs |= kAttrReadOnly;
    if (name.size() > 1 && name[0] == '.' && name != "..")
        attrs |= kAttrHidden;
    return attrs;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Windows-style mask match: "*" any run, "?" one character, letters without case.
bool MatchMask(const char* mask, const char* name) {
    const char* starMask = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || (*mask && LowerAscii(*mask) == LowerAscii(*name))) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == 0;
}

struct FinderState {
    std::string folder;
    std::vector<std::string> names;
    size_t next = 0;
};

bool Fill(const FinderState& state, const std::string& name, FindData& out) {
    std::string full = state.folder.empty() ? name : JoinPath(state.folder, name);
    struct stat st;
    if (stat(full.c_str(), &st) != 0 && lstat(full.c_str(), &st) != 0)
        return false;
    out.name = name;
    out.attributes = AttributesOf(st, name);
    out.size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    out.lastWrite = ToFileTime(st.st_mtim);
    return true;
}

bool DaysValid(int year, int month, int day) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    int limit = kDays[month - 1];
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && leap)
        limit = 29;
    return day <= limit;
}

}  // namespace

// ---- Handles ----------------------------------------------------------------------

int FileOpen(const std::string& path, int flags, int mode) {
    int oflags = O_CLOEXEC;
    switch (flags & 3) {
        case kOpenReadOnly:
            oflags |= O_RDONLY;
            break;
        case kOpenWriteOnly:
            oflags |= O_WRONLY;
            break;
        case kOpenReadWrite:
            oflags |= O_RDWR;
            break;
        default:
            errno = EINVAL;
            return -1;
    }
    if (flags & kOpenAppend)
        oflags |= O_APPEND;
    if (flags & kOpenCreate) {
        oflags |= O_CREAT;
        if (flags & kOpenExclusive)
            oflags |= O_EXCL;
    }
    if (flags & kOpenTruncate)
        oflags |= O_TRUNC;
    if ((flags & 3) != kOpenReadOnly || (flags & kOpenTruncate)) {
        // A read-only file refuses writers as on Windows, even for the superuser.
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
            (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            errno = (flags & kOpenCreate) && (flags & kOpenExclusive) ? EEXIST : EACCES;
            return -1;
        }
    }
    mode_t perms = (mode & kModeWrite) ? 0666 : 0444;
    int fd = open(path.c_str(), oflags, perms);
    if (fd < 0)
        return -1;
    // The Windows runtime refuses to open folders; callers count on that.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

int FileRead(int handle, void* buffer, unsigned count) {
    size_t want = std::min<size_t>(count, INT_MAX);
    ssize_t got;
    do {
        got = read(handle, buffer, want);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? -1 : static_cast<int>(got);
}

int FileWrite(int handle, const void* buffer, unsigned count) {
    size_t want = std::min<size_t>(count, INT_MAX);
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < want) {
        ssize_t n = write(handle, p + done, want - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

long FileSeek(int handle, long offset, int origin) {
    int whence;
    switch (origin) {
        case kSeekSet:
            whence = SEEK_SET;
            break;
        case kSeekCur:
            whence = SEEK_CUR;
            break;
        case kSeekEnd:
            whence = SEEK_END;
            break;
        default:
            errno = EINVAL;
            return -1;
    }
    off_t pos = lseek(handle, static_cast<off_t>(offset), whence);
    if (pos < 0)
        return -1;
    if (pos > 0x7FFFFFFF) {
        errno = EOVERFLOW;
        return -1;
    }
    return static_cast<long>(pos);
}

int FileClose(int handle) {
    if (handle < 0) {
        errno = EBADF;
        return -1;
    }
    return close(handle) == 0 ? 0 : -1;
}

bool FileRemove(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // A read-only file is protected from deletion, as on Windows.
        errno = EACCES;
        return false;
    }
    return unlink(path.c_str()) == 0;
}

// ---- Whole files and folders ---------------------------------------------------------

int LastPlatformError() {
    return errno;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool FolderCreate(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0;
}

bool FolderRemove(const std::string& path) {
    return rmdir(path.c_str()) == 0;
}

bool FileRename(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: check, then rename.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

bool FileReplace(const std::string& from, const std::string& to) {
    struct stat st;
    if (stat(to.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // A read-only target is not replaced, as on Windows.
        errno = EACCES;
        return false;
    }
    // Without the sync a crash soon after the rename could leave an empty file
    // under the old name, which is worse than the old file.
    int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    int err = errno;
    close(fd);
    if (!synced) {
        errno = err;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

bool FileCopy(const std::string& from, const std::string& to, bool failIfExists) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat src;
    if (fstat(in, &src) != 0 || !S_ISREG(src.st_mode)) {
        close(in);
        errno = EACCES;
        return false;
    }
    struct stat dst;
    if (stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
        // Truncating the target would destroy the source.
        close(in);
        errno = EBUSY;
        return false;
    }
    if (!failIfExists && stat(to.c_str(), &dst) == 0 && !S_ISDIR(dst.st_mode) &&
        (dst.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // A read-only target is not replaced, as on Windows.
        close(in);
        errno = EACCES;
        return false;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    int out = open(to.c_str(), flags, (src.st_mode & 0777) | S_IWUSR);
    if (out < 0) {
        int err = errno;
        close(in);
        errno = err;
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (FileWrite(out, buffer, static_cast<unsigned>(n)) != n) {
            ok = false;
            break;
        }
    }
    if (ok) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = src.st_mtim;
        ok = futimens(out, times) == 0 && fchmod(out, src.st_mode & 07777) == 0;
    }
    int err = errno;
    if (close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    close(in);
    if (!ok) {
        unlink(to.c_str());
        errno = err;
    }
    return ok;
}

// ---- Attributes --------------------------------------------------------------------------

uint32_t GetAttributes(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return kInvalidAttributes;
    return AttributesOf(st, BaseName(path));
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777))
        return true;
    return chmod(path.c_str(), mode) == 0;
}

// ---- Times -------------------------------------------------------------------------------

bool GetWriteTime(const std::string& path, FileTime& utc) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    utc = ToFileTime(st.st_mtim);
    return true;
}

bool SetWriteTime(const std::string& path, FileTime utc) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(utc);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime& utc) {
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = 80 + (dosDate >> 9);
    tm.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    tm.tm_mday = dosDate & 0x1F;
    tm.tm_hour = dosTime >> 11;
    tm.tm_min = (dosTime >> 5) & 0x3F;
    tm.tm_sec = (dosTime & 0x1F) * 2;
    tm.tm_isdst = -1;
    if (!DaysValid(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 59) {
        errno = EINVAL;
        return false;
    }
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1)) {
        errno = EINVAL;
        return false;
    }
    struct timespec ts;
    ts.tv_sec = t;
    ts.tv_nsec = 0;
    utc = ToFileTime(ts);
    return true;
}

bool UtcToDosDateTime(FileTime utc, uint16_t& dosDate, uint16_t& dosTime) {
    struct timespec ts = ToTimespec(utc);
    struct tm tm;
    if (!localtime_r(&ts.tv_sec, &tm) || tm.tm_year < 80 || tm.tm_year > 80 + 127) {
        errno = EINVAL;
        return false;
    }
    dosDate = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    // A leap second (60) still fits in the five bits as 30.
    dosTime = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return true;
}

// ---- Enumeration -------------------------------------------------------------------------

CFileFinder::~CFileFinder() {
    Close();
}

void CFileFinder::Close() {
    delete static_cast<FinderState*>(m_pState);
    m_pState = nullptr;
}

bool CFileFinder::First(const std::string& pattern, FindData& out) {
    Close();
    auto* state = new FinderState;
    m_pState = state;
    size_t slash = pattern.find_last_of('/');
    std::string mask;
    if (slash == std::string::npos) {
        mask = pattern;
    } else {
        state->folder = pattern.substr(0, slash + 1);
        mask = pattern.substr(slash + 1);
    }
    if (mask == "*.*")
        mask = "*";
    DIR* dir = opendir(state->folder.empty() ? "." : state->folder.c_str());
    if (!dir) {
        Close();
        return false;
    }
    std::vector<std::string> dots;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (!MatchMask(mask.c_str(), name.c_str()))
            continue;
        if (name == "." || name == "..")
            dots.push_back(name);
        else
            state->names.push_back(name);
    }
    closedir(dir);
    std::sort(state->names.begin(), state->names.end());
    std::sort(dots.begin(), dots.end());
    state->names.insert(state->names.begin(), dots.begin(), dots.end());
    if (!Next(out)) {
        Close();
        errno = ENOENT;
        return false;
    }
    return true;
}

bool CFileFinder::Next(FindData& out) {
    auto* state = static_cast<FinderState*>(m_pState);
    if (!state)
        return false;
    while (state->next < state->names.size()) {
        // An entry that vanished since the listing is skipped.
        if (Fill(*state, state->names[state->next++], out))
            return true;
    }
    errno = ENOENT;
    return false;
}

// ---- Names and well-known folders -----------------------------------------------------

unsigned TempFileName(const std::string& folder, const std::string& prefix, unsigned unique,
                      std::string& out) {
    std::string base = folder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    base += prefix.substr(0, 3);
    char hex[16];
    if (unique != 0) {
        unique &= 0xFFFF;
        if (unique == 0)
            unique = 1;  // the low bits were zero; never hand out "pick one"
        std::snprintf(hex, sizeof hex, "%X", unique);
        out = base + hex + ".tmp";
        return unique;
    }
    unsigned start = (static_cast<unsigned>(time(nullptr)) ^ static_cast<unsigned>(getpid() << 4));
    for (unsigned i = 0; i < 0x10000; ++i) {
        unsigned n = (start + i) & 0xFFFF;
        if (n == 0)
            continue;
        std::snprintf(hex, sizeof hex, "%X", n);
        std::string name = base + hex + ".tmp";
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            out = name;
            return n;
        }
        if (errno != EEXIST)
            return 0;
    }
    errno = EEXIST;
    return 0;
}

int FolderLockTake(const std::string& folder) {
    const std::string path = JoinPath(folder, kFolderLockName);
    // A holder that gave the lock up may have deleted the file in the meantime: a
    // lock on a file no longer in the folder guards nothing, so look again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
        struct stat held, named;
        if (fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return fd;
        close(fd);
    }
    errno = EAGAIN;
    return -1;
}

void FolderLockRelease(int lock) {
    if (lock >= 0)
        close(lock);
}

bool FolderLockDelete(int lock, const std::string& folder) {
    bool deleted = unlink(JoinPath(folder, kFolderLockName).c_str()) == 0;
    int err = errno;
    FolderLockRelease(lock);
    errno = err;
    return deleted;
}

std::string GetTempFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string folder = (env && *env) ? env : "/tmp";
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string GetFullPath(const std::string& path) {
    if (path.empty())
        return std::string();
    if (path[0] == '/')
        return NormalisePath(path);
    std::vector<char> cwd(PATH_MAX + 1);
    if (!getcwd(cwd.data(), cwd.size()))
        return std::string();
    return NormalisePath(JoinPath(cwd.data(), path));
}

std::string GetProgramPath() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return std::string();
    return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string GetWindowsFolder() {
    std::string program = GetProgramPath();
    if (program.empty())
        return std::string();
    return NormalisePath(FolderOf(program) + "/../share/quillbox");
}

}  // namespace platform
