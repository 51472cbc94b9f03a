// The Zip command: from the address and output path in the main window to a
// finished executable, on one worker thread.
//
// CMainWindow holds the command's logic and state. Every window operation it needs
// is a virtual function that the platform's window implements (the Win32 main
// window; the terminal on Linux; a fake in the tests), so the logic is the same
// everywhere and is tested without a window system.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_options.h"
#include "packager/output/output.h"
#include "packager/shell/progress_dialog.h"
#include "platform/ui.h"

class CGrabber;
class CGrabPlan;

// Control and command ids of the main window.
constexpr int kIdAddressBox = 1000;     // also Alt+U: focus the address box
constexpr int kIdOutputPathBox = 1002;  // also Alt+P: focus the output-path box
constexpr int kIdZipButton = 1001;
constexpr int kIdBrowseButton = 1003;
constexpr int kIdViewButton = 1005;
constexpr int kIdAboutButton = 141;
constexpr int kIdCloseButton = 145;
constexpr int kIdNextControl = 32772;      // Tab
constexpr int kIdPreviousControl = 32773;  // Shift+Tab

// String 114.
extern const char* const kStrBadOutputPath;
// String 115.
extern const char* const kStrBadAddress;

// What the application object holds for the command: the job record, the address
// of the running job and the grabber.
struct PackagerState {
    GrabJob job;
    std::string m_strJobURL;
    CGrabber* pGrabber = nullptr;
};

class CMainWindow;
int MainWindowProgress(CMainWindow* pContext, std::string strText, int32_t nPosition,
                       int32_t nRange);

// The window as the grab's progress: MainWindowProgress with the range 100.
class CWindowProgress : public CGrabProgress {
  public:
    explicit CWindowProgress(CMainWindow& window) : m_window(window) {}
    int Report(const std::string& text, int32_t position) override {
        return MainWindowProgress(&m_window, text, position, 100);
    }

  private:
    CMainWindow& m_window;
};

class CMainWindow {
  public:
    explicit CMainWindow(PackagerState& app);
    virtual ~CMainWindow();
    CMainWindow(const CMainWindow&) = delete;
    CMainWindow& operator=(const CMainWindow&) = delete;

    // Makes this window the job record's progress.
    void InstallProgressCallback();

    // WM_COMMAND: accelerators, menus and button clicks run their command; any other
    // notification of a control (the boxes' focus, change and selection notices, which
    // carry the box's id) runs nothing. True when a command ran; false leaves the
    // message to the default processing.
    bool OnCommandMessage(int id, unsigned notifyCode, bool fromControl);
    // The command (window thread).
    void OnZip();
    // View URL in browser: the address normalised as the Zip command does it; an
    // empty address gets the Zip command's message.
    void OnViewUrl();
    // Trims the address; keeps an openable local file; otherwise puts "http://" in
    // front unless it starts with "http://" or "https://" in any case.
    static void NormalizeAddress(std::string& address);
    void BeginBusy();
    // At the end of the worker; the window operations run on the window thread, in order.
    void EndBusy(bool success);
    bool IsCancelled() const;
    // Stores a report in the mailbox; always 1.
    int SetProgressData(const std::string& text, int32_t position, int32_t range);
    void UpdateProgressDialog(const std::string& text, int32_t position, int32_t range);
    // Timer 1: carries the latest report into the dialog.
    void OnTimer(int timerId);

    // The worker's body (GrabThreadProc calls it).
    void RunWorker();
    // Packs the work folder of the main page and removes the folder.
    bool Package(const std::string& mainPagePath);

    // Whether the worker is running (between BeginBusy and the end of EndBusy).
    bool IsBusy() const { return m_bBusy; }
    // Whether the platform's window still exists.
    virtual bool WindowExists() = 0;

    std::string m_strURL;
    std::string m_strOutPath;
    // The done dialog's note: where the executable went and what could not be fetched.
    std::string m_strDoneNote;
    std::unique_ptr<CProgressDialog> m_pProgressDlg;
    CWindowProgress m_progress{*this};
    std::string m_strProgressText;
    std::atomic<int32_t> m_nProgressPos{0};
    std::atomic<int32_t> m_nProgressRange{100};
    std::mutex m_csProgress;

  protected:
    // ---- Window operations, implemented by the platform's window ----
    virtual std::string GetAddressText() = 0;
    virtual std::string GetOutputPathText() = 0;
    // A message box with the application's name as caption; style and answer in
    // platform::kMb* / platform::kId* numbering.
    virtual int ShowMessageBox(const std::string& text, unsigned style) = 0;
    // A message with the cause that led to it: a window shows the box text with the cause
    // after a blank line, as the fetch messages do; a terminal shows the cause alone.
    virtual void ShowMessageWithCause(const std::string& text, const std::string& cause,
                                      unsigned style) {
        ShowMessageBox(text + "\r\n\r\n" + cause, style);
    }
    virtual void SetFocusTo(int controlId) = 0;
    virtual void EnableMainWindow(bool enable) = 0;
    virtual WindowHandle GetHandle() = 0;
    virtual void StartTimer() = 0;  // timer 1, 500 ms
    virtual void StopTimer() = 0;
    // The done dialog, modal, without an owner.
    virtual void ShowDoneDialog() = 0;
    // The address box's list: count, prefix search (case-insensitive) over the whole
    // list starting after `after`, append, select.
    virtual int ComboGetCount() = 0;
    virtual int ComboFindString(int after, const std::string& text) = 0;
    virtual int ComboAddString(const std::string& text) = 0;
    virtual void ComboSetCurSel(int index) = 0;
    // The text of entry `index`; a list that cannot be read answers "" for every
    // entry, so no entry matches and the address is appended.
    virtual std::string ComboGetItemText(int index);
    virtual void BringToForeground() = 0;
    // The other commands of the window; a window without them ignores them.
    virtual void OpenInBrowser(const std::string& address);
    virtual void ShowBrowseDialog() {}
    virtual void ShowAboutBox() {}
    virtual void CloseWindow() {}
    virtual void FocusNextControl() {}
    virtual void FocusPreviousControl() {}
    // The options of the next grab, built before it starts: the window's come from the
    // settings store (the registry on Windows), read again for each grab.
    virtual CGrabOptions GrabOptions() { return ReadGrabOptions(); }
    // Starts the worker thread running fn; false when it cannot be started.
    virtual bool StartWorker(std::function<void()> fn) = 0;
    // Runs fn on the window thread and returns when it has run.
    virtual void RunOnWindowThread(std::function<void()> fn) = 0;
    // Writes the capture to the output its path names (the executable, unless the
    // window takes other kinds; tests substitute it).
    virtual bool PackageFolder(const std::string& outputPath, const std::string& mainPagePath);
    // Whether the output path may name the other outputs (DIR/, NAME.html, NAME.mhtml)
    // besides the executable: the Linux command line. The window keeps the ".EXE" rule.
    virtual bool AcceptsEveryOutputKind() const { return false; }
    // The output the Zip command writes at path, as AcceptsEveryOutputKind allows.
    OutputKind OutputKindFor(const std::string& path) const;
    // The extractor copied into every executable (tests point it elsewhere).
    virtual std::string ExtractorTemplate();
    // Records the address in the history (tests substitute it).
    virtual void RecordHistory(const std::string& address);

    PackagerState& m_app;

  private:
    // The output-path check: message 114 with the cause and the focus on the path box.
    void RefuseOutputPath(const std::string& cause);
    void FinishOnWindowThread(bool success);
    void OfferAddress(const std::string& address);

    std::atomic<bool> m_bBusy{false};
};

// The main window's progress callback: 0 when there is no window, it is gone, or the
// user cancelled; otherwise the report goes to the mailbox and the answer is 1.
int MainWindowProgress(CMainWindow* pContext, std::string strText, int32_t nPosition,
                       int32_t nRange);

// The done dialog's note: "Saved as <output>", then how many items could not be
// fetched, the first few by kind, address and cause, and how many more.
std::string DoneNote(const CGrabPlan& report, const std::string& outputPath);

// The worker thread's procedure; the parameter is the main window.
unsigned GrabThreadProc(void* pParam);
