// The progress dialog as the modeless dialog of template 4014.
#include <windows.h>
#include <commctrl.h>

#include "packager/res/resource.h"
#include "packager/shell/progress_dialog.h"
#include "platform/ui_command.h"
#include "platform/win32/framework.h"

namespace {

HWND Hwnd(WindowHandle h) {
    return static_cast<HWND>(h);
}

INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

struct DialogState {
    CProgressDialog* pDialog;
    const std::string* pMessage;
    int showCancel;
    HICON hIcon;
};

}  // namespace

// Lets the dialog procedure reach the object's private state.
struct ProgressDialogAccess {
    static void Destroyed(CProgressDialog& d) {
        d.m_hWnd = nullptr;
        d.EnableOwner();
        if (d.m_pOwner)
            SetActiveWindow(Hwnd(d.m_pOwner));
    }
    static HICON Icon(CProgressDialog& d) { return static_cast<HICON>(d.m_hIcon); }
};

namespace {

INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    CProgressDialog* self =
        reinterpret_cast<CProgressDialog*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA));
    switch (msg) {
        case WM_INITDIALOG: {
            const DialogState* st = reinterpret_cast<const DialogState*>(lParam);
            SetWindowLongPtrA(hDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(st->pDialog));
            SendMessageA(hDlg, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(st->hIcon));
            SendMessageA(hDlg, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(st->hIcon));
            SetDlgItemTextA(hDlg, IDC_PROGRESS_MESSAGE, st->pMessage->c_str());
            if (!st->showCancel) {
                HWND hCancel = GetDlgItem(hDlg, IDCANCEL);
                EnableWindow(hCancel, FALSE);
                ShowWindow(hCancel, SW_HIDE);
            }
            SendDlgItemMessageA(hDlg, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL && self &&
                platform::IsCommandMessage(HIWORD(wParam), lParam != 0)) {
                // Cancel (button or Escape) only raises the flag; the dialog stays.
                // Without a usable Cancel button, Escape cancels nothing either.
                if (IsWindowEnabled(GetDlgItem(hDlg, IDCANCEL)))
                    self->OnCancel();
                return TRUE;
            }
            break;
        case WM_PAINT:
            if (IsIconic(hDlg) && self) {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hDlg, &ps);
                SendMessageA(hDlg, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
                RECT rc;
                GetClientRect(hDlg, &rc);
                int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
                DrawIcon(dc, (rc.right - rc.left - cx + 1) / 2, (rc.bottom - rc.top - cy + 1) / 2,
                         ProgressDialogAccess::Icon(*self));
                EndPaint(hDlg, &ps);
                return TRUE;
            }
            break;
        case WM_QUERYDRAGICON:
            if (self)
                return reinterpret_cast<INT_PTR>(ProgressDialogAccess::Icon(*self));
            break;
        case WM_DESTROY:
            if (self) {
                SetWindowLongPtrA(hDlg, GWLP_USERDATA, 0);
                ProgressDialogAccess::Destroyed(*self);
            }
            break;
    }
    return FALSE;
}

}  // namespace

CProgressDialog::CProgressDialog(WindowHandle owner) : m_pOwner(owner) {
    m_hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
}

CProgressDialog::~CProgressDialog() {
    DestroyWindow();
    EnableOwner();
}

int CProgressDialog::Create(const std::string& text, bool showCancel, WindowHandle owner) {
    m_pOwner = owner;
    m_strMessage = text;
    m_bShowCancel = showCancel ? 1 : 0;
    m_bCancelled = 0;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    // Made on a worker thread, the dialog would have no keyboard of its own and Escape would
    // reach nobody: it shares the one of the thread whose window of this program is in front.
    DWORD process = 0, self = GetCurrentThreadId();
    DWORD front = GetWindowThreadProcessId(GetForegroundWindow(), &process);
    if (!m_nKeyboardThread && process == GetCurrentProcessId() && front != self &&
        AttachThreadInput(self, front, TRUE))
        m_nKeyboardThread = front;
    DialogState st = {this, &m_strMessage, m_bShowCancel, static_cast<HICON>(m_hIcon)};
    HWND h = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS),
                                Hwnd(owner), ProgressDlgProc, reinterpret_cast<LPARAM>(&st));
    m_hWnd = h;
    if (h)
        PumpMessages();
    if (!IsOpen()) {
        EnableOwner();
        return 0;
    }
    return 1;
}

bool CProgressDialog::IsOpen() const {
    return m_hWnd != nullptr && IsWindow(Hwnd(m_hWnd));
}

void CProgressDialog::PumpMessages() {
    if (!IsOpen())
        return;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The application's pre-translation first, as in its own message loop: the
        // main window's accelerators, then the dialog keys of this dialog.
        if (fw::PreTranslateForApp(&msg))
            continue;
        // A test program or a thread without an application: dialog keys (Escape,
        // Tab) still go to whichever dialog the message is for.
        if (!fw::CWinApp::Get()) {
            HWND target = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
            if (target && IsDialogMessageA(target, &msg))
                continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void CProgressDialog::SetMessage(const std::string& text) {
    if (!IsOpen())
        return;
    SetDlgItemTextA(Hwnd(m_hWnd), IDC_PROGRESS_MESSAGE, text.c_str());
    PumpMessages();
}

void CProgressDialog::SetPosition(int position) {
    if (!IsOpen())
        return;
    SendDlgItemMessageA(Hwnd(m_hWnd), IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position),
                        0);
    PumpMessages();
}

void CProgressDialog::SetRange(int range) {
    if (!IsOpen())
        return;
    SendDlgItemMessageA(Hwnd(m_hWnd), IDC_PROGRESS_BAR, PBM_SETRANGE, 0,
                        MAKELPARAM(0, static_cast<WORD>(range)));
}

void CProgressDialog::Show() {
    if (!IsOpen())
        return;
    HWND h = Hwnd(m_hWnd);
    fw::CenterOver(h, m_pOwner ? Hwnd(m_pOwner) : GetDesktopWindow());
    SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    BringWindowToTop(h);
}

void CProgressDialog::Hide() {
    if (IsOpen())
        ShowWindow(Hwnd(m_hWnd), SW_HIDE);
}

void CProgressDialog::DestroyWindow() {
    if (IsOpen())
        ::DestroyWindow(Hwnd(m_hWnd));
    m_hWnd = nullptr;
    if (m_nKeyboardThread)
        AttachThreadInput(GetCurrentThreadId(), m_nKeyboardThread, FALSE);
    m_nKeyboardThread = 0;
}

void CProgressDialog::ClearCancelled() {
    m_bCancelled = 0;
}

void CProgressDialog::EnableOwner() {
    if (m_pOwner && IsWindow(Hwnd(m_pOwner)))
        EnableWindow(Hwnd(m_pOwner), TRUE);
}

int CProgressDialog::GetPosition() const {
    if (!IsOpen())
        return 0;
    return static_cast<int>(SendDlgItemMessageA(Hwnd(m_hWnd), IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
}

int CProgressDialog::GetRange() const {
    if (!IsOpen())
        return 0;
    return static_cast<int>(
        SendDlgItemMessageA(Hwnd(m_hWnd), IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0));
}

std::string CProgressDialog::GetMessageText() const {
    if (!IsOpen())
        return std::string();
    char text[1024];
    GetDlgItemTextA(Hwnd(m_hWnd), IDC_PROGRESS_MESSAGE, text, sizeof(text));
    return text;
}

bool CProgressDialog::IsVisible() const {
    return IsOpen() && IsWindowVisible(Hwnd(m_hWnd));
}
