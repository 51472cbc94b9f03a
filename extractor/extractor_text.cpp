#include "extractor/extractor_text.h"

#include <cstdio>
#include <cstring>

namespace spillet {

const char kTitleError[] = "Error";
const char kTitleSave[] = "Save";
const char kTitleExtractor[] = "Extractor";
const char kOverwriteQuestion[] = "File %s already exists.\r\nDo you want to replace it?";

const char kCauseCannotOpen[] = "Cannot open %s: %s.";
const char kCauseNotAnArchive[] = "%s is not a self-extracting file made by Quillbox.";
const char kCauseCutShort[] = "%s is damaged or cut short.";
const char kCauseNoFiles[] = "The archive in %s holds no files.";
const char kCauseVersion[] = "%s was made by a cabinet version this program cannot read.";
const char kCauseCompression[] = "%s uses a compression method this program does not know.";
const char kCauseNextCabinet[] = "The archive goes on in the cabinet %s, which is not there.";
const char kCauseOutside[] = "The archive names %s, which lies outside the destination folder.";
const char kCauseLink[] = "%s is a link; nothing is written through a link.";
const char kCauseNoSpace[] = "Not enough free space for %s: it needs %s bytes, %s bytes are free.";
const char kCauseCannotCreate[] = "Cannot create %s: %s.";
const char kCauseCannotReplace[] = "Cannot replace %s: %s.";
const char kCauseCannotWrite[] = "Cannot write %s: %s.";
const char kCauseNoTempFolder[] = "There is no temporary folder to unpack into.";
const char kCausePrivateFolder[] = "Cannot create a folder in %s: %s.";
const char kCauseNoInput[] = "No input file was given.";
const char kCauseNoOutput[] = "The output folder is empty.";
const char kCauseTooLong[] = "The path %s is longer than %u characters.";
const char kNoteTooLongToOpen[] =
    "%s was not opened: its path is longer than %u characters.\nThe files are in %s";
const char kNoteNoViewer[] = "No program is installed to open pages. The page is %s";

const char* DefaultText(int id) {
    switch (id) {
        case 1:
            return "Please enter the password and then click OK.";
        case 2:
            return "You entered a wrong password.\n Please use the correct password and try "
                   "again.";
        case 3:
            return "Usage: spillet [input_file output_dir]";
        case 4:
            return "Failed to extract file:";
        case 5:
            return "File %s exists. \r\n Do you want to replace it?";
        case 6:
            return "There are no viewers registered for this type of file.\r\nWould you like "
                   "to try the default browser?";
        case 7:
            return "Extracting...";
        case 8:
            return "Extracting \"%s\"";
        default:
            return "";
    }
}

bool NextToken(const char*& cursor, std::string& token) {
    const char* p = cursor;
    while (*p == ' ') {
        ++p;
    }
    if (*p == '\0') {
        cursor = p;
        return false;
    }
    const char* start;
    if (*p == '"') {
        start = ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        token.assign(start, p);
        if (*p == '"') {
            ++p;
        }
    } else {
        start = p;
        while (*p != '\0' && *p != ' ') {
            ++p;
        }
        token.assign(start, p);
        while (*p == ' ') {
            ++p;
        }
    }
    cursor = p;
    return true;
}

std::string PasswordDigits(const std::string& password) {
    std::string out;
    out.reserve(password.size() * 4);
    for (size_t i = 0; i < password.size(); ++i) {
        int v = 256 * static_cast<int>(i + 1) + static_cast<signed char>(password[i]);
        char group[16];
        std::snprintf(group, sizeof group, "%04d", v);
        out.append(group + std::strlen(group) - 4);
    }
    return out;
}

bool PasswordMatches(const char* stored, size_t storedSize, const std::string& password) {
    size_t length = 0;
    while (length < storedSize && stored[length] != '\0') {
        ++length;
    }
    std::string digits = PasswordDigits(password);
    return digits.size() == length && std::memcmp(digits.data(), stored, length) == 0;
}

std::string ContainedName(const std::string& name) {
    std::string n = name;
    for (char& c : n) {
        if (c == '/') {
            c = '\\';
        }
    }
    size_t skip = n.compare(0, 2, "\\\\") == 0 ? 2 : (n.compare(0, 1, "\\") == 0 ? 1 : 0);
    n.erase(0, skip);
    if (n.empty() || n[0] == '\\' || n.back() == '\\' || n.find(':') != std::string::npos) {
        return std::string();
    }
    size_t start = 0;
    while (start <= n.size()) {
        size_t end = n.find('\\', start);
        if (end == std::string::npos) {
            end = n.size();
        }
        // ".." climbs out; longer runs of dots are no real names on Windows either.
        if (end - start >= 2 && n.find_first_not_of('.', start) >= end) {
            return std::string();
        }
        start = end + 1;
    }
    return n;
}

}  // namespace spillet
