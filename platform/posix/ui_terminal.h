// The user interface on Linux: the terminal.
//
// Messages go to the output (stderr for the process-wide instance); questions are
// answered by a line from the input (stdin): "y"/"yes", "n"/"no", "c"/"cancel",
// "o"/"ok", letters in any case. An unknown answer asks again. The end of the input or a
// closed input answers with the safe default: No for Yes/No, Cancel when there is a Cancel
// button, so nothing ever waits on a closed stdin. Without input nothing is asked at all:
// every question takes its default at once, and the caller says what came of it. The
// process-wide instance reads stdin only when it is a terminal: nobody answers a file.
// Passwords are read without echo when the input is a terminal. On a terminal, control
// characters in the texts are shown escaped (\x1b), never sent raw.
// Shell open runs "xdg-open" found through PATH; programs run with fork and exec.
#pragma once

#include "platform/terminal_text.h"
#include "platform/ui.h"

namespace platform {

// The width of the terminal at `fd` in columns; 80 when it is no terminal or does not say.
int TerminalColumns(int fd);

class CTerminalUserInterface : public IUserInterface {
  public:
    // `inFd` < 0 means there is no input: nothing is asked, every question takes its default.
    CTerminalUserInterface(int inFd, int outFd) : m_inFd(inFd), m_outFd(outFd) {}

    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void* owner) override;
    // The one line, after the caption ("quillbox: cannot fetch ..."); the box is for windows.
    void ShowFailure(const std::string& text, const std::string& line, const std::string& caption,
                     unsigned flags, void* owner) override;
    bool AskAuthorization(const AuthorizationPrompt& prompt, std::string& user,
                          std::string& password, void* owner) override;
    bool AskPassword(const PasswordPrompt& prompt, std::string& password, void* owner) override;
    // xdg-open's own output is kept (LastShellOutput), never shown.
    intptr_t ShellOpen(const std::string& target, void* owner) override;
    bool RunAndWait(const std::string& path) override;

    // The last line that xdg-open wrote during the last ShellOpen, or "".
    std::string LastShellOutput() const { return m_strShellOutput; }

  private:
    void Print(const std::string& text);
    // One line of input without its line end; false at the end of the input.
    bool ReadLine(std::string& line, bool hidden);

    int m_inFd;
    int m_outFd;
    std::string m_strShellOutput;
};

}  // namespace platform
