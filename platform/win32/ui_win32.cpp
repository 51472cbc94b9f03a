// The user interface on Windows: message boxes, two prompt dialogs built from
// in-memory templates, the shell, and processes.
#include "platform/ui.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/ui_command.h"
#include "platform/win32/framework.h"

namespace platform {

namespace {

constexpr WORD kIdIcon = 100;
constexpr WORD kAuthorizationTemplate = 165;
constexpr WORD kIdUser = 1038;
constexpr WORD kIdPassword = 1039;
constexpr WORD kClassButton = 0x0080;
constexpr WORD kClassEdit = 0x0081;
constexpr WORD kClassStatic = 0x0082;

// Builds a DLGTEMPLATE with its items in memory (dialog units, WORD-aligned data,
// each item starting on a DWORD boundary).
class CDialogTemplate {
  public:
    CDialogTemplate(const std::string& title, short cx, short cy) {
        DWORD style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        AddDword(style);
        AddDword(0);
        m_countAt = m_words.size();
        AddWord(0);  // item count, filled in as items come
        AddShort(0);
        AddShort(0);
        AddShort(cx);
        AddShort(cy);
        AddWord(0);  // no menu
        AddWord(0);  // the standard dialog class
        AddText(title);
        AddWord(8);
        AddText("MS Sans Serif");
    }

    void AddItem(WORD classAtom, WORD id, DWORD style, short x, short y, short cx, short cy,
                 const std::string& text) {
        if (m_words.size() % 2)
            AddWord(0);
        AddDword(style | WS_CHILD | WS_VISIBLE);
        AddDword(0);
        AddShort(x);
        AddShort(y);
        AddShort(cx);
        AddShort(cy);
        AddWord(id);
        AddWord(0xFFFF);
        AddWord(classAtom);
        AddText(text);
        AddWord(0);  // no creation data
        ++m_words[m_countAt];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

  private:
    void AddWord(WORD w) { m_words.push_back(w); }
    void AddShort(short s) { m_words.push_back(static_cast<WORD>(s)); }
    void AddDword(DWORD d) {
        AddWord(LOWORD(d));
        AddWord(HIWORD(d));
    }
    void AddText(const std::string& text) {
        int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        std::vector<WCHAR> wide(n > 0 ? n : 1, 0);
        if (n > 0)
            MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
        for (WCHAR c : wide)
            AddWord(static_cast<WORD>(c));
    }

    std::vector<WORD> m_words;  // WORD storage keeps the template WORD-aligned
    size_t m_countAt = 0;
};

struct PromptState {
    const AuthorizationPrompt* auth = nullptr;
    const PasswordPrompt* password = nullptr;
    std::string user;
    std::string secret;
};

std::string ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    if (!item)
        return std::string();
    int length = GetWindowTextLengthA(item);
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(item, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

// The caption names the server that asks, so a password goes where the user means.
std::string AuthorizationCaption(const AuthorizationPrompt& prompt) {
    return prompt.server.empty() ? prompt.title : prompt.title + " (" + prompt.server + ")";
}

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            auto* state = reinterpret_cast<PromptState*>(lParam);
            int iconId = state->password ? state->password->iconId : 128;
            HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId));
            if (!icon)
                icon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
            SendDlgItemMessageA(dialog, kIdIcon, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
            if (state->password)
                SendDlgItemMessageA(dialog, kIdPassword, EM_LIMITTEXT, state->password->maxLength,
                                    0);
            else
                SetWindowTextA(dialog, AuthorizationCaption(*state->auth).c_str());
            SetFocus(GetDlgItem(dialog, state->auth ? kIdUser : kIdPassword));
            return FALSE;  // the focus is set
        }
        case WM_COMMAND: {
            auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (!state || !IsCommandMessage(HIWORD(wParam), lParam != 0))
                return FALSE;
            if (LOWORD(wParam) == IDOK) {
                std::string secret = ItemText(dialog, kIdPassword);
                if (state->password) {
                    if (secret.empty() && !state->password->emptyMessage.empty()) {
                        MessageBoxA(nullptr, state->password->emptyMessage.c_str(), "Error",
                                    MB_OK | MB_TASKMODAL);
                        return TRUE;
                    }
                    if (secret.size() > state->password->maxLength)
                        secret.resize(state->password->maxLength);
                } else {
                    state->user = ItemText(dialog, kIdUser);
                }
                state->secret = secret;
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

constexpr DWORD kLabel = SS_LEFT;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;

class CWindowsUserInterface : public IUserInterface {
  public:
    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void* owner) override {
        // A box without an owner may come from a worker thread while another window
        // of the program is active: it must come in front of it, not open behind.
        // A worker thread has no keyboard of its own: its box shares the one of the thread
        // whose window of this program is in front, so that the box can take it from there.
        DWORD front = 0, process = 0, self = GetCurrentThreadId();
        if (!owner) {
            flags |= MB_SETFOREGROUND;
            front = GetWindowThreadProcessId(GetForegroundWindow(), &process);
            if (process != GetCurrentProcessId() || front == self ||
                !AttachThreadInput(self, front, TRUE))
                front = 0;
        }
        // A box as wide as a long address would open partly off the screen.
        int answer = MessageBoxA(static_cast<HWND>(owner), ShortenLongRuns(text).c_str(),
                                 caption.c_str(), flags);
        if (front)
            AttachThreadInput(self, front, FALSE);
        return answer;
    }

    bool AskAuthorization(const AuthorizationPrompt& prompt, std::string& user,
                          std::string& password, void* owner) override {
        PromptState state;
        state.auth = &prompt;
        INT_PTR rc = -1;
        // The program's own template when it has one (the packager's dialog 165);
        // a program without it gets the same dialog built in memory.
        HMODULE module = GetModuleHandleA(nullptr);
        if (FindResourceA(module, MAKEINTRESOURCEA(kAuthorizationTemplate),
                          MAKEINTRESOURCEA(5) /* RT_DIALOG */))
            rc = DialogBoxParamA(module, MAKEINTRESOURCEA(kAuthorizationTemplate),
                                 static_cast<HWND>(owner), PromptProc,
                                 reinterpret_cast<LPARAM>(&state));
        if (rc == -1)
            rc = AskAuthorizationInMemory(prompt, state, owner);
        if (rc != IDOK)
            return false;
        user = state.user;
        password = state.secret;
        return true;
    }

    static INT_PTR AskAuthorizationInMemory(const AuthorizationPrompt& prompt, PromptState& state,
                                            void* owner) {
        CDialogTemplate t(AuthorizationCaption(prompt), 164, 90);
        t.AddItem(kClassStatic, kIdIcon, SS_ICON, 7, 7, 20, 20, "");
        t.AddItem(kClassStatic, 0xFFFF, kLabel, 34, 7, 123, 18, prompt.text);
        t.AddItem(kClassStatic, 0xFFFF, kLabel, 34, 31, 44, 8, prompt.userLabel);
        t.AddItem(kClassEdit, kIdUser, kEdit, 80, 29, 77, 12, "");
        t.AddItem(kClassStatic, 0xFFFF, kLabel, 34, 49, 44, 8, prompt.passwordLabel);
        t.AddItem(kClassEdit, kIdPassword, kEdit | ES_PASSWORD, 80, 47, 77, 12, "");
        t.AddItem(kClassButton, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 46, 69, 50, 14, "OK");
        t.AddItem(kClassButton, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 107, 69, 50, 14, "Cancel");
        return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.Get(), static_cast<HWND>(owner),
                                       PromptProc, reinterpret_cast<LPARAM>(&state));
    }

    bool AskPassword(const PasswordPrompt& prompt, std::string& password, void* owner) override {
        CDialogTemplate t(prompt.title, 164, 73);
        t.AddItem(kClassStatic, kIdIcon, SS_ICON, 7, 7, 20, 20, "");
        t.AddItem(kClassStatic, 0xFFFF, kLabel, 34, 7, 123, 16, prompt.text);
        t.AddItem(kClassStatic, 0xFFFF, kLabel, 34, 29, 40, 8, prompt.label);
        t.AddItem(kClassEdit, kIdPassword, kEdit | ES_PASSWORD, 76, 27, 81, 12, "");
        t.AddItem(kClassButton, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 46, 52, 50, 14, "OK");
        t.AddItem(kClassButton, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 107, 52, 50, 14, "Cancel");
        PromptState state;
        state.password = &prompt;
        INT_PTR rc =
            DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.Get(), static_cast<HWND>(owner),
                                    PromptProc, reinterpret_cast<LPARAM>(&state));
        if (rc != IDOK)
            return false;
        password = state.secret;
        return true;
    }

    intptr_t ShellOpen(const std::string& target, void* owner) override {
        HINSTANCE rc = ShellExecuteA(static_cast<HWND>(owner), nullptr, target.c_str(), nullptr,
                                     nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<intptr_t>(rc);
    }

    bool RunAndWait(const std::string& path) override {
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        ZeroMemory(&process, sizeof process);
        if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return false;
        WaitForInputIdle(process.hProcess, INFINITE);
        // Keep this thread's windows alive while the program runs.
        bool quit = false;
        WPARAM quitCode = 0;
        for (;;) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;  // handed back to the caller's loop below
                    quitCode = msg.wParam;
                    continue;
                }
                // As in the application's own loop: its pre-translation first.
                if (fw::PreTranslateForApp(&msg))
                    continue;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            DWORD rc =
                MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT);
            if (rc != WAIT_OBJECT_0 + 1)
                break;  // ended, abandoned or failed
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (quit)
            PostQuitMessage(static_cast<int>(quitCode));
        return true;
    }
};

}  // namespace

IUserInterface& PlatformUserInterface() {
    static CWindowsUserInterface windows;
    return windows;
}

}  // namespace platform
