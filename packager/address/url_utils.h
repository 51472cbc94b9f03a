// Text search and address helpers shared by the grab driver, the fetcher and the page
// rewriter. Text is 8-bit; indexes count bytes from 0; -1 means not found. "Ignoring case"
// lower-cases ASCII letters on both sides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
// The page name comes from namer (the grab's own numbering); without one it is "home.htm".
bool MakePageNames(const std::string& address, std::string& siteRoot, std::string& path,
                   std::string& pageName, class CLocalNamer* namer = nullptr);
// Clears the read-only attribute of an existing file, keeping its other attributes and times.
// False when the status cannot be read or written back.
bool ClearReadOnly(const std::string& path);

// The file: address of a local path ("file:///C:/dir/page.htm", "file:///home/page.htm"),
// with "%" and blanks escaped so that combining (which decodes escapes) gives them back.
// A local page's references resolve against it, so they are found beside the page
// whatever the current folder is.
std::string LocalPathToFileAddress(const std::string& path);

// Small text helpers that the packager's parts share.
bool IsSpaceChar(char c);  // space, tab, CR, LF, vertical tab, form feed
char LowerAscii(char c);
// Text without the white space at both ends.
std::string TrimWhite(const std::string& text);
// True when text begins with prefix, ASCII letters compared without case (a text equal to
// the prefix counts, unlike HasPrefix).
bool StartsWithNoCase(const std::string& text, const char* prefix);
// True for "http://" and "https://" addresses (any case, something after the scheme).
bool IsWebAddress(const std::string& address);
// The scheme an address begins with, as written ("HTTP" of "HTTP://h/x", "file" of
// "file:///x", "C" of a drive path "C:\\x"); empty when it has none. A host with a port
// ("localhost:8080/x") and credentials ("user:pw@host/x") are not schemes.
std::string SchemeOf(const std::string& address);
// Whether an address typed without a scheme is a web address that "http://" completes.
// False for an address with a scheme of its own (any, in any case), and for what names a
// file or folder of this machine, whether or not it exists: an existing path, a path from
// the root or from "." or "..", a drive path, a path into an existing folder, or a page's
// file name alone ("nothere.html": no host is named so).
bool NeedsWebScheme(const std::string& typed);
// A local path's separators: "\\" and "/" on Windows, "/" elsewhere.
bool IsPathSeparator(char c);
// The file-name part of a local path or address (after the last "/" or "\\").
std::string BaseName(const std::string& path);

// The local names of one grab. They lie flat in one folder and must never meet (a frame
// saved under the main page's name would overwrite it), so each grab numbers its own:
// "QBT" + the number's low 16 bits in upper-case hexadecimal, no number twice in the grab.
// No file is made to find a number. The grab stops naming before the numbers run out.
class CLocalNamer {
  public:
    explicit CLocalNamer(uint32_t first = 1);
    // A fresh name for absoluteAddress: the stem and the extension of the address's last
    // segment (from its first "."; cut at "?" and at any character a file name cannot
    // hold), or `extension` when one is given. When every number is taken, the address
    // with ":/\\?%" and such characters turned into "_".
    std::string Make(const std::string& absoluteAddress, const char* extension = nullptr);
    // Marks the number of a name of the "QBT<hex>" form as taken (a name made elsewhere,
    // such as a local main page's own name).
    void Claim(const std::string& name);
    // How many names were made or claimed.
    uint32_t Count() const { return m_nCount; }
    // The number the next name would try.
    uint32_t Next() const { return m_nNext; }

  private:
    uint32_t m_nNext;
    uint32_t m_nCount = 0;
    std::vector<bool> m_used;
};
