#include "packager/shell/output_path.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "packager/address/url_utils.h"
#include "platform/files.h"

namespace {

// The system's words for the last failure of a file operation.
std::string Reason() {
#ifdef _WIN32
    return "error " + std::to_string(platform::LastPlatformError());
#else
    return std::strerror(errno);
#endif
}

}  // namespace

std::string OutputPathProblem(const std::string& path, OutputKind kind) {
    if (path.empty())
        return "No output path was given.";
    if (kind == OutputKind::Folder) {
        std::string folder = path;
        while (folder.size() > 1 && IsPathSeparator(folder.back()))
            folder.pop_back();
        if (platform::PathExists(folder) && !platform::FolderExists(folder))
            return folder + " is a file, not a folder.";
        // The folder output is made under a temporary name beside it: its parent must take
        // a new folder.
        std::string probe = folder + ".qbprobe";
        if (!platform::FolderCreate(probe))
            return "No folder can be created beside " + folder + ": " + Reason() + ".";
        platform::FolderRemove(probe);
        return std::string();
    }
    size_t nameStart = path.size();
    while (nameStart > 0 && !IsPathSeparator(path[nameStart - 1]))
        --nameStart;
    // The extension as the platform's path splitting gives it: from the last "." of the
    // file-name part, the dot included.
    size_t dot = path.rfind('.');
    std::string ext = dot == std::string::npos || dot < nameStart ? "" : path.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (kind == OutputKind::Executable && ext != ".EXE")
        return path + " does not end in .exe.";
    if (platform::FolderExists(path))
        return path + " is a folder.";
    // The folder as written, its separator dropped unless it is a root ("/", "C:\").
    std::string folder = path.substr(0, nameStart);
    if (folder.size() > 1 && IsPathSeparator(folder.back()) && folder[folder.size() - 2] != ':')
        folder.pop_back();
    std::string probeFolder = folder.empty() ? std::string(".") : folder;
    if (!platform::FolderExists(probeFolder)) {
        return platform::PathExists(probeFolder) ? probeFolder + " is not a folder."
                                                 : "The folder " + probeFolder + " does not exist.";
    }
    // The executable is written under a temporary name beside its final one: that file must
    // be possible.
    std::string probe;
    if (platform::TempFileName(probeFolder, "qbx", 0, probe) == 0)
        return "No file can be created in the folder " + probeFolder + ": " + Reason() + ".";
    platform::FileRemove(probe);
    return std::string();
}

std::string ExistingOutputProblem(const std::string& path, OutputKind kind) {
    if (kind == OutputKind::Folder)
        return std::string();
    platform::SetAttributes(path, platform::kAttrNormal);
    int h = platform::FileOpen(path, platform::kOpenReadWrite | platform::kOpenBinary);
    if (h < 0)
        return path + " cannot be replaced: " + Reason() + ".";
    platform::FileClose(h);
    return std::string();
}
