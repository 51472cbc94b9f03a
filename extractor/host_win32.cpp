#include "extractor/host.h"

#include <windows.h>
#include <shellapi.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "extractor/dialogs.h"
#include "extractor/extractor_text.h"

namespace spillet {
namespace {

// A folder path without its trailing backslash (a drive root keeps it), as the calls want.
std::string Bare(const std::string& path) {
    return path.size() > 3 && path.back() == '\\' ? path.substr(0, path.size() - 1) : path;
}

class CWindowsHost : public CExtractorHost {
  public:
    // The C runtime of Windows numbers its open flags exactly as the cabinet callbacks do.
    int Open(const std::string& path, int flags, int mode) override {
        return _open(path.c_str(), flags, mode);
    }
    long Read(int fd, void* buffer, unsigned long count) override {
        return _read(fd, buffer, static_cast<unsigned>(count));
    }
    long Write(int fd, const void* buffer, unsigned long count) override {
        return _write(fd, buffer, static_cast<unsigned>(count));
    }
    long Seek(int fd, long offset, int origin) override { return _lseek(fd, offset, origin); }
    int Close(int fd) override { return _close(fd); }

    bool Exists(const std::string& path) override {
        return GetFileAttributesA(Bare(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool CreateFolder(const std::string& path) override {
        return CreateDirectoryA(path.c_str(), nullptr) != 0;
    }
    bool SetDosTime(const std::string& path, uint16_t date, uint16_t time) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        FILETIME local, utc;
        if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
            SetFileTime(file, &utc, nullptr, &utc);
        }
        CloseHandle(file);
        return true;
    }
    bool SetAttributes(const std::string& path, unsigned attributes) override {
        return SetFileAttributesA(path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL) !=
               0;
    }
    bool Rename(const std::string& from, const std::string& to) override {
        return MoveFileA(from.c_str(), to.c_str()) != 0;
    }
    bool RemoveFile(const std::string& path) override {
        // A read-only file is replaced like any other.
        _chmod(path.c_str(), _S_IREAD | _S_IWRITE);
        return _unlink(path.c_str()) == 0;
    }
    bool RemoveFolder(const std::string& path) override { return _rmdir(Bare(path).c_str()) == 0; }
    bool IsLink(const std::string& path) override {
        DWORD attributes = GetFileAttributesA(Bare(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    std::vector<std::string> ListFolder(const std::string& folder, bool olderThanADay) override {
        std::vector<std::string> names;
        // A day ago in the 100-nanosecond steps of a file time; without the age filter
        // every time passes.
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        uint64_t dayAgo =
            olderThanADay
                ? ((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) - 864000000000ull
                : ~uint64_t{0};
        std::string pattern = folder;
        pattern.push_back('*');
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const char* n = found.cFileName;
            uint64_t written = (uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32) |
                               found.ftLastWriteTime.dwLowDateTime;
            // Not "." and "..": any name with a leading dot is left out, as the cheapest
            // test (such a file, and so its folder, stays).
            if (n[0] != '.' && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                written < dayAgo) {
                std::string name = n;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    name.push_back('\\');
                }
                names.push_back(name);  // a copy, as the driver's lists take theirs
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }
    int64_t FreeSpace(const std::string& folder) override {
        ULARGE_INTEGER available;
        if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) {
            return -1;
        }
        return static_cast<int64_t>(available.QuadPart);
    }
    std::string MakePrivateFolder(const std::string& parent) override {
        // A name that no other run picks at the same moment; the creation itself decides,
        // as it fails when the name is taken.
        unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
        for (unsigned attempt = 0; attempt < 64; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "spillet-%06X", (seed + attempt * 7919u) & 0xFFFFFFu);
            std::string folder = parent + name;
            if (_mkdir(folder.c_str()) == 0) {
                return folder + "\\";
            }
            if (errno != EEXIST) {
                return std::string();
            }
        }
        return std::string();
    }
    std::string TempFolder() override {
        char buffer[MAX_PATH];
        DWORD n = GetTempPathA(MAX_PATH, buffer);
        return n == 0 || n >= MAX_PATH ? std::string() : std::string(buffer, n);
    }
    std::string CommandLine() override { return GetCommandLineA(); }
    void Trace(const std::string& text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

    void Message(const std::string& text, const std::string& title) override {
        MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_TASKMODAL);
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        UINT icon = title == kTitleExtractor ? MB_ICONQUESTION : 0;
        return MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_YESNO | MB_TASKMODAL | icon) ==
               IDYES;
    }
    bool AskPassword(std::string& password) override { return RunPasswordDialog(password); }
    void ShowSplash() override { spillet::ShowSplash(); }
    void EndSplash() override { spillet::EndSplash(); }

    bool OpenProgress(const std::string& title, bool cancellable) override {
        m_pProgress = std::make_unique<ExtractProgressDialog>();
        if (!m_pProgress->Create(title, cancellable, nullptr)) {
            m_pProgress.reset();
            return false;
        }
        return true;
    }
    void SetProgressMessage(const std::string& text) override {
        if (m_pProgress) {
            m_pProgress->SetMessage(text);
        }
    }
    void SetProgressPosition(int percent) override {
        if (m_pProgress) {
            m_pProgress->SetPosition(percent);
        }
    }
    void PumpProgress() override { ExtractProgressDialog::Pump(); }
    bool IsProgressOpen() override { return m_pProgress && m_pProgress->IsOpen(); }
    void CloseProgress() override { m_pProgress.reset(); }

    bool RunAndWait(const std::string& path) override {
        STARTUPINFOA start{};
        start.cb = sizeof start;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &start, &process)) {
            return false;
        }
        WaitForInputIdle(process.hProcess, INFINITE);
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            DWORD r = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT);
            if (r != WAIT_OBJECT_0 + 1) {
                break;  // the process ended, or the wait was abandoned or failed
            }
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }
    bool ShellOpen(const std::string& path) override {
        HINSTANCE r =
            ShellExecuteA(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(r) > 32;
    }
    std::string LoadText(int id) override {
        char buffer[512];
        int n =
            LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : DefaultText(id);
    }

  private:
    std::unique_ptr<ExtractProgressDialog> m_pProgress;
};

}  // namespace

std::unique_ptr<CExtractorHost> MakeSystemHost() {
    return std::make_unique<CWindowsHost>();
}

}  // namespace spillet
