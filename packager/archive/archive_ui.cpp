#include "packager/archive/archive_ui.h"

#include "platform/files.h"
#include "platform/ui.h"

const char* const kStrFailedToWrite = "Failed to write the file.";

std::string ApplicationName() {
    std::string path = platform::GetProgramPath();
    size_t slash = path.find_last_of("\\/");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name.empty() ? "quillbox" : name;
}

void ArchiveShowMessage(const std::string& text) {
    platform::Ui().ShowMessage(text, ApplicationName(),
                               platform::kMbOk | platform::kMbIconWarning | platform::kMbTaskModal,
                               nullptr);
}
