// The packager's main window on Windows: the picture-backed window with the address
// box, the output-path box, five bitmap buttons and the banner strip, and the window
// side of the Zip command.
#pragma once

#include <memory>
#include <string>

#include "packager/banner/banner_window_win32.h"
#include "packager/shell/main_window.h"
#include "packager/widgets/control_list.h"
#include "packager/widgets/dib_win32.h"

class CRenderedPageSource;

class CMainFrame : public CMainWindow, public fw::CWnd {
  public:
    explicit CMainFrame(PackagerState& app);
    ~CMainFrame() override;

    // The window class of the main window (registered once).
    static const char* RegisterMainClass();
    // Creates the window sized to the background picture, centred and shown.
    bool CreateMain();

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool PreTranslateMessage(MSG* msg) override;
    bool WindowExists() override;

    // The output path the window starts with: the program's drive, "\MyZips\QLBX.EXE".
    static std::string DefaultOutputPath();

  protected:
    std::string GetAddressText() override;
    std::string GetOutputPathText() override;
    int ShowMessageBox(const std::string& text, unsigned style) override;
    void SetFocusTo(int controlId) override;
    void EnableMainWindow(bool enable) override;
    WindowHandle GetHandle() override { return m_hWnd; }
    void StartTimer() override;
    void StopTimer() override;
    void ShowDoneDialog() override;
    int ComboGetCount() override;
    int ComboAddString(const std::string& text) override;
    void ComboSetCurSel(int index) override;
    std::string ComboGetItemText(int index) override;
    void OpenInBrowser(const std::string& address) override;
    void ShowBrowseDialog() override;
    void ShowAboutBox() override;
    void CloseWindow() override;
    void FocusNextControl() override;
    void FocusPreviousControl() override;
    void BringToForeground() override;
    bool StartWorker(std::function<void()> fn) override;
    void RunOnWindowThread(std::function<void()> fn) override;
    void OutputWritten(const std::string& mainPagePath) override;

  private:
    LRESULT OnCreate(LPARAM lParam);
    void OnDestroy();
    void OnBrowse();
    // Gives a control the keyboard; `selectAll` selects a box's text, as the dialog
    // manager does for a box reached with Tab.
    void FocusControl(HWND control, bool selectAll = false);
    // The focus index follows the control that has the keyboard, whatever put it
    // there (a click, an accelerator, a dialog that closed).
    void SyncFocusIndex();
    // The bitmap button (not Zip) that has the keyboard, or null: Enter presses it.
    HWND FocusedPushButton() const;
    LRESULT OnPalette(UINT msg, WPARAM wParam, LPARAM lParam);
    bool InLogo(POINT pt) const;
    // The system menu's "Capture as the browser shows it": its check mark follows the
    // setting Render, which choosing it turns over.
    void AddRenderMenuItem();
    void OnRenderMenuItem();
    // Before each grab: the rendered capture the settings ask for, handed to the grabber.
    // False, after the message that says what browser was looked for, when none is found.
    bool PrepareRender();

    HCURSOR m_hArrow = nullptr;
    HCURSOR m_hHand = nullptr;
    CDib m_background;
    HFONT m_hFont = nullptr;
    HWND m_hAddress = nullptr;
    std::unique_ptr<CDibButton> m_pView;
    HWND m_hOutPath = nullptr;
    std::unique_ptr<CDibButton> m_pBrowse;
    BannerWindow m_banner;
    std::unique_ptr<CDibButton> m_pAbout;
    std::unique_ptr<CDibButton> m_pClose;
    std::unique_ptr<CDibButton> m_pZip;
    CControlList<HWND> m_controls;
    HACCEL m_hAccel = nullptr;
    // The running grab's rendered capture (null for the usual one), whether its copy is
    // checked, and the done dialog's line about that check.
    std::unique_ptr<CRenderedPageSource> m_pRendered;
    bool m_bVerify = false;
    std::string m_strCheckNote;
};
