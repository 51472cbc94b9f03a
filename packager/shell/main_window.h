// The main window's side of the Zip command: the command itself is CZipCommand, which
// the Linux command line runs too. CMainWindow is its front end in a window: every window
// operation it needs is a virtual function that the platform's window implements (the
// Win32 main window; a fake in the tests), so the logic is tested without a window system.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "packager/shell/progress_dialog.h"
#include "packager/shell/progress_mailbox.h"
#include "packager/shell/zip_command.h"
#include "platform/ui.h"

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

class CMainWindow : public CZipFrontEnd {
  public:
    explicit CMainWindow(PackagerState& app);
    ~CMainWindow() override;
    CMainWindow(const CMainWindow&) = delete;
    CMainWindow& operator=(const CMainWindow&) = delete;

    // WM_COMMAND: accelerators, menus and button clicks run their command; any other
    // notification of a control (the boxes' focus, change and selection notices, which
    // carry the box's id) runs nothing. True when a command ran; false leaves the
    // message to the default processing.
    bool OnCommandMessage(int id, unsigned notifyCode, bool fromControl);
    // The Zip command (window thread), with the boxes' texts.
    void OnZip();
    // View URL in browser: the address normalised as the Zip command does it; an
    // empty address gets the Zip command's message.
    void OnViewUrl();
    static void NormalizeAddress(std::string& address) { CZipCommand::NormalizeAddress(address); }
    // The worker's reports: 0 when the window is gone or the user cancelled; otherwise the
    // report goes to the mailbox and the answer is 1.
    int Report(const std::string& text, int32_t position) override;
    bool IsCancelled() const override { return m_progress.IsCancelled(); }
    // Stores a report in the mailbox; always 1.
    int SetProgressData(const std::string& text, int32_t position, int32_t range) {
        return m_progress.Post(text, position, range);
    }
    void UpdateProgressDialog(const std::string& text, int32_t position, int32_t range) {
        m_progress.Show(text, position, range);
    }
    // Timer 1: carries the latest report into the dialog.
    void OnTimer(int timerId);

    // Whether the worker is running (between BeginBusy and the end of EndBusy).
    bool IsBusy() const { return m_bBusy; }
    // Whether the platform's window still exists.
    virtual bool WindowExists() = 0;
    // The progress dialog: made by the first Zip command, kept until the window goes.
    CProgressDialog* ProgressDialog() const { return m_progress.Dialog(); }
    // The done dialog's note: where the executable went and what could not be fetched.
    const std::string& DoneNote() const { return m_zip.DoneNote(); }

  protected:
    // ---- The Zip command's front end ----
    void RefuseOutputPath(const std::string& cause) override;
    void RefuseAddress() override;
    bool AskOverwrite(const std::string& path) override;
    void BeginBusy() override;
    // At the end of the worker; the window operations run on the window thread, in order.
    void EndBusy(bool success) override;

    // ---- Window operations, implemented by the platform's window ----
    virtual std::string GetAddressText() = 0;
    virtual std::string GetOutputPathText() = 0;
    // A message box with the application's name as caption; style and answer in
    // platform::kMb* / platform::kId* numbering.
    virtual int ShowMessageBox(const std::string& text, unsigned style) = 0;
    virtual void SetFocusTo(int controlId) = 0;
    virtual void EnableMainWindow(bool enable) = 0;
    virtual WindowHandle GetHandle() = 0;
    virtual void StartTimer() = 0;  // timer 1, 500 ms
    virtual void StopTimer() = 0;
    // The done dialog, modal, without an owner.
    virtual void ShowDoneDialog() = 0;
    // The address box's list: count, append, select.
    virtual int ComboGetCount() = 0;
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
    // Runs fn on the window thread and returns when it has run.
    virtual void RunOnWindowThread(std::function<void()> fn) = 0;

    CProgressMailbox m_progress;
    // The job record and grabber the command runs with (the rendered capture hands the
    // grab its page source through them).
    PackagerState& m_app;

  private:
    void FinishOnWindowThread(bool success);
    void OfferAddress(const std::string& address);

    CZipCommand m_zip;
    std::atomic<bool> m_bBusy{false};
};
