// The packager's one progress window: a message, a bar and a Cancel button.
//
// It never runs a loop of its own: every operation that changes it lets the
// calling thread's pending window messages be processed, so a long operation
// that updates it now and then keeps the interface responsive. Cancel never
// closes it; it only raises m_bCancelled, which the owner polls (and may clear).
//
// Windows: the modeless dialog of template 4014. Linux: a progress line on the
// terminal (stderr, only when it is a terminal); Ctrl-C plays the Cancel button.
#pragma once

#include <atomic>
#include <string>

// A window handle (HWND on Windows); null for "no window".
using WindowHandle = void*;

#ifndef _WIN32
// Whether Ctrl-C (the terminal's Cancel) was pressed at any time during this run.
bool ProgressDialogInterrupted();
#endif

class CProgressDialog {
  public:
    // Binds the dialog to its owner; loads the application icon. No window yet.
    explicit CProgressDialog(WindowHandle owner = nullptr);
    // Destroys the window if it exists, then enables the owner.
    ~CProgressDialog();
    CProgressDialog(const CProgressDialog&) = delete;
    CProgressDialog& operator=(const CProgressDialog&) = delete;

    // Creates the window with text as its message and the Cancel button shown or
    // not; clears m_bCancelled. Returns non-zero when the window exists after one
    // round of message processing; otherwise enables the owner again and returns 0.
    int Create(const std::string& text, bool showCancel, WindowHandle owner);
    // Whether the window exists.
    bool IsOpen() const;
    // Processes every message waiting in the calling thread's queue, without waiting.
    void PumpMessages();
    // Sets the message text, then pumps. Nothing happens without a window.
    void SetMessage(const std::string& text);
    // Sets the bar's position, then pumps. Nothing happens without a window.
    void SetPosition(int position);
    // Sets the bar's range 0..range (carried as 16 bits, like PBM_SETRANGE).
    void SetRange(int range);
    // Shows the window, centred over its owner and on top.
    void Show();
    // Hides the window (it is not destroyed).
    void Hide();
    // Destroys the window; the owner gets back its enabled state.
    void DestroyWindow();
    // The window, or null.
    WindowHandle GetSafeHwnd() const { return m_hWnd; }
    // What the window shows (0 / empty without a window).
    int GetPosition() const;
    int GetRange() const;
    std::string GetMessageText() const;
    bool IsVisible() const;

    // The Cancel button's work: raise the flag; the dialog stays.
    void OnCancel() { m_bCancelled = 1; }
    // The owner is done with a cancel: lower the flag (and forget a pending Ctrl-C).
    void ClearCancelled();

    // Read by the owner, possibly from another thread; a late read only delays
    // the stop by one report.
    std::atomic<int> m_bCancelled{0};

  private:
    void EnableOwner();

    WindowHandle m_hWnd = nullptr;
    // The thread whose keyboard a dialog made on a worker thread shares (0: none).
    unsigned long m_nKeyboardThread = 0;
    void* m_hIcon = nullptr;
    WindowHandle m_pOwner = nullptr;
    std::string m_strMessage;
    int m_bShowCancel = 1;
    // Terminal state (Linux).
    int m_nPosition = 0;
    int m_nRange = 100;
    bool m_bOpen = false;
    bool m_bVisible = false;

    friend struct ProgressDialogAccess;
};
