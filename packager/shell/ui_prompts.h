// The fetcher's questions and messages as the program shows them: through the platform's
// user interface (dialogs in the window, lines on the terminal).
#pragma once

#include <string>

#include "packager/fetch/fetch_prompts.h"

class CUiFetchPrompts : public CFetchPrompts {
  public:
    bool AskForCredentials(const std::string& server, std::string& user,
                           std::string& password) override;
    void ShowFetchFailure(const std::string& text, const std::string& address,
                          const std::string& cause) override;
};
