// Answers the fetcher's questions in tests: the authorization prompt with a
// chosen answer, and failure messages by recording their texts.
#pragma once

#include <string>
#include <vector>

#include "packager/fetch/fetch_prompts.h"

class TestPrompts : public CFetchPrompts {
  public:
    // The next prompts answer OK with these values, or Cancel.
    void AnswerCredentials(bool ok, const std::string& user, const std::string& password) {
        m_bOk = ok;
        m_strUser = user;
        m_strPassword = password;
    }
    int CredentialPrompts() const { return m_nPrompts; }
    const std::vector<std::string>& Messages() const { return m_lstMessages; }
    void ClearMessages() { m_lstMessages.clear(); }

    void ShowFetchFailure(const std::string& text, const std::string&,
                          const std::string&) override {
        m_lstMessages.push_back(text);
    }
    bool AskForCredentials(const std::string& server, std::string& user,
                           std::string& password) override {
        ++m_nPrompts;
        m_lstServers.push_back(server);
        user.clear();
        password.clear();
        if (!m_bOk) {
            return false;
        }
        user = m_strUser;
        password = m_strPassword;
        return true;
    }

    // The server each authorization prompt named, in order.
    std::vector<std::string> m_lstServers;

  private:
    bool m_bOk = false;
    std::string m_strUser;
    std::string m_strPassword;
    int m_nPrompts = 0;
    std::vector<std::string> m_lstMessages;
};
