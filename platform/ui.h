// User-interface primitives that the portable logic needs: message boxes, the two
// prompts, opening a file or address with the shell, running a program to its end.
//
// One process-wide instance answers them: the platform's own (Windows: real message
// boxes and dialogs; Linux: the terminal) unless a test has put its own in place with
// SetUserInterface. Numbering follows the Win32 constants (MB_*, ID*, SE_ERR_*), so
// callers written against those need no translation.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Message box flags: buttons in the low nibble, icon in the next one.
constexpr unsigned kMbOk = 0x0000;
constexpr unsigned kMbOkCancel = 0x0001;
constexpr unsigned kMbYesNoCancel = 0x0003;
constexpr unsigned kMbYesNo = 0x0004;
constexpr unsigned kMbButtonMask = 0x000F;
constexpr unsigned kMbIconError = 0x0010;
constexpr unsigned kMbIconQuestion = 0x0020;
constexpr unsigned kMbIconWarning = 0x0030;
constexpr unsigned kMbIconInformation = 0x0040;
constexpr unsigned kMbTaskModal = 0x2000;

// Message box answers.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Shell-open results: above kShellOpenOk means success.
constexpr intptr_t kShellOpenOk = 32;
constexpr intptr_t kShellFileNotFound = 2;
constexpr intptr_t kShellNoAssociation = 31;  // "no viewers registered"

// The texts of the authorization prompt; the defaults are the packager's.
struct AuthorizationPrompt {
    std::string title = "Authorization Required";
    std::string text = "Please enter your username and password for access:";
    std::string userLabel = "&Username:";
    std::string passwordLabel = "&Password:";
    std::string server;  // who asks (host, realm); shown where the medium allows
};

// The texts of the password prompt; the defaults are the extractor's.
struct PasswordPrompt {
    std::string title = "Quillbox Password";
    std::string text = "Enter a valid password to open this file:";
    std::string label = "&Password:";
    // When not empty, OK on an empty field shows this in a task-modal box titled
    // "Error" and the prompt stays; when empty, an empty answer is accepted.
    std::string emptyMessage;
    unsigned maxLength = 259;  // longer input is cut
    int iconId = 128;          // the program's icon resource, shown when present
};

class IUserInterface {
  public:
    virtual ~IUserInterface() = default;

    // Shows `text` with `caption`; flags in kMb* numbering. Returns the button
    // chosen (kId*). `owner` is a native window handle or null.
    virtual int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                            void* owner) = 0;
    // A failure told twice over: `text` is the box a window shows (the cause included),
    // `line` the same failure as one line, what failed and why, for a terminal ("cannot
    // fetch http://h/p: The server answered 404 Not Found."). A window shows the box.
    virtual void ShowFailure(const std::string& text, const std::string& line,
                             const std::string& caption, unsigned flags, void* owner) {
        (void)line;
        ShowMessage(text, caption, flags, owner);
    }
    // Asks for a user name and password. true with both filled on OK; false when
    // the user cancelled or no prompt could be shown.
    virtual bool AskAuthorization(const AuthorizationPrompt& prompt, std::string& user,
                                  std::string& password, void* owner) = 0;
    // Asks for a password (typed hidden). true on OK; false when cancelled.
    virtual bool AskPassword(const PasswordPrompt& prompt, std::string& password, void* owner) = 0;
    // Opens a file or address with the program the desktop associates with it.
    // Above kShellOpenOk is success; kShellNoAssociation when nothing can open it.
    virtual intptr_t ShellOpen(const std::string& target, void* owner) = 0;
    // Starts the program file `path` without arguments and waits until it has
    // ended, keeping this thread's windows responsive. true when it could be
    // started (whatever its exit code), false when it could not.
    virtual bool RunAndWait(const std::string& path) = 0;
};

// The instance in use.
IUserInterface& Ui();
// Replaces the instance (not owned; it must outlive its use); null restores the
// platform's own. Not for use while another thread is inside a call.
void SetUserInterface(IUserInterface* ui);
// The platform's own instance.
IUserInterface& PlatformUserInterface();

// Cuts every run of more than `longest` characters without a blank or line break (an
// address, a path) to its head, "..." and its tail, so that a message box fits on the
// screen; sentences, which wrap, stay whole.
std::string ShortenLongRuns(const std::string& text, size_t longest = 80);

}  // namespace platform
