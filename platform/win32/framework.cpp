#include "platform/win32/framework.h"

#include "platform/ui_command.h"

namespace fw {

CWnd::~CWnd() {
    if (m_hWnd && IsWindow(m_hWnd)) {
        // The object goes first: the window must not call into it any more.
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

bool CWnd::RegisterWindowClass(const char* name, UINT style, HICON icon, HCURSOR cursor,
                               HBRUSH brush) {
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA existing;
    if (GetClassInfoA(inst, name, &existing))
        return true;
    WNDCLASSA wc = {};
    wc.style = style;
    wc.lpfnWndProc = StaticWndProc;
    wc.hInstance = inst;
    wc.hIcon = icon;
    wc.hCursor = cursor;
    wc.hbrBackground = brush;
    wc.lpszClassName = name;
    return RegisterClassA(&wc) != 0;
}

bool CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    int x, int y, int width, int height, HWND parent, UINT_PTR idOrMenu) {
    HWND h = CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(idOrMenu), GetModuleHandleA(nullptr), this);
    return h != nullptr && m_hWnd == h;
}

void CWnd::DestroyWindow() {
    if (m_hWnd && IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return Default(msg, wParam, lParam);
}

bool CWnd::PreTranslateMessage(MSG*) {
    return false;
}

LRESULT CWnd::Default(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    WNDPROC proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hWnd, GWLP_WNDPROC));
    if (proc != StaticWndProc)
        return nullptr;
    return reinterpret_cast<CWnd*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
}

LRESULT CALLBACK CWnd::StaticWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWnd* self = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (!self && msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        self = static_cast<CWnd*>(cs->lpCreateParams);
        if (self) {
            self->m_hWnd = hWnd;
            SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    }
    if (!self)
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    LRESULT result = self->WindowProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        self->PostNcDestroy();
    }
    return result;
}

// ---- Dialogs -------------------------------------------------------------------

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    // The control that has the keyboard gets it back when the dialog closes, as a
    // click on the dialog may have left the owner's focus anywhere.
    HWND focus = GetFocus();
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nTemplate),
                                     m_hParent, StaticDlgProc, reinterpret_cast<LPARAM>(this));
    if (focus && IsWindow(focus) && IsWindowVisible(focus) && IsWindowEnabled(focus))
        SetFocus(focus);
    return result;
}

void CenterOver(HWND window, HWND owner) {
    RECT rw, ro;
    if (!owner || !IsWindowVisible(owner) || IsIconic(owner) || !GetWindowRect(window, &rw) ||
        !GetWindowRect(owner, &ro))
        return;
    int w = rw.right - rw.left, h = rw.bottom - rw.top;
    int x = ro.left + ((ro.right - ro.left) - w) / 2;
    int y = ro.top + ((ro.bottom - ro.top) - h) / 2;
    // Kept on the screen when the owner is near its edge.
    RECT area;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        x = x + w > area.right ? area.right - w : x;
        y = y + h > area.bottom ? area.bottom - h : y;
        x = x < area.left ? area.left : x;
        y = y < area.top ? area.top : y;
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_hWnd)
        ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnCommand(WORD id, WORD, HWND) {
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(id);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CDialog::DialogProc(UINT, WPARAM, LPARAM) {
    return FALSE;
}

INT_PTR CALLBACK CDialog::StaticDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialog* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hDlg, DWLP_USER));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hDlg, DWLP_USER, lParam);
        self->m_hWnd = hDlg;
        // In front of the window it belongs to, wherever that was moved.
        CenterOver(hDlg, self->m_hParent);
        return self->OnInitDialog();
    }
    if (!self)
        return FALSE;
    // Only commands reach OnCommand; a control's other notifications (an edit's focus
    // and change notices) carry its id and are left to the dialog manager.
    if (msg == WM_COMMAND && platform::IsCommandMessage(HIWORD(wParam), lParam != 0))
        return self->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    INT_PTR r = self->DialogProc(msg, wParam, lParam);
    if (msg == WM_NCDESTROY)
        self->m_hWnd = nullptr;
    return r;
}

// ---- Application ---------------------------------------------------------------

CWinApp* CWinApp::s_pApp = nullptr;

CWinApp::CWinApp() {
    s_pApp = this;
}

CWinApp::~CWinApp() {
    if (s_pApp == this)
        s_pApp = nullptr;
}

bool CWinApp::PreTranslateMessage(MSG* msg) {
    if (m_pMainWnd && m_pMainWnd->PreTranslateMessage(msg))
        return true;
    // Escape, Enter and Tab in modeless dialogs (the progress dialog).
    HWND root = msg->hwnd ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
    if (root && (!m_pMainWnd || root != m_pMainWnd->m_hWnd)) {
        char cls[16] = {};
        GetClassNameA(root, cls, sizeof(cls));
        if (lstrcmpA(cls, "#32770") == 0 && IsDialogMessageA(root, msg))
            return true;
    }
    return false;
}

int CWinApp::Run() {
    m_hInstance = GetModuleHandleA(nullptr);
    if (!InitInstance())
        return ExitInstance();
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (PreTranslateMessage(&msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return ExitInstance();
}

bool PreTranslateForApp(MSG* msg) {
    CWinApp* app = CWinApp::Get();
    return app && app->PreTranslateMessage(msg);
}

}  // namespace fw
