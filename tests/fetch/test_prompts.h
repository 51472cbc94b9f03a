// Answers the fetcher's questions in tests: the authorization prompt with a
// chosen answer, and message boxes by recording their texts.
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

class TestPrompts : public platform::IUserInterface {
  public:
    void Install() { platform::SetUserInterface(this); }
    void Uninstall() { platform::SetUserInterface(nullptr); }

    // The next prompts answer OK with these values, or Cancel.
    void AnswerCredentials(bool ok, const std::string& user, const std::string& password) {
        m_bOk = ok;
        m_strUser = user;
        m_strPassword = password;
    }
    int CredentialPrompts() const { return m_nPrompts; }
    const std::vector<std::string>& Messages() const { return m_lstMessages; }
    void ClearMessages() { m_lstMessages.clear(); }

    int ShowMessage(const std::string& text, const std::string&, unsigned, void*) override {
        m_lstMessages.push_back(text);
        return platform::kIdOk;
    }
    bool AskAuthorization(const platform::AuthorizationPrompt& prompt, std::string& user,
                          std::string& password, void*) override {
        ++m_nPrompts;
        m_strTitle = prompt.title;
        m_lstServers.push_back(prompt.server);
        if (!m_bOk) {
            return false;
        }
        user = m_strUser;
        password = m_strPassword;
        return true;
    }
    bool AskPassword(const platform::PasswordPrompt&, std::string&, void*) override {
        return false;
    }
    intptr_t ShellOpen(const std::string&, void*) override { return platform::kShellNoAssociation; }
    bool RunAndWait(const std::string&) override { return false; }

    std::string m_strTitle;
    // The server each authorization prompt named, in order.
    std::vector<std::string> m_lstServers;

  private:
    bool m_bOk = false;
    std::string m_strUser;
    std::string m_strPassword;
    int m_nPrompts = 0;
    std::vector<std::string> m_lstMessages;
};
