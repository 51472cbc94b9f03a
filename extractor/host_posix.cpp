#include "extractor/host.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "extractor/extractor_text.h"
#include "platform/files.h"

extern char** environ;

namespace spillet {
namespace {

volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
    g_interrupted = 1;
}

// Cabinet names and the extractor's paths use backslashes; the file system wants slashes.
std::string Native(const std::string& path) {
    std::string p = path;
    for (char& c : p) {
        if (c == '\\') {
            c = '/';
        }
    }
    return p;
}

std::string Quoted(const std::string& arg) {
    return arg.find(' ') == std::string::npos && !arg.empty() ? arg : "\"" + arg + "\"";
}

// Runs a program (with one argument unless it is empty) and waits; its exit status, or -1
// if it did not start.
int Spawn(const char* program, const std::string& arg, bool searchPath) {
    pid_t pid;
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(arg.c_str()), nullptr};
    if (arg.empty()) {
        argv[1] = nullptr;
    }
    int r = searchPath ? posix_spawnp(&pid, program, nullptr, nullptr, argv, environ)
                       : posix_spawn(&pid, program, nullptr, nullptr, argv, environ);
    if (r != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) == -1) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CTerminalHost : public CExtractorHost {
  public:
    CTerminalHost(int argc, char** argv) {
        m_strCommandLine = Quoted(platform::GetProgramPath());
        for (int i = 1; i < argc; ++i) {
            m_strCommandLine += " " + Quoted(argv[i]);
        }
    }

    int Open(const std::string& path, int flags, int mode) override {
        return platform::FileOpen(Native(path), flags, mode);
    }
    long Read(int fd, void* buffer, unsigned long count) override {
        return platform::FileRead(fd, buffer, static_cast<unsigned>(count));
    }
    long Write(int fd, const void* buffer, unsigned long count) override {
        return platform::FileWrite(fd, buffer, static_cast<unsigned>(count));
    }
    long Seek(int fd, long offset, int origin) override {
        return platform::FileSeek(fd, offset, origin);
    }
    int Close(int fd) override { return platform::FileClose(fd); }

    bool Exists(const std::string& path) override { return platform::PathExists(Native(path)); }
    bool CreateFolder(const std::string& path) override {
        std::string p = Native(path);
        while (p.size() > 1 && p.back() == '/') {
            p.pop_back();
        }
        return platform::FolderCreate(p);
    }
    bool SetDosTime(const std::string& path, uint16_t date, uint16_t time) override {
        std::string p = Native(path);
        if (!platform::FileExists(p)) {
            return false;
        }
        platform::FileTime utc;
        if (platform::DosDateTimeToUtc(date, time, utc)) {
            platform::SetWriteTime(p, utc);
        }
        return true;
    }
    bool SetAttributes(const std::string& path, unsigned attributes) override {
        return platform::SetAttributes(Native(path), attributes);
    }
    bool Rename(const std::string& from, const std::string& to) override {
        return platform::FileRename(Native(from), Native(to));
    }
    std::string TempFolder() override { return platform::GetTempFolder(); }
    std::string CommandLine() override { return m_strCommandLine; }
    void Trace(const std::string& text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

    void Message(const std::string& text, const std::string& title) override {
        EndProgressLine();
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        EndProgressLine();
        std::fprintf(stderr, "%s: %s [y/N] ", title.c_str(), text.c_str());
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            std::fputc('\n', stderr);
            return false;
        }
        return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
    }
    bool AskPassword(std::string& password) override {
        EndProgressLine();
        for (;;) {
            std::fputs("Quillbox Password: Enter a valid password to open this file:\nPassword: ",
                       stderr);
            bool hide = isatty(STDIN_FILENO);
            termios saved{};
            if (hide && tcgetattr(STDIN_FILENO, &saved) == 0) {
                termios quiet = saved;
                quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
                tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
            }
            bool read = static_cast<bool>(std::getline(std::cin, password));
            if (hide) {
                tcsetattr(STDIN_FILENO, TCSANOW, &saved);
                std::fputc('\n', stderr);
            }
            if (!read) {
                return false;
            }
            if (!password.empty()) {
                return true;
            }
            Message(LoadText(1), kTitleError);
        }
    }
    void ShowSplash() override {}
    void EndSplash() override {}

    bool OpenProgress(const std::string& title, bool) override {
        m_strTitle = title;
        m_bOpen = true;
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigaction(SIGINT, &action, &m_previousInterrupt);
        return true;
    }
    void SetProgressMessage(const std::string& text) override {
        m_strMessage = text;
        ShowProgress();
    }
    void SetProgressPosition(int percent) override {
        m_nPercent = percent;
        ShowProgress();
    }
    void PumpProgress() override {
        if (g_interrupted) {
            CloseProgress();
        }
    }
    bool IsProgressOpen() override {
        PumpProgress();
        return m_bOpen;
    }
    void CloseProgress() override {
        if (!m_bOpen) {
            return;
        }
        EndProgressLine();
        sigaction(SIGINT, &m_previousInterrupt, nullptr);
        m_bOpen = false;
    }

    bool RunAndWait(const std::string& path) override {
        return Spawn(Native(path).c_str(), std::string(), false) != -1;
    }
    bool ShellOpen(const std::string& path) override {
        return Spawn("xdg-open", Native(path), true) == 0;
    }

  private:
    // One line on stderr, redrawn in place on a terminal.
    void ShowProgress() {
        if (!m_bOpen) {
            return;
        }
        bool terminal = isatty(STDERR_FILENO);
        std::fprintf(stderr, "%s%s %s %3d%%%s", terminal ? "\r\033[K" : "", m_strTitle.c_str(),
                     m_strMessage.c_str(), m_nPercent, terminal ? "" : "\n");
        m_bLineOpen = terminal;
    }
    void EndProgressLine() {
        if (m_bLineOpen) {
            std::fputc('\n', stderr);
            m_bLineOpen = false;
        }
    }

    std::string m_strCommandLine;
    std::string m_strTitle;
    std::string m_strMessage;
    int m_nPercent = 0;
    bool m_bOpen = false;
    bool m_bLineOpen = false;
    struct sigaction m_previousInterrupt {};
};

}  // namespace

std::unique_ptr<CExtractorHost> MakeSystemHost(int argc, char** argv) {
    return std::make_unique<CTerminalHost>(argc, argv);
}

}  // namespace spillet
