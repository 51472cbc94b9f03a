// The progress dialog as a terminal line on stderr. Ctrl-C is the Cancel button:
// the signal only raises a process-wide flag, which every dialog takes over at its
// next message processing, just as a click waits in a window's queue.
#include "packager/shell/progress_dialog.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/internet.h"
#include "platform/posix/ui_terminal.h"
#include "platform/terminal_text.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;
volatile sig_atomic_t g_everInterrupted = 0;  // not cleared: the run was cancelled
std::once_flag g_handlerOnce;
std::mutex g_terminalLock;  // the worker and the main thread may both draw

void OnInterrupt(int) {
    g_interrupted = 1;
    g_everInterrupted = 1;
}

void InstallInterruptHandler() {
    std::call_once(g_handlerOnce, [] {
        struct sigaction sa = {};
        sa.sa_handler = OnInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
    });
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

// How much a transfer has brought so far, as a progress line says it.
std::string AmountText(uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    if (bytes < 1024 * 1024)
        return std::to_string(bytes / 1024) + " KB";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

// "[#####.....]  42% message (35 KB)": the bar takes a fifth of the line, the message the
// rest, cut before the tail so that the tail (the bytes in flight) stays in sight; the last
// column stays free, so that the terminal never wraps the line.
std::string ProgressLine(int percent, const std::string& message, const std::string& tail,
                         int columns) {
    std::string percentText = std::to_string(percent) + "%";
    percentText.insert(0, percentText.size() < 4 ? 4 - percentText.size() : 0, ' ');
    size_t width = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
    std::string line;
    if (width >= 30) {
        size_t bar = std::min<size_t>(30, std::max<size_t>(5, width / 5));
        size_t filled = bar * static_cast<size_t>(percent) / 100;
        line = "[" + std::string(filled, '#') + std::string(bar - filled, '.') + "] ";
    }
    line += percentText + " ";
    if (line.size() >= width)
        return platform::FitColumns(line, width);
    size_t room = width - line.size();
    // The tail only beside at least a few columns of the message.
    if (tail.empty() || tail.size() + 8 > room)
        return line + platform::FitColumns(message, room);
    return line + platform::FitColumns(message, room - tail.size()) + tail;
}

}  // namespace

// Lets tests play the Ctrl-C key.
void ProgressDialogSimulateInterrupt() {
    g_interrupted = 1;
    g_everInterrupted = 1;
}

bool ProgressDialogInterrupted() {
    return g_everInterrupted != 0;
}

CProgressDialog::CProgressDialog(WindowHandle owner) : m_pOwner(owner) {}

CProgressDialog::~CProgressDialog() {
    DestroyWindow();
    EnableOwner();
}

int CProgressDialog::Create(const std::string& text, bool showCancel, WindowHandle owner) {
    m_pOwner = owner;
    m_strMessage = text;
    m_bShowCancel = showCancel ? 1 : 0;
    m_bCancelled = 0;
    InstallInterruptHandler();
    g_interrupted = 0;
    m_bOpen = true;
    m_bVisible = true;
    m_nPosition = 0;
    m_nRange = 100;
    PumpMessages();
    if (!IsOpen()) {
        EnableOwner();
        return 0;
    }
    return 1;
}

bool CProgressDialog::IsOpen() const {
    return m_bOpen;
}

void CProgressDialog::PumpMessages() {
    if (!m_bOpen)
        return;
    if (g_interrupted && m_bShowCancel) {
        // Stays raised for every other dialog of the process too, like the one
        // Ctrl-C that it was; the owner clears its own flag when it is done.
        m_bCancelled = 1;
    }
    if (!m_bVisible || !StderrIsTerminal())
        return;
    std::lock_guard<std::mutex> lock(g_terminalLock);
    int range = m_nRange > 0 ? m_nRange : 1;
    int pos = std::min(std::max(m_nPosition, 0), range);
    int percent = static_cast<int>(static_cast<long long>(pos) * 100 / range);
    uint64_t inFlight = platform::BytesInFlight();
    std::string tail = inFlight > 0 ? " (" + AmountText(inFlight) + ")" : std::string();
    std::string line = ProgressLine(percent, platform::EscapeControls(m_strMessage, false), tail,
                                    platform::TerminalColumns(STDERR_FILENO));
    // Back to the start of the line, cleared, then the line.
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

void CProgressDialog::SetMessage(const std::string& text) {
    if (!m_bOpen)
        return;
    m_strMessage = text;
    PumpMessages();
}

void CProgressDialog::SetPosition(int position) {
    if (!m_bOpen)
        return;
    m_nPosition = position;
    PumpMessages();
}

void CProgressDialog::SetRange(int range) {
    if (!m_bOpen)
        return;
    m_nRange = range & 0xFFFF;
}

void CProgressDialog::Show() {
    if (m_bOpen)
        m_bVisible = true;
}

void CProgressDialog::Hide() {
    if (!m_bOpen || !m_bVisible)
        return;
    m_bVisible = false;
    if (StderrIsTerminal()) {
        std::lock_guard<std::mutex> lock(g_terminalLock);
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}

void CProgressDialog::DestroyWindow() {
    if (!m_bOpen)
        return;
    Hide();
    m_bOpen = false;
    EnableOwner();
}

void CProgressDialog::ClearCancelled() {
    g_interrupted = 0;
    m_bCancelled = 0;
}

void CProgressDialog::EnableOwner() {
    // A terminal has no owner window to give back its enabled state.
}

int CProgressDialog::GetPosition() const {
    return m_bOpen ? m_nPosition : 0;
}

int CProgressDialog::GetRange() const {
    return m_bOpen ? m_nRange : 0;
}

std::string CProgressDialog::GetMessageText() const {
    return m_bOpen ? m_strMessage : std::string();
}

bool CProgressDialog::IsVisible() const {
    return m_bOpen && m_bVisible;
}
