#include "platform/posix/ui_terminal.h"
#include "platform/terminal_text.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Access keys ("&Password:") mean nothing on a terminal.
std::string WithoutAccessKey(const std::string& label) {
    std::string out;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&' && i + 1 < label.size() && label[i + 1] != '&')
            continue;
        out += label[i];
    }
    return out;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

}  // namespace

int TerminalColumns(int fd) {
    struct winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void CTerminalUserInterface::Print(const std::string& raw) {
    const std::string text = isatty(m_outFd) ? EscapeControls(raw, true) : raw;
    size_t done = 0;
    while (m_outFd >= 0 && done < text.size()) {
        ssize_t n = write(m_outFd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

bool CTerminalUserInterface::ReadLine(std::string& line, bool hidden) {
    line.clear();
    if (m_inFd < 0)
        return false;
    struct termios saved;
    bool restore = false;
    if (hidden && isatty(m_inFd) && tcgetattr(m_inFd, &saved) == 0) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        restore = tcsetattr(m_inFd, TCSANOW, &quiet) == 0;
    }
    // One byte at a time, so that input after this line stays for later readers.
    bool got = false;
    for (;;) {
        char c;
        ssize_t n = read(m_inFd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got = true;
        if (c == '\n')
            break;
        line += c;
    }
    if (restore) {
        tcsetattr(m_inFd, TCSANOW, &saved);
        Print("\n");
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return got;
}

void CTerminalUserInterface::ShowFailure(const std::string&, const std::string& line,
                                         const std::string& caption, unsigned, void*) {
    // One line, whatever the address or the server's words held.
    std::string text = EscapeControls(line, false);
    Print((caption.empty() ? text : caption + ": " + text) + "\n");
}

int CTerminalUserInterface::ShowMessage(const std::string& text, const std::string& caption,
                                        unsigned flags, void*) {
    std::string message =
        caption.empty() ? PlainLineEnds(text) : caption + ": " + PlainLineEnds(text);
    unsigned buttons = flags & kMbButtonMask;
    const char* choices;
    int fallback;
    switch (buttons) {
        case kMbYesNo:
            choices = " [y/n] ";
            fallback = kIdNo;
            break;
        case kMbYesNoCancel:
            choices = " [y/n/c] ";
            fallback = kIdCancel;
            break;
        case kMbOkCancel:
            choices = " [o/c] ";
            fallback = kIdCancel;
            break;
        default:
            Print(message + "\n");
            return kIdOk;
    }
    if (m_inFd < 0)
        return fallback;  // nobody to ask
    Print(message);
    for (;;) {
        Print(choices);
        std::string answer;
        if (!ReadLine(answer, false)) {
            Print("\n");
            return fallback;
        }
        answer = Lower(Trim(answer));
        if (buttons == kMbOkCancel) {
            if (answer == "o" || answer == "ok" || answer == "y" || answer == "yes")
                return kIdOk;
            if (answer == "c" || answer == "cancel" || answer == "n" || answer == "no")
                return kIdCancel;
        } else {
            if (answer == "y" || answer == "yes")
                return kIdYes;
            if (answer == "n" || answer == "no")
                return kIdNo;
            if (buttons == kMbYesNoCancel && (answer == "c" || answer == "cancel"))
                return kIdCancel;
        }
    }
}

bool CTerminalUserInterface::AskAuthorization(const AuthorizationPrompt& prompt, std::string& user,
                                              std::string& password, void*) {
    if (m_inFd < 0)
        return false;
    std::string head = prompt.title;
    if (!prompt.server.empty())
        head += " (" + prompt.server + ")";
    Print(head + "\n" + PlainLineEnds(prompt.text) + "\n" + WithoutAccessKey(prompt.userLabel) +
          " ");
    std::string name, secret;
    if (!ReadLine(name, false)) {
        Print("\n");
        return false;
    }
    Print(WithoutAccessKey(prompt.passwordLabel) + " ");
    if (!ReadLine(secret, true)) {
        Print("\n");
        return false;
    }
    user = name;
    password = secret;
    return true;
}

bool CTerminalUserInterface::AskPassword(const PasswordPrompt& prompt, std::string& password,
                                         void*) {
    if (m_inFd < 0)
        return false;
    Print(prompt.title + "\n" + PlainLineEnds(prompt.text) + "\n");
    for (;;) {
        Print(WithoutAccessKey(prompt.label) + " ");
        std::string typed;
        if (!ReadLine(typed, true)) {
            Print("\n");
            return false;
        }
        if (typed.empty() && !prompt.emptyMessage.empty()) {
            Print("Error: " + PlainLineEnds(prompt.emptyMessage) + "\n");
            continue;
        }
        if (typed.size() > prompt.maxLength)
            typed.resize(prompt.maxLength);
        password = typed;
        return true;
    }
}

intptr_t CTerminalUserInterface::ShellOpen(const std::string& target, void*) {
    m_strShellOutput.clear();
    // A name that starts with "-" would read as an option.
    std::string arg = (!target.empty() && target[0] == '-') ? "./" + target : target;
    const char* argv[] = {"xdg-open", arg.c_str(), nullptr};
    // Its output goes to a file without a name, not a pipe: a browser it starts inherits
    // the descriptor and may hold it open for as long as it runs.
    FILE* captured = std::tmpfile();
    pid_t pid = fork();
    if (pid < 0) {
        if (captured)
            std::fclose(captured);
        return 8;  // out of memory, in ShellExecute's numbering
    }
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null >= 0)
            dup2(null, 0);
        int out = captured ? fileno(captured) : null;
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = WaitFor(pid);
    if (captured) {
        std::string output;
        char buffer[4096];
        std::rewind(captured);
        size_t n;
        while (output.size() < 65536 && (n = std::fread(buffer, 1, sizeof buffer, captured)) > 0)
            output.append(buffer, n);
        std::fclose(captured);
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
            output.pop_back();
        size_t last = output.find_last_of('\n');
        m_strShellOutput = Trim(last == std::string::npos ? output : output.substr(last + 1));
    }
    if (status < 0 || !WIFEXITED(status))
        return kShellNoAssociation;
    switch (WEXITSTATUS(status)) {
        case 0:
            return 42;
        case 2:  // xdg-open: the file does not exist
            return kShellFileNotFound;
        default:  // no tool, no association, or the tool failed
            return kShellNoAssociation;
    }
}

bool CTerminalUserInterface::RunAndWait(const std::string& path) {
    // The child reports a failed exec through a pipe that a successful exec closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    const char* argv[] = {path.c_str(), nullptr};
    pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (pid == 0) {
        close(report[0]);
        execv(path.c_str(), const_cast<char* const*>(argv));
        int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int err = 0;
    ssize_t n;
    do {
        n = read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    WaitFor(pid);
    return n == 0;
}

IUserInterface& PlatformUserInterface() {
    static CTerminalUserInterface terminal(isatty(STDIN_FILENO) ? STDIN_FILENO : -1, STDERR_FILENO);
    return terminal;
}

}  // namespace platform
