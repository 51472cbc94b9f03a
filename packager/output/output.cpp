#include "packager/output/output.h"

#include <cctype>

#include "packager/archive/archive_ui.h"
#include "packager/output/executable_output.h"
#include "packager/output/folder_output.h"
#include "packager/output/page_file_output.h"
#include "platform/files.h"
#include "platform/trace.h"

namespace {

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != suffix[i])
            return false;
    }
    return true;
}

bool IsSeparator(char c) {
    return c == '/' || c == platform::kPathSeparator;
}

}  // namespace

size_t COutput::MaxFiles() const {
    return static_cast<size_t>(-1);
}

OutputKind OutputKindOf(const std::string& outputPath) {
    if (!outputPath.empty() && IsSeparator(outputPath.back()))
        return OutputKind::Folder;
    if (EndsWithNoCase(outputPath, ".html") || EndsWithNoCase(outputPath, ".htm"))
        return OutputKind::SingleHtml;
    if (EndsWithNoCase(outputPath, ".mhtml") || EndsWithNoCase(outputPath, ".mht"))
        return OutputKind::WebArchive;
    return OutputKind::Executable;
}

std::unique_ptr<COutput> CreateOutput(OutputKind kind, const COutputContext& context) {
    switch (kind) {
        case OutputKind::Folder:
            return std::unique_ptr<COutput>(new CFolderOutput());
        case OutputKind::SingleHtml:
            return std::unique_ptr<COutput>(new CSingleHtmlOutput(context.pProgress));
        case OutputKind::WebArchive:
            return std::unique_ptr<COutput>(new CWebArchiveOutput());
        case OutputKind::Executable:
            break;
    }
    return std::unique_ptr<COutput>(new CExecutableOutput(context));
}

bool IsSafeCaptureName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        // Backslash and colon too: the capture also unpacks on Windows.
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':')
            return false;
    }
    return true;
}

bool WriteCapture(COutput& output, const std::string& outputPath, const std::string& mainPagePath) {
    std::string folder = platform::FolderOf(mainPagePath);
    std::string mainName = mainPagePath.substr(folder.empty() ? 0 : folder.size() + 1);
    if (folder.empty() || !output.Begin(outputPath))
        return false;
    platform::CFileFinder finder;
    platform::FindData fd;
    bool any = false;
    for (bool more = finder.First(platform::JoinPath(folder, "*"), fd); more;
         more = finder.Next(fd)) {
        // The lock that keeps the folder from being swept is no part of the page.
        if (fd.name == platform::kFolderLockName || (fd.attributes & platform::kAttrDirectory))
            continue;
        if (output.AddFile(fd.name, platform::JoinPath(folder, fd.name)))
            any = true;
        else
            platform::Trace("Not in the output: %s\n", fd.name.c_str());
    }
    finder.Close();
    // A capture without its page would open nothing.
    if (!any || !output.MarkMainPage(mainName)) {
        output.Abort();
        ShowWriteFailure();
        return false;
    }
    if (!output.Finish()) {
        output.Abort();
        return false;
    }
    return true;
}

void ShowWriteFailure() {
    ArchiveShowMessage(kStrFailedToWrite);
}
