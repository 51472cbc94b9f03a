// The browser's process and its DevTools pipe on Linux.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "packager/render/browser_process.h"

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

CBrowserProcess::CBrowserProcess() = default;

CBrowserProcess::~CBrowserProcess() {
    Stop(0);
}

bool CBrowserProcess::Start(const std::vector<std::string>& command, std::string& error) {
    if (command.empty()) {
        error = "no browser was named";
        return false;
    }
    int toBrowser[2], fromBrowser[2];
    if (pipe2(toBrowser, O_CLOEXEC) != 0) {
        error = std::string("no pipe to the browser could be made: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(fromBrowser, O_CLOEXEC) != 0) {
        error = std::string("no pipe to the browser could be made: ") + std::strerror(errno);
        close(toBrowser[0]);
        close(toBrowser[1]);
        return false;
    }
    // Everything the child needs is made before the fork: after it only calls that are safe
    // in a copy of a threaded process are made.
    std::vector<std::string> args = command;
    args.push_back("--remote-debugging-pipe");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    long maxFd = sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) {
        maxFd = 65536;
    }
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // The browser does not outlive the packager, even one that is killed.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int in = fcntl(toBrowser[0], F_DUPFD, 10);
        int out = fcntl(fromBrowser[1], F_DUPFD, 10);
        if (in < 0 || out < 0 || dup2(in, 3) < 0 || dup2(out, 4) < 0) {
            _exit(127);
        }
        if (devNull >= 0) {
            dup2(devNull, 0);
            dup2(devNull, 1);
            dup2(devNull, 2);
        }
        for (long fd = 5; fd < maxFd; ++fd) {
            close(static_cast<int>(fd));
        }
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int forkErrno = errno;
    if (devNull >= 0) {
        close(devNull);
    }
    close(toBrowser[0]);
    close(fromBrowser[1]);
    if (pid < 0) {
        close(toBrowser[1]);
        close(fromBrowser[0]);
        error = std::string("the browser could not be started: ") + std::strerror(forkErrno);
        return false;
    }
    // Also here, so that a kill of the group right after the fork cannot miss it.
    setpgid(pid, pid);
    m_nPid = pid;
    m_bReaped = false;
    m_nToBrowser = toBrowser[1];
    m_nFromBrowser = fromBrowser[0];
    fcntl(m_nToBrowser, F_SETFL, fcntl(m_nToBrowser, F_GETFL) | O_NONBLOCK);
    fcntl(m_nFromBrowser, F_SETFL, fcntl(m_nFromBrowser, F_GETFL) | O_NONBLOCK);
    m_strPending.clear();
    return true;
}

bool CBrowserProcess::Send(const std::string& message, int timeoutMs, std::string& error) {
    if (m_nToBrowser < 0) {
        error = "the browser is not running";
        return false;
    }
    std::string data = message;
    data.push_back('\0');
    // A browser that died makes the write fail with EPIPE; the signal it would also raise
    // must not end the packager.
    sigset_t pipeSignal, old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = write(m_nToBrowser, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_nToBrowser, POLLOUT, 0};
            int left = RemainingMs(deadline);
            if (left > 0 && poll(&p, 1, left) >= 0) {
                continue;
            }
            error = "the browser stopped reading its commands";
        } else {
            error = errno == EPIPE
                        ? "the browser has ended"
                        : std::string("the pipe to the browser failed: ") + std::strerror(errno);
        }
        ok = false;
        break;
    }
    timespec zero{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

PipeResult CBrowserProcess::Receive(std::string& message, int timeoutMs, std::string& error) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PipeResult result;
        if (TakeMessage(message, result, error)) {
            return result;
        }
        if (m_nFromBrowser < 0) {
            return PipeResult::Closed;
        }
        char chunk[65536];
        ssize_t n = read(m_nFromBrowser, chunk, sizeof chunk);
        if (n > 0) {
            m_strPending.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            CloseFd(m_nFromBrowser);
            return PipeResult::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = std::string("the pipe from the browser failed: ") + std::strerror(errno);
            return PipeResult::Failed;
        }
        // The browser's helpers may hold its end of the pipe open after it died: its end is
        // the end of the conversation too.
        if (HasEnded()) {
            CloseFd(m_nFromBrowser);
            return PipeResult::Closed;
        }
        int left = RemainingMs(deadline);
        if (left == 0) {
            return PipeResult::TimedOut;
        }
        pollfd p{m_nFromBrowser, POLLIN, 0};
        if (poll(&p, 1, left < 100 ? left : 100) < 0 && errno != EINTR) {
            error = std::string("the pipe from the browser failed: ") + std::strerror(errno);
            return PipeResult::Failed;
        }
    }
}

bool CBrowserProcess::HasEnded() {
    if (m_nPid <= 0 || m_bReaped) {
        return true;
    }
    int status = 0;
    pid_t r = waitpid(m_nPid, &status, WNOHANG);
    if (r == m_nPid || (r < 0 && errno == ECHILD)) {
        m_bReaped = true;
    }
    return m_bReaped;
}

void CBrowserProcess::Stop(int graceMs) {
    CloseFd(m_nToBrowser);
    CloseFd(m_nFromBrowser);
    if (m_nPid <= 0) {
        return;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    while (!HasEnded() && Clock::now() < deadline) {
        usleep(20000);
    }
    // The browser's helpers (renderers, zygotes) live in its group: none stays behind, even
    // when the browser itself ended first.
    kill(-m_nPid, SIGKILL);
    if (!m_bReaped) {
        while (waitpid(m_nPid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_bReaped = true;
    }
    m_nPid = 0;
}
