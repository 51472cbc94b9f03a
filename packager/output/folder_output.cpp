#include "packager/output/folder_output.h"

#include "platform/files.h"
#include "platform/trace.h"

namespace {

// The longest path a file of the folder may have: Windows' file functions stop at 259
// characters (some fail only when the file is to go again), Linux at 4095.
#ifdef _WIN32
constexpr size_t kMaxPath = 259;
#else
constexpr size_t kMaxPath = 4095;
#endif

// A free name of the form base + suffix + number beside base, made as a folder; empty
// when none could be made.
std::string MakeFolderBeside(const std::string& base, const char* suffix) {
    for (unsigned i = 1; i < 1000; ++i) {
        std::string name = base + suffix + std::to_string(i);
        if (platform::FolderCreate(name))
            return name;
        if (!platform::PathExists(name))
            return std::string();  // not a collision: the parent refuses
    }
    return std::string();
}

// Removes the files directly in folder, then the folder if that left it empty. Nothing
// below it is touched: only the files that an earlier output put there are ours to remove.
bool RemoveFilesAndFolder(const std::string& folder) {
    for (const platform::FindData& fd : platform::ListFolder(platform::JoinPath(folder, "*"))) {
        if (fd.name == "." || fd.name == ".." || (fd.attributes & platform::kAttrDirectory))
            continue;
        std::string path = platform::JoinPath(folder, fd.name);
        platform::SetAttributes(path, platform::kAttrNormal);
        platform::FileRemove(path);
    }
    return platform::FolderRemove(folder);
}

}  // namespace

CFolderOutput::~CFolderOutput() {
    Abort();
}

bool CFolderOutput::Begin(const std::string& outputPath) {
    Abort();
    m_strTarget = outputPath;
    while (m_strTarget.size() > 1 &&
           (m_strTarget.back() == '/' || m_strTarget.back() == platform::kPathSeparator))
        m_strTarget.pop_back();
    m_names.clear();
    m_bMainMarked = false;
    if (m_strTarget.empty() || platform::FileExists(m_strTarget))
        return false;  // a file is there: it is not ours to replace with a folder
    m_strPart = MakeFolderBeside(m_strTarget, ".qbpart");
    return !m_strPart.empty();
}

bool CFolderOutput::AddFile(const std::string& captureName, const std::string& sourcePath) {
    if (m_strPart.empty() || !IsSafeCaptureName(captureName))
        return false;
    std::string target = platform::JoinPath(m_strPart, captureName);
    if (target.size() > kMaxPath)
        return false;
    // Two files of one name would leave only the last: the first one stays.
    if (platform::PathExists(target))
        return false;
    if (!platform::FileCopy(sourcePath, target, true)) {
        platform::Trace("Could not copy %s to %s: error %d\n", sourcePath.c_str(), target.c_str(),
                        platform::LastPlatformError());
        platform::FileRemove(target);
        return false;
    }
    // As the extractor leaves it: the page's files can be changed and removed again.
    platform::SetAttributes(target, platform::kAttrNormal);
    m_names.push_back(captureName);
    return true;
}

bool CFolderOutput::MarkMainPage(const std::string& captureName) {
    for (const std::string& name : m_names) {
        if (name == captureName)
            m_bMainMarked = true;
    }
    return m_bMainMarked;
}

bool CFolderOutput::Finish() {
    if (m_strPart.empty() || !m_bMainMarked) {
        Abort();
        ShowWriteFailure();
        return false;
    }
    std::string old;
    if (platform::PathExists(m_strTarget)) {
        old = MakeFolderBeside(m_strTarget, ".qbold");
        // The name is reserved by the empty folder; the old output takes its place.
        if (old.empty() || !platform::FolderRemove(old) ||
            !platform::FileRename(m_strTarget, old)) {
            platform::Trace("Could not move the old %s aside\n", m_strTarget.c_str());
            Abort();
            ShowWriteFailure();
            return false;
        }
    }
    if (!platform::FileRename(m_strPart, m_strTarget)) {
        platform::Trace("Could not rename %s to %s\n", m_strPart.c_str(), m_strTarget.c_str());
        if (!old.empty())
            platform::FileRename(old, m_strTarget);
        Abort();
        ShowWriteFailure();
        return false;
    }
    m_strPart.clear();
    if (!old.empty() && !RemoveFilesAndFolder(old))
        platform::Trace("The old output stays in %s\n", old.c_str());
    return true;
}

void CFolderOutput::Abort() {
    if (!m_strPart.empty()) {
        // By name: what was put there goes, even where the path is too long to list.
        for (const std::string& name : m_names)
            platform::FileRemove(platform::JoinPath(m_strPart, name));
        platform::FolderRemove(m_strPart);
        m_strPart.clear();
    }
    m_names.clear();
    m_bMainMarked = false;
}
