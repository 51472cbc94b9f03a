#include "extractor/host.h"

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "extractor/extractor_text.h"
#include "platform/files.h"
#include "platform/posix/program_search.h"
#include "platform/posix/ui_terminal.h"

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

std::string WithoutTrailingSlash(const std::string& path) {
    std::string p = Native(path);
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    return p;
}

std::string Quoted(const std::string& arg) {
    return arg.find(' ') == std::string::npos && !arg.empty() ? arg : "\"" + arg + "\"";
}

std::string Trimmed(const std::string& text) {
    size_t b = text.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return std::string();
    }
    return text.substr(b, text.find_last_not_of(" \t\r") - b + 1);
}

// A message box's text as one line: its lines joined, ended as a sentence.
std::string OneLine(const std::string& text) {
    std::string line;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = Trimmed(text.substr(start, end - start));
        if (!part.empty()) {
            line += (line.empty() ? "" : " ") + part;
        }
        start = end + 1;
    }
    if (!line.empty() && line.back() != '.' && line.back() != '?' && line.back() != '!') {
        line += '.';
    }
    return line;
}

class CTerminalHost : public CExtractorHost {
  public:
    CTerminalHost(const std::vector<std::string>& args, bool verbose)
        : m_ui(STDIN_FILENO, STDERR_FILENO),
          m_bVerbose(verbose),
          m_strInput(args.empty() ? std::string() : args[0]) {
        // The command line as Windows would hand it over: the program, then the arguments.
        m_strCommandLine = Quoted(platform::GetProgramPath());
        for (const std::string& arg : args) {
            m_strCommandLine += " " + Quoted(arg);
        }
    }

    int Open(const std::string& path, int flags, int mode) override {
        if (platform::FolderExists(Native(path))) {
            errno = EISDIR;  // what it is, rather than the open's "Permission denied"
            return -1;
        }
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
        return platform::FolderCreate(WithoutTrailingSlash(path));
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
    bool RemoveFile(const std::string& path) override { return unlink(Native(path).c_str()) == 0; }
    bool RemoveFolder(const std::string& path) override {
        return rmdir(WithoutTrailingSlash(path).c_str()) == 0;
    }
    bool IsLink(const std::string& path) override {
        struct stat st;
        return lstat(WithoutTrailingSlash(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }
    int64_t FreeSpace(const std::string& folder) override {
        struct statvfs fs;
        if (statvfs(WithoutTrailingSlash(folder).c_str(), &fs) != 0) {
            return -1;
        }
        return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
    }
    std::string MakePrivateFolder(const std::string& parent) override {
        // mkdtemp makes the folder with mode 0700 under a name nobody could have guessed.
        std::string pattern = Native(parent);
        if (pattern.empty() || pattern.back() != '/') {
            pattern.push_back('/');
        }
        pattern += "spillet-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            return std::string();
        }
        return pattern + "/";
    }
    size_t MaxPath() override { return PATH_MAX - 1; }
    std::string NativePath(const std::string& path) override { return Native(path); }
    std::string TempFolder() override { return platform::GetTempFolder(); }
    std::string CommandLine() override { return m_strCommandLine; }
    void Trace(const std::string& text) override {
        if (m_bVerbose) {
            std::string lines = platform::PlainTraceText(text);
            std::fwrite(lines.data(), 1, lines.size(), stdout);
            std::fflush(stdout);
        }
    }

    // Every message is one line of the program's own on stderr.
    void Message(const std::string& text, const std::string& title) override {
        EndProgressLine();
        std::string failed = LoadText(4);
        std::string usage = LoadText(3);
        std::string head = text.substr(0, text.find('\n'));
        std::string rest = head.size() < text.size() ? text.substr(head.size() + 1) : "";
        std::string line;
        if (title == kTitleError && head.compare(0, failed.size(), failed) == 0) {
            // "Failed to extract file: <code's text>" and the cause on the next line.
            std::string code = Trimmed(head.substr(failed.size()));
            line = !Trimmed(rest).empty() ? OneLine(rest)
                   : code.empty()         ? "cannot extract " + m_strInput + "."
                                          : "cannot extract " + m_strInput + ": " + OneLine(code);
        } else if (title == kTitleError && head == usage) {
            line = OneLine(rest) + " Try 'spillet --help'.";
        } else {
            line = OneLine(text);
        }
        Say(line);
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        EndProgressLine();
        if (isatty(STDIN_FILENO)) {
            return m_ui.ShowMessage(text, title, platform::kMbYesNo, nullptr) == platform::kIdYes;
        }
        // Nobody to ask: the safe answer, and what came of it.
        if (title == kTitleSave) {
            Say("An older page is in the way and nobody can be asked whether to replace it "
                "(standard input is not a terminal), so the unpacking stopped. " +
                OneLine(text.substr(0, text.find('\n'))) +
                " Remove it or unpack into another folder.");
        }
        return false;  // the browser question: the line that said where the page is stands
    }
    bool AskPassword(std::string& password) override {
        EndProgressLine();
        platform::PasswordPrompt prompt;
        prompt.emptyMessage = LoadText(1);
        if (isatty(STDIN_FILENO)) {
            return m_ui.AskPassword(prompt, password, nullptr);
        }
        // No terminal: a script may give the password as a line of its input; no prompt
        // is shown for it.
        platform::CTerminalUserInterface script(STDIN_FILENO, -1);
        if (script.AskPassword(prompt, password, nullptr)) {
            return true;
        }
        Say("The archive needs a password, and none came on standard input.");
        return false;
    }
    void ShowSplash() override {}
    void EndSplash() override {}

    bool OpenProgress(const std::string& title, bool) override {
        m_strMessage = title;
        m_bOpen = true;
        g_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigaction(SIGINT, &action, &m_previousInterrupt);
        return true;
    }
    void SetProgressMessage(const std::string& text) override {
        m_strMessage = text;
        ShowProgress(true);
    }
    void SetProgressPosition(int percent) override {
        m_nPercent = percent;
        ShowProgress(false);
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

    bool RunAndWait(const std::string& path) override { return m_ui.RunAndWait(Native(path)); }
    bool ShellOpen(const std::string& path) override {
        if (m_ui.ShellOpen(Native(path), nullptr) > platform::kShellOpenOk) {
            return true;
        }
        // xdg-open's own lines stay out of the way; one line says where the page is.
        std::string why = m_ui.LastShellOutput();
        Trace("xdg-open: " + why + "\n");
        Say("xdg-open could not open the page" + (why.empty() ? "" : " (" + why + ")") +
            "; it is " + Native(path) + ".");
        return false;
    }
    bool ShellAvailable() override { return !platform::FindProgramOnPath("xdg-open").empty(); }
    void Finished(const std::string& folder) override {
        EndProgressLine();
        std::string line = "Extracted into " + folder + "\n";
        if (isatty(STDOUT_FILENO)) {
            line = platform::EscapeControls(line, true);
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }

  private:
    // One line on stderr: "spillet: " and the text, whatever it holds kept on that line.
    void Say(const std::string& text) {
        std::string line = "spillet: " + platform::EscapeControls(text, false) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }

    // On a terminal one line on stderr, redrawn in place; otherwise a plain line per file.
    void ShowProgress(bool newFile) {
        if (!m_bOpen) {
            return;
        }
        if (isatty(STDERR_FILENO)) {
            // Within the terminal's width, its last column left free so that it never wraps.
            int columns = platform::TerminalColumns(STDERR_FILENO);
            std::string line = platform::FitColumns(platform::EscapeControls(m_strMessage, false),
                                                    columns > 6 ? columns - 6 : 0);
            std::fprintf(stderr, "\r\033[K%3d%% %s", m_nPercent, line.c_str());
            std::fflush(stderr);
            m_bLineOpen = true;
        } else if (newFile) {
            std::fprintf(stderr, "%s\n", m_strMessage.c_str());
        }
    }
    void EndProgressLine() {
        if (m_bLineOpen) {
            std::fputc('\n', stderr);
            m_bLineOpen = false;
        }
    }

    platform::CTerminalUserInterface m_ui;
    bool m_bVerbose;
    std::string m_strInput;  // the input file as given
    std::string m_strCommandLine;
    std::string m_strMessage;
    int m_nPercent = 0;
    bool m_bOpen = false;
    bool m_bLineOpen = false;
    struct sigaction m_previousInterrupt {};
};

}  // namespace

std::unique_ptr<CExtractorHost> MakeTerminalHost(const std::vector<std::string>& args,
                                                 bool verbose) {
    return std::make_unique<CTerminalHost>(args, verbose);
}

}  // namespace spillet
