// The extractor's three windows on Windows: the splash picture, the password dialog and the
// modeless progress dialog. Window handles are kept as void* so that this header stays free
// of the platform's headers.
#pragma once

#include <string>

namespace spillet {

// Shows bitmap 1002 centred in the work area; nothing when the bitmap is missing.
void ShowSplash();
// Returns once the splash has been up for a second (or Escape was released), then removes it.
void EndSplash();
// Runs dialog 4039; false on Cancel or when the dialog cannot be shown. An empty entry is
// answered with string 1 and the dialog stays.
bool RunPasswordDialog(std::string& password);

class ExtractProgressDialog {
  public:
    ExtractProgressDialog() = default;
    virtual ~ExtractProgressDialog();
    ExtractProgressDialog(const ExtractProgressDialog&) = delete;
    ExtractProgressDialog& operator=(const ExtractProgressDialog&) = delete;

    // Creates dialog 102 modelessly; true if the window exists.
    bool Create(const std::string& title, bool cancellable, void* owner);
    // Destroys the window and re-enables the owner; true if a window was destroyed.
    virtual bool Close();
    void SetMessage(const std::string& text);
    void SetPosition(int percent);
    // Processes this thread's waiting messages; the dialog manager sees those of the open
    // progress dialog, so Escape cancels it as the Cancel button does.
    static void Pump();
    bool IsOpen() const { return m_hWnd != nullptr; }
    void* Window() const { return m_hWnd; }

  protected:
    virtual bool OnInitDialog();
    virtual void OnCancel();

  private:
    friend struct ProgressDialogAccess;  // the dialog procedure

    void* m_hOwner = nullptr;
    std::string m_strTitle;
    bool m_bCancellable = true;
    void* m_hWnd = nullptr;
};

}  // namespace spillet
