// Text search and address helpers shared by the grab driver, the fetcher and the page
// rewriter. Text is 8-bit; indexes count bytes from 0; -1 means not found. "Ignoring case"
// lower-cases ASCII letters on both sides.
#pragma once

#include <cstdint>
#include <string>

// True when text is strictly longer than prefix and begins with it.
bool HasPrefix(const std::string& text, const std::string& prefix, bool ignoreCase);
// First index of ch at or after start, or -1.
int FindChar(const std::string& text, char ch, int start = 0);
// First index of needle at or after start (case-sensitive), or -1.
int FindText(const std::string& text, const std::string& needle, int start = 0);
// As FindText, ignoring case; the index refers to text.
int FindTextNoCase(const std::string& text, const std::string& needle, int start = 0);

// True when text begins, in any case, with "HTTP://", "HTTPS://" or "FILE:".
bool IsAbsoluteAddress(const std::string& text);
// Resolves reference against base as a browser does (the last segment of base's path names a
// file, whether or not it has a dot): an absolute reference unchanged, else the service's
// combination with %xx decoding (a file: result becomes a local path). Empty on failure.
std::string CombineAddress(const std::string& base, const std::string& reference);
// The local path of a file: address (escape sequences decoded) and the scheme number; on
// failure the address unchanged and -1.
std::string FileAddressToPath(const std::string& address, int& scheme);
// Splits the path of an existing local file into its file name and its folder (up to and
// including the last separator). False when the file cannot be opened or has no name.
bool SplitLocalPath(const std::string& path, std::string& fileName, std::string& folder);
// For a web address: the site root (lower-cased scheme and host, with the port when it is not
// the scheme's default), the lower-cased path, and a fresh page name "QBTxxxx.htm" (or
// "home.htm" when no unique name can be had). False when the address cannot be split or its
// host or path is longer than 2,083 bytes.
bool MakePageNames(const std::string& address, std::string& siteRoot, std::string& path,
                   std::string& pageName);
// Clears the read-only attribute of an existing file, keeping its other attributes and times.
// False when the status cannot be read or written back.
bool ClearReadOnly(const std::string& path);

// Local names of one grab lie flat in one folder and must never meet: a frame saved
// under the main page's name would overwrite it. Page names and the rewriter's names
// therefore draw their numbers from one registry, and no number is handed out twice
// in a run (until all 65536 have been, when the registry starts over).
//
// A fresh stem "QBT" + hex digits (upper case) from the platform's temporary-name
// service, which picks an unused number and creates a probe file in the current
// folder; the probe goes at once. False when the service cannot make one.
bool MakeFreshNameStem(std::string& stem);
// Claims `number` (its low 16 bits) for a stem formed from it; false when that number
// was handed out before.
bool ClaimNameNumber(uint32_t number);
// The file: address of a local path ("file:///C:/dir/page.htm", "file:///home/page.htm"),
// with "%" and blanks escaped so that combining (which decodes escapes) gives them back.
// A local page's references resolve against it, so they are found beside the page
// whatever the current folder is.
std::string LocalPathToFileAddress(const std::string& path);
// Frees every number again (the run's names start over).
void ForgetNameNumbers();
