// What the user sees of a running Zip command: the progress dialog, and the mailbox that
// carries the worker's latest report to it on the thread that owns the dialog (the window's
// 500 ms timer; the terminal's ticks).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "packager/shell/progress_dialog.h"

class CProgressMailbox {
  public:
    // Creates the dialog on first use (empty text, Cancel shown), then shows it.
    void Open(WindowHandle owner);
    // Stores a report; any thread. Always 1.
    int Post(const std::string& text, int32_t position, int32_t range);
    // Carries the latest report into the dialog; nothing without a live dialog.
    void Deliver();
    // Shows a report: the range travels as 16 bits, the position modulo the range (0 for
    // a range of 0). Nothing without a live dialog.
    void Show(const std::string& text, int32_t position, int32_t range);
    // The command is over: the dialog shows a blank and an empty bar the next time it
    // appears, forgets the cancel and is hidden (not destroyed).
    void Close();
    // Whether the dialog exists and its Cancel was pressed.
    bool IsCancelled() const;
    // The dialog (null before the first Open or after Destroy).
    CProgressDialog* Dialog() const { return m_pDialog.get(); }
    void Destroy() { m_pDialog.reset(); }

  private:
    std::unique_ptr<CProgressDialog> m_pDialog;
    // Position and range are single stores outside the lock: a torn pair is harmless.
    std::string m_strText;
    std::atomic<int32_t> m_nPosition{0};
    std::atomic<int32_t> m_nRange{100};
    std::mutex m_lock;  // guards the text, never held across a dialog operation
};
