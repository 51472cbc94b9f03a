// A browser started for one capture and spoken to over its DevTools pipe: the browser reads
// commands from its descriptor 3 and writes answers and events to its descriptor 4, each
// message a JSON text ended by a NUL byte. No socket is opened.
#pragma once

#include <memory>
#include <string>
#include <vector>

// How a message exchange with the browser went.
enum class PipeResult { Message, TimedOut, Closed, Failed };

// The message channel to a browser, whichever way it was started.
class CDevToolsPipe {
  public:
    virtual ~CDevToolsPipe() = default;
    // Writes one message (the NUL is added). Waits at most timeoutMs for the browser to
    // take it; false with the reason in error.
    virtual bool Send(const std::string& message, int timeoutMs, std::string& error) = 0;
    // Waits at most timeoutMs for the next message. Message: it is in message. TimedOut:
    // nothing came. Closed: the browser closed its end (it ended). Failed: error says why.
    virtual PipeResult Receive(std::string& message, int timeoutMs, std::string& error) = 0;
};

class CBrowserProcess : public CDevToolsPipe {
  public:
    CBrowserProcess();
    // Ends the browser if it still runs (see Stop).
    ~CBrowserProcess() override;
    CBrowserProcess(const CBrowserProcess&) = delete;
    CBrowserProcess& operator=(const CBrowserProcess&) = delete;

    // Starts command (the program and its arguments; the pipe flag is added) in a process
    // group (Linux) or a job object (Windows) of its own, which nothing of the browser leaves
    // and which ends with the packager. False, with the reason in error, when it cannot be
    // started.
    bool Start(const std::vector<std::string>& command, std::string& error);
    bool Send(const std::string& message, int timeoutMs, std::string& error) override;
    PipeResult Receive(std::string& message, int timeoutMs, std::string& error) override;
    // Closes the pipe, gives the browser graceMs to end, then kills its whole process group
    // (or job) and reaps it. Safe to call twice; afterwards nothing of the browser runs.
    void Stop(int graceMs);
    // The process id of the browser (0 when none was started), for tests.
    int ProcessId() const { return m_nPid; }
    // Whether the browser has ended (reaped or not).
    bool HasEnded();

  private:
    int m_nPid = 0;
#ifdef _WIN32
    // The process, its job and our overlapped ends of the pipes: kept out of this header,
    // which includes no Windows header.
    struct CWin32Handles;
    std::unique_ptr<CWin32Handles> m_pHandles;
#else
    int m_nToBrowser = -1;    // our end of the browser's descriptor 3
    int m_nFromBrowser = -1;  // our end of the browser's descriptor 4
    bool m_bReaped = false;
#endif
    // Bytes read that do not make a whole message yet.
    std::string m_strPending;
    // Cuts the next whole message out of the bytes read (result Message), or gives the pipe
    // up when they grow past any answer (result Failed, with error); false while neither.
    bool TakeMessage(std::string& message, PipeResult& result, std::string& error);
};
