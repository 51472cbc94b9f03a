#include "packager/output/output_files.h"

#include <cctype>
#include <cstring>

#include "packager/fetch/text_file.h"
#include "platform/files.h"
#include "platform/trace.h"

bool ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    int h = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (h < 0)
        return false;
    char buffer[65536];
    int n;
    while ((n = platform::FileRead(h, buffer, sizeof(buffer))) > 0)
        content.append(buffer, static_cast<size_t>(n));
    platform::FileClose(h);
    return n == 0;
}

bool PutFileInPlace(const std::string& outputPath, const std::string& content) {
    std::string folder = platform::FolderOf(outputPath);
    std::string part;
    // In the output's own folder, so that the last step is a rename on one volume.
    if (platform::TempFileName(folder.empty() ? std::string(".") : folder, "qbx", 0, part) == 0) {
        platform::Trace("Cannot write beside %s: error %d\n", outputPath.c_str(),
                        platform::LastPlatformError());
        return false;
    }
    if (!WriteWholeFile(part, content) || !platform::FileReplace(part, outputPath)) {
        platform::Trace("Could not write %s: error %d\n", outputPath.c_str(),
                        platform::LastPlatformError());
        platform::FileRemove(part);
        return false;
    }
    return true;
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                     static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

namespace {

bool StartsWith(const std::string& bytes, const char* magic, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

std::string LowerExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

std::string MediaTypeOf(const std::string& name, const std::string& bytes) {
    // The bytes decide first: a picture saved under a misleading name is still shown.
    struct Magic {
        const char* bytes;
        size_t size;
        const char* type;
    };
    static const Magic kMagic[] = {
        {"\x89PNG\r\n\x1a\n", 8, "image/png"},
        {"GIF87a", 6, "image/gif"},
        {"GIF89a", 6, "image/gif"},
        {"\xFF\xD8\xFF", 3, "image/jpeg"},
        {"BM", 2, "image/bmp"},
        {"\0\0\1\0", 4, "image/x-icon"},
        {"wOFF", 4, "font/woff"},
        {"wOF2", 4, "font/woff2"},
        {"OTTO", 4, "font/otf"},
        {"\0\1\0\0", 4, "font/ttf"},
    };
    for (const Magic& m : kMagic) {
        if (StartsWith(bytes, m.bytes, m.size))
            return m.type;
    }
    if (bytes.size() >= 12 && StartsWith(bytes, "RIFF", 4) && bytes.compare(8, 4, "WEBP") == 0)
        return "image/webp";
    static const char* const kByExtension[][2] = {
        {"htm", "text/html"},     {"html", "text/html"},   {"css", "text/css"},
        {"svg", "image/svg+xml"}, {"png", "image/png"},    {"gif", "image/gif"},
        {"jpg", "image/jpeg"},    {"jpeg", "image/jpeg"},  {"webp", "image/webp"},
        {"ico", "image/x-icon"},  {"bmp", "image/bmp"},    {"avif", "image/avif"},
        {"woff", "font/woff"},    {"woff2", "font/woff2"}, {"ttf", "font/ttf"},
        {"otf", "font/otf"},      {"txt", "text/plain"},   {"js", "text/javascript"},
    };
    std::string ext = LowerExtension(name);
    for (const auto& row : kByExtension) {
        if (ext == row[0])
            return row[1];
    }
    return "application/octet-stream";
}

std::string DataAddress(const std::string& mediaType, const std::string& bytes) {
    return "data:" + mediaType + ";base64," + Base64(bytes);
}
