// The parts of the file layer that are the same on every platform.
#include "platform/files.h"

namespace platform {

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

}  // namespace

std::string JoinPath(const std::string& left, const std::string& right) {
    if (left.empty())
        return right;
    if (right.empty())
        return left;
    std::string out = left;
    size_t skip = 0;
    while (skip < right.size() && IsSeparator(right[skip]))
        ++skip;
    if (!IsSeparator(out.back()))
        out += kPathSeparator;
    out.append(right, skip, std::string::npos);
    return out;
}

std::string FolderOf(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1]))
            return path.substr(0, i - 1);
    }
    return std::string();
}

std::string NormalisePath(const std::string& path) {
    // Keep the root ("/" or "C:\" or "\\server") as it stands; normalise the rest.
    size_t rootEnd = 0;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':')
        rootEnd = 2;
#endif
    while (rootEnd < path.size() && IsSeparator(path[rootEnd]))
        ++rootEnd;
    std::string root = path.substr(0, rootEnd);
    std::vector<std::string> parts;
    size_t pos = rootEnd;
    while (pos <= path.size()) {
        size_t end = pos;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        std::string part = path.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (root.empty())
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::string out = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += kPathSeparator;
        out += parts[i];
    }
    return out;
}

std::vector<FindData> ListFolder(const std::string& pattern) {
    std::vector<FindData> out;
    CFileFinder finder;
    FindData data;
    if (finder.First(pattern, data)) {
        do {
            out.push_back(data);
        } while (finder.Next(data));
    }
    return out;
}

}  // namespace platform
