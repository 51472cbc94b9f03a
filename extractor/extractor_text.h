// Texts of spillet that the user sees, and the pure rules behind the command line, the
// password digit string and the names that an archive may write.
#pragma once

#include <cstddef>
#include <string>

namespace spillet {

// The string table (ids 1 to 8); the resource script holds the same texts.
const char* DefaultText(int id);

// Titles of the message boxes.
extern const char kTitleError[];
extern const char kTitleSave[];
extern const char kTitleExtractor[];

// The overwrite question, formatted with the target path.
extern const char kOverwriteQuestion[];

// The lines that follow a failure message and say its cause, and the notes that tell the
// user where the files are; printf formats, each %s a path as the user reads it.
extern const char kCauseCannotOpen[];     // path, reason
extern const char kCauseNotAnArchive[];   // path
extern const char kCauseCutShort[];       // path
extern const char kCauseNoFiles[];        // path
extern const char kCauseVersion[];        // path
extern const char kCauseCompression[];    // path
extern const char kCauseNextCabinet[];    // cabinet name
extern const char kCauseOutside[];        // name in the archive
extern const char kCauseLink[];           // path
extern const char kCauseNoSpace[];        // path, bytes needed, bytes free (as text: the
                                          // system formatter may not know %lld)
extern const char kCauseCannotCreate[];   // path, reason
extern const char kCauseCannotReplace[];  // path, reason
extern const char kCauseCannotWrite[];    // path, reason
extern const char kCauseNoTempFolder[];   // (nothing)
extern const char kCausePrivateFolder[];  // parent folder, reason
extern const char kCauseNoInput[];        // (nothing)
extern const char kCauseNoOutput[];       // (nothing)
extern const char kCauseTooLong[];        // path, limit
extern const char kNoteTooLongToOpen[];   // path, limit, folder
extern const char kNoteNoViewer[];        // path

// Yields the next command-line token and moves `cursor` past it; false at the end.
// Only spaces separate tokens; a token that starts with a double quote runs to the next
// quote (or the end), which is dropped.
bool NextToken(const char*& cursor, std::string& token);

// The stored form of a password: four decimal digits per byte, the last four digits of
// 256 * (position + 1) + the byte read as signed.
std::string PasswordDigits(const std::string& password);

// True when the digit string of `password` equals `stored` (which ends at its first NUL or
// after `storedSize` bytes) over the whole length.
bool PasswordMatches(const char* stored, size_t storedSize, const std::string& password);

// The cabinet name after the extractor's stripping rule (slashes made backslashes, then two
// leading backslashes, or else one, dropped), or empty when the name would reach outside
// the destination folder: a ".." part, a drive or stream colon, a separator still leading,
// or no file name at all.
std::string ContainedName(const std::string& name);

}  // namespace spillet
