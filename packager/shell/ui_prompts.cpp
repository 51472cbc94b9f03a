#include "packager/shell/ui_prompts.h"

#include "platform/files.h"
#include "platform/ui.h"

namespace {

// The application's name: the program's file name without its extension.
std::string ApplicationName() {
    std::string path = platform::GetProgramPath();
    std::string folder = platform::FolderOf(path);
    std::string name = folder.empty() ? path : path.substr(folder.size() + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

}  // namespace

bool CUiFetchPrompts::AskForCredentials(const std::string& server, std::string& user,
                                        std::string& password) {
    // The fields start empty every time the prompt is shown.
    user.clear();
    password.clear();
    platform::AuthorizationPrompt prompt;
    // A picture on another site can ask too: the user must see who would get the password.
    prompt.server = server;
    return platform::Ui().AskAuthorization(prompt, user, password, nullptr);
}

void CUiFetchPrompts::ShowFetchFailure(const std::string& text, const std::string& address,
                                       const std::string& cause) {
    platform::Ui().ShowFailure(text, "cannot fetch " + address + ": " + cause, ApplicationName(),
                               platform::kMbOk, nullptr);
}
