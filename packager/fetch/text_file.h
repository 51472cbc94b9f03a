// Writing pages "in text mode": every line feed not already preceded by a
// carriage return goes out as CR LF, so a page that already has CR LF line ends
// keeps them (no CR CR LF), on every platform. The runtime's text mode is never
// used for this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CTextModeWriter {
  public:
    // handle: an open platform file handle, written to and not closed.
    explicit CTextModeWriter(int handle) : m_nHandle(handle) {}
    // Writes size bytes with line feeds translated; the CR before a LF may
    // have ended the previous call. False when the file refuses a write.
    bool Write(const char* data, size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }

  private:
    int m_nHandle;
    bool m_bLastWasCR = false;
};

// The translation alone, for a whole text.
std::string ToTextMode(const std::string& text);

// Writes all size bytes to an open platform file handle, however the platform splits the
// writes; false when the file refuses one.
bool WriteAll(int handle, const char* data, size_t size);
// Writes a whole file afresh, as it is (no text mode); false, and no file left, when any
// part of it could not be written.
bool WriteWholeFile(const std::string& path, const std::string& content);
// A file written afresh (created, or emptied when it was there), closed when it goes.
class CNewFile {
  public:
    CNewFile() = default;
    ~CNewFile() { Close(); }
    CNewFile(const CNewFile&) = delete;
    CNewFile& operator=(const CNewFile&) = delete;

    // False when the file cannot be made.
    bool Open(const std::string& path);
    // False when closing failed (what was written may be lost); true when none was open.
    bool Close();
    bool IsOpen() const { return m_nHandle >= 0; }
    int Handle() const { return m_nHandle; }

  private:
    int m_nHandle = -1;
};

// Reads an open platform file handle to its end into content (which it replaces); false on a
// read error or when more than limit bytes come, content then holding what was read.
bool ReadAll(int handle, std::string& content, uint64_t limit);
// The same for the file at path; false also when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& content, uint64_t limit);
