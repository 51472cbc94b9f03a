// The small window framework of the Windows programs: an application object with
// start-up and exit steps, a window base whose static procedure finds its object
// through the window's user data, and dialogs from resource templates.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

// One C++ object per window. The static procedure stores the object in
// GWLP_USERDATA when the window is created and calls WindowProc for every message.
class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Registers a window class served by this framework; true when it is there
    // afterwards (also when an earlier call registered it).
    static bool RegisterWindowClass(const char* name, UINT style, HICON icon, HCURSOR cursor,
                                    HBRUSH brush);
    // Creates the window of a framework class; false on failure.
    bool CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x,
                  int y, int width, int height, HWND parent, UINT_PTR idOrMenu);
    HWND GetSafeHwnd() const { return m_hWnd; }
    bool Exists() const { return m_hWnd && IsWindow(m_hWnd); }
    // Destroys the window if it exists.
    void DestroyWindow();

    // The message handler; the default runs the platform's default processing.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Keys and other messages before they are dispatched; true when consumed.
    virtual bool PreTranslateMessage(MSG* msg);
    // Default processing of the window class.
    LRESULT Default(UINT msg, WPARAM wParam, LPARAM lParam);
    // The window handle, or null; the object outlives its window.
    HWND m_hWnd = nullptr;

    static LRESULT CALLBACK StaticWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The object of a framework window, or null.
    static CWnd* FromHandle(HWND hWnd);

  protected:
    // After the last message (WM_NCDESTROY); the handle is already forgotten.
    virtual void PostNcDestroy() {}
};

// Moves a window to the middle of its owner (kept on the screen); nothing without a
// visible owner.
void CenterOver(HWND window, HWND owner);

// A dialog from a resource template, modal or modeless; centred over its parent.
class CDialog {
  public:
    CDialog(int templateId, HWND parent) : m_nTemplate(templateId), m_hParent(parent) {}
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; the button id that ended it, or -1 on failure.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    HWND m_hWnd = nullptr;

  protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // Commands; the default ends the dialog on OK and Cancel.
    virtual BOOL OnCommand(WORD id, WORD code, HWND control);
    // Any other message; FALSE leaves it to the dialog manager.
    virtual INT_PTR DialogProc(UINT msg, WPARAM wParam, LPARAM lParam);

    int m_nTemplate;
    HWND m_hParent;

  private:
    static INT_PTR CALLBACK StaticDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
};

// The application object: start-up, the message loop, exit.
class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    // Start-up; false ends the program before the message loop.
    virtual bool InitInstance() = 0;
    // Exit; the result is the program's exit code.
    virtual int ExitInstance() { return m_nExitCode; }
    // Pre-translation of one message: the main window first, then dialog keys of
    // modeless dialogs. True when consumed.
    virtual bool PreTranslateMessage(MSG* msg);
    // InitInstance, the message loop until WM_QUIT, ExitInstance.
    int Run();

    static CWinApp* Get() { return s_pApp; }

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    int m_nExitCode = 0;

  private:
    static CWinApp* s_pApp;
};

// Offers a message to the application's pre-translation (when there is an
// application); true when it was consumed.
bool PreTranslateForApp(MSG* msg);

}  // namespace fw
