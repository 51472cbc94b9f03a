// The user interface on Linux: the terminal.
//
// Messages go to the output (stderr for the process-wide instance); questions are
// answered by a line from the input (stdin): "y"/"yes", "n"/"no", "c"/"cancel",
// "o"/"ok", letters in any case. An unknown answer asks again. The end of the input,
// a closed input or no input at all answers with the safe default: No for Yes/No,
// Cancel when there is a Cancel button, so nothing ever waits on a closed stdin.
// Passwords are read without echo when the input is a terminal. On a terminal, control
// characters in the texts are shown escaped (\x1b), never sent raw.
// Shell open runs "xdg-open" found through PATH; programs run with fork and exec.
#pragma once

#include "platform/terminal_text.h"
#include "platform/ui.h"

namespace platform {

class CTerminalUserInterface : public IUserInterface {
  public:
    // `inFd` < 0 means there is no input: every question takes its default.
    CTerminalUserInterface(int inFd, int outFd) : m_inFd(inFd), m_outFd(outFd) {}

    int ShowMessage(const std::string& text, const std::string& caption, unsigned flags,
                    void* owner) override;
    bool AskAuthorization(const AuthorizationPrompt& prompt, std::string& user,
                          std::string& password, void* owner) override;
    bool AskPassword(const PasswordPrompt& prompt, std::string& password, void* owner) override;
    intptr_t ShellOpen(const std::string& target, void* owner) override;
    bool RunAndWait(const std::string& path) override;

  private:
    void Print(const std::string& text);
    // One line of input without its line end; false at the end of the input.
    bool ReadLine(std::string& line, bool hidden);

    int m_inFd;
    int m_outFd;
};

}  // namespace platform
