// What a fetch asks of the user (a user name and password) and tells the user (why an
// address could not be fetched). The caller supplies it: the window and the terminal show
// the platform's prompts, a test answers and records, a transfer of the pool asks nothing.
#pragma once

#include <string>

class CFetchPrompts {
  public:
    virtual ~CFetchPrompts() = default;
    // The authorization prompt with empty fields, naming the server ("host:port") that asks;
    // true with the entered user name and password when the user chose OK, false on Cancel.
    virtual bool AskForCredentials(const std::string& server, std::string& user,
                                   std::string& password) = 0;
    // A fetch failure: the box `text` in a window; on a terminal the one line
    // "cannot fetch <address>: <cause>".
    virtual void ShowFetchFailure(const std::string& text, const std::string& address,
                                  const std::string& cause) = 0;
};

// Asks nothing (as if cancelled) and shows nothing.
class CQuietPrompts : public CFetchPrompts {
  public:
    bool AskForCredentials(const std::string&, std::string&, std::string&) override {
        return false;
    }
    void ShowFetchFailure(const std::string&, const std::string&, const std::string&) override {}
};
