// What the fetcher asks of the user: the authorization prompt and the
// connection message. Both go through the platform's user-interface layer.
#pragma once

#include <string>

// Shows the authorization prompt with empty fields, naming the server ("host:port")
// that asks; true with the entered user name and password when the user chose OK,
// false on Cancel.
bool AskForCredentials(const std::string& server, std::string& user, std::string& password);
// Shows a fetch failure: the box `text` in a window; on a terminal the one line "cannot
// fetch <address>: <cause>".
void ShowFetchFailure(const std::string& text, const std::string& address,
                      const std::string& cause);
