// The browser's process and its DevTools pipe on Windows. The browser finds the pipe as its C
// runtime descriptors 3 and 4, handed over in the start-up information's reserved block (the
// layout the C runtime reads at start: a 32-bit count, one flag byte per descriptor, then one
// handle per descriptor). Our ends are overlapped named-pipe ends, so that every wait is
// bounded; the browser and everything it starts live in a job that dies with its handle.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "packager/render/browser_process.h"

namespace {

// How long a killed browser may take to be gone before we stop waiting for it.
const DWORD kReapMs = 5000;
// The slice a wait for the browser's answer goes before looking whether it ended.
const int kSliceMs = 100;

// The C runtime's flags for an inherited descriptor: open, and a pipe.
const unsigned char kFdOpen = 0x01;
const unsigned char kFdPipe = 0x08;
// Descriptors 0 to 4: the standard three are left to the runtime's defaults.
const int kInheritedFds = 5;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text ? std::string(text, n) : std::string();
    if (text) {
        LocalFree(text);
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

void CloseOne(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    h = nullptr;
}

// A read that failed: the browser closed its end (the pipe from it is closed too), or a fault.
PipeResult ReadFailed(DWORD code, HANDLE& fromBrowser, std::string& error) {
    if (code == ERROR_BROKEN_PIPE) {
        CloseOne(fromBrowser);
        return PipeResult::Closed;
    }
    error = "the pipe from the browser failed: " + SystemText(code);
    return PipeResult::Failed;
}

std::string WriteFailure(DWORD code) {
    return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA
               ? "the browser has ended"
               : "the pipe to the browser failed: " + SystemText(code);
}

// One argument as the C runtime splits a command line: quoted when it holds blanks or
// quotes, with the backslashes before a quote doubled.
std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

// One direction of the pipe: our end overlapped, the browser's end inheritable. The name is
// made once and refused if anybody holds it already, so only the browser can be the client.
bool MakePipe(bool toBrowser, HANDLE& ours, HANDLE& theirs, std::string& error) {
    static std::atomic<unsigned> serial{0};
    std::string name = "\\\\.\\pipe\\quillbox-devtools-" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(++serial) + "-" + std::to_string(GetTickCount64());
    DWORD access = (toBrowser ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) | FILE_FLAG_OVERLAPPED |
                   FILE_FLAG_FIRST_PIPE_INSTANCE;
    ours = CreateNamedPipeA(
        name.c_str(), access,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 1 << 16,
        1 << 16, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE) {
        ours = nullptr;
        error = "no pipe to the browser could be made: " + SystemText(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    theirs = CreateFileA(name.c_str(), toBrowser ? GENERIC_READ : GENERIC_WRITE, 0, &inheritable,
                         OPEN_EXISTING, 0, nullptr);
    if (theirs == INVALID_HANDLE_VALUE) {
        theirs = nullptr;
        error = "no pipe to the browser could be made: " + SystemText(GetLastError());
        CloseOne(ours);
        return false;
    }
    return true;
}

}  // namespace

struct CBrowserProcess::CWin32Handles {
    HANDLE hProcess = nullptr;
    HANDLE hJob = nullptr;
    HANDLE hToBrowser = nullptr;    // our end of the browser's descriptor 3
    HANDLE hFromBrowser = nullptr;  // our end of the browser's descriptor 4
    // The read that may still be under way between two calls of Receive.
    OVERLAPPED readState = {};
    bool bReadPending = false;
    char readBuffer[65536];
    OVERLAPPED writeState = {};

    CWin32Handles() {
        readState.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        writeState.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~CWin32Handles() {
        ClosePipes(nullptr);
        CloseOne(hJob);
        CloseOne(hProcess);
        CloseOne(readState.hEvent);
        CloseOne(writeState.hEvent);
    }

    // Ends a read under way; what it had taken in goes to pending (when given).
    void CancelRead(std::string* pending) {
        if (!bReadPending) {
            return;
        }
        CancelIoEx(hFromBrowser, &readState);
        DWORD got = 0;
        if (GetOverlappedResult(hFromBrowser, &readState, &got, TRUE) && pending) {
            pending->append(readBuffer, got);
        }
        bReadPending = false;
    }
    void ClosePipes(std::string* pending) {
        CancelRead(pending);
        CloseOne(hToBrowser);
        CloseOne(hFromBrowser);
    }
};

CBrowserProcess::CBrowserProcess() = default;

CBrowserProcess::~CBrowserProcess() {
    Stop(0);
}

bool CBrowserProcess::Start(const std::vector<std::string>& command, std::string& error) {
    if (command.empty()) {
        error = "no browser was named";
        return false;
    }
    Stop(0);
    auto handles = std::make_unique<CWin32Handles>();
    if (!handles->readState.hEvent || !handles->writeState.hEvent) {
        error = "no pipe to the browser could be made: " + SystemText(GetLastError());
        return false;
    }
    HANDLE theirRead = nullptr, theirWrite = nullptr;
    if (!MakePipe(true, handles->hToBrowser, theirRead, error)) {
        return false;
    }
    if (!MakePipe(false, handles->hFromBrowser, theirWrite, error)) {
        CloseOne(theirRead);
        return false;
    }
    struct CTheirEnds {
        HANDLE& read;
        HANDLE& write;
        ~CTheirEnds() {
            CloseOne(read);
            CloseOne(write);
        }
    } theirEnds{theirRead, theirWrite};

    handles->hJob = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!handles->hJob || !SetInformationJobObject(handles->hJob, JobObjectExtendedLimitInformation,
                                                   &limits, sizeof(limits))) {
        error = "the browser's job object could not be made: " + SystemText(GetLastError());
        return false;
    }

    // The C runtime's table of inherited descriptors: 3 reads, 4 writes.
    std::vector<unsigned char> table(sizeof(int) + kInheritedFds + kInheritedFds * sizeof(HANDLE));
    int count = kInheritedFds;
    std::memcpy(table.data(), &count, sizeof(int));
    unsigned char* flags = table.data() + sizeof(int);
    unsigned char* slots = flags + kInheritedFds;
    for (int fd = 0; fd < kInheritedFds; ++fd) {
        HANDLE h = fd == 3 ? theirRead : fd == 4 ? theirWrite : INVALID_HANDLE_VALUE;
        flags[fd] = fd >= 3 ? kFdOpen | kFdPipe : 0;
        std::memcpy(slots + fd * sizeof(HANDLE), &h, sizeof(HANDLE));
    }

    // Only the two pipe ends are inherited, whatever else of ours is inheritable.
    HANDLE inherited[2] = {theirRead, theirWrite};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> listMemory(listSize);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) {
        error = "the browser could not be started: " + SystemText(GetLastError());
        return false;
    }
    struct CListOwner {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~CListOwner() { DeleteProcThreadAttributeList(list); }
    } listOwner{list};
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof(inherited), nullptr, nullptr)) {
        error = "the browser could not be started: " + SystemText(GetLastError());
        return false;
    }

    STARTUPINFOEXA startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.cbReserved2 = static_cast<WORD>(table.size());
    startup.StartupInfo.lpReserved2 = table.data();
    startup.lpAttributeList = list;
    std::string line;
    for (const std::string& arg : command) {
        line += (line.empty() ? "" : " ") + QuoteArgument(arg);
    }
    line += " --remote-debugging-pipe";
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts can escape it.
    if (!CreateProcessA(command[0].c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        nullptr, &startup.StartupInfo, &process)) {
        error =
            "the browser " + command[0] + " could not be started: " + SystemText(GetLastError());
        return false;
    }
    handles->hProcess = process.hProcess;
    if (!AssignProcessToJobObject(handles->hJob, process.hProcess)) {
        error = "the browser could not be put in its job object: " + SystemText(GetLastError());
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, kReapMs);
        CloseHandle(process.hThread);
        return false;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    m_nPid = static_cast<int>(process.dwProcessId);
    m_pHandles = std::move(handles);
    m_strPending.clear();
    return true;
}

bool CBrowserProcess::Send(const std::string& message, int timeoutMs, std::string& error) {
    if (!m_pHandles || !m_pHandles->hToBrowser) {
        error = "the browser is not running";
        return false;
    }
    CWin32Handles& h = *m_pHandles;
    std::string data = message;
    data.push_back('\0');
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < data.size()) {
        ResetEvent(h.writeState.hEvent);
        h.writeState.Offset = h.writeState.OffsetHigh = 0;
        DWORD chunk =
            static_cast<DWORD>(data.size() - done > (1u << 20) ? (1u << 20) : data.size() - done);
        if (!WriteFile(h.hToBrowser, data.data() + done, chunk, nullptr, &h.writeState) &&
            GetLastError() != ERROR_IO_PENDING) {
            error = WriteFailure(GetLastError());
            return false;
        }
        DWORD written = 0;
        if (WaitForSingleObject(h.writeState.hEvent, static_cast<DWORD>(RemainingMs(deadline))) !=
            WAIT_OBJECT_0) {
            CancelIoEx(h.hToBrowser, &h.writeState);
            GetOverlappedResult(h.hToBrowser, &h.writeState, &written, TRUE);
            error = "the browser stopped reading its commands";
            return false;
        }
        if (!GetOverlappedResult(h.hToBrowser, &h.writeState, &written, FALSE)) {
            error = WriteFailure(GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

PipeResult CBrowserProcess::Receive(std::string& message, int timeoutMs, std::string& error) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PipeResult result;
        if (TakeMessage(message, result, error)) {
            return result;
        }
        if (!m_pHandles || !m_pHandles->hFromBrowser) {
            return PipeResult::Closed;
        }
        CWin32Handles& h = *m_pHandles;
        if (!h.bReadPending) {
            ResetEvent(h.readState.hEvent);
            h.readState.Offset = h.readState.OffsetHigh = 0;
            if (!ReadFile(h.hFromBrowser, h.readBuffer, sizeof h.readBuffer, nullptr,
                          &h.readState) &&
                GetLastError() != ERROR_IO_PENDING) {
                return ReadFailed(GetLastError(), h.hFromBrowser, error);
            }
            h.bReadPending = true;
        }
        int left = RemainingMs(deadline);
        if (WaitForSingleObject(h.readState.hEvent,
                                static_cast<DWORD>(left < kSliceMs ? left : kSliceMs)) ==
            WAIT_OBJECT_0) {
            DWORD got = 0;
            h.bReadPending = false;
            if (GetOverlappedResult(h.hFromBrowser, &h.readState, &got, FALSE)) {
                m_strPending.append(h.readBuffer, got);
                continue;
            }
            return ReadFailed(GetLastError(), h.hFromBrowser, error);
        }
        // A helper of the browser may hold its end open after it died: the browser's end is
        // the end of the conversation too.
        if (HasEnded()) {
            h.CancelRead(&m_strPending);
            if (m_strPending.find('\0') != std::string::npos) {
                continue;
            }
            CloseOne(h.hFromBrowser);
            return PipeResult::Closed;
        }
        if (RemainingMs(deadline) == 0) {
            return PipeResult::TimedOut;
        }
    }
}

bool CBrowserProcess::HasEnded() {
    return !m_pHandles || !m_pHandles->hProcess ||
           WaitForSingleObject(m_pHandles->hProcess, 0) == WAIT_OBJECT_0;
}

void CBrowserProcess::Stop(int graceMs) {
    if (!m_pHandles) {
        return;
    }
    CWin32Handles& h = *m_pHandles;
    // The end of its commands tells the browser to end.
    h.ClosePipes(nullptr);
    if (h.hProcess) {
        WaitForSingleObject(h.hProcess, static_cast<DWORD>(graceMs < 0 ? 0 : graceMs));
    }
    // The browser's helpers (renderers, GPU and network processes) are in its job: none stays
    // behind, even when the browser itself ended first.
    TerminateJobObject(h.hJob, 1);
    if (h.hProcess) {
        WaitForSingleObject(h.hProcess, kReapMs);
    }
    m_pHandles.reset();
    m_nPid = 0;
}
