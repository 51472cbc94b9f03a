#include "packager/archive/archive_ui.h"

#include "platform/ui.h"

void ArchiveShowMessage(const std::string& text) {
    platform::Ui().ShowMessage(text, "quillbox",
                               platform::kMbOk | platform::kMbIconWarning | platform::kMbTaskModal,
                               nullptr);
}
