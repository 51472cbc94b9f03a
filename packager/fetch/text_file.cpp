#include "packager/fetch/text_file.h"

#include <vector>

#include "platform/files.h"

bool WriteAll(int handle, const char* data, size_t size) {
    while (size > 0) {
        unsigned part = size > 0x10000000 ? 0x10000000u : static_cast<unsigned>(size);
        int n = platform::FileWrite(handle, data, part);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    int file = platform::FileOpen(path,
                                  platform::kOpenCreate | platform::kOpenTruncate |
                                      platform::kOpenWriteOnly | platform::kOpenBinary,
                                  platform::kModeReadWrite);
    if (file < 0) {
        return false;
    }
    bool ok = WriteAll(file, content.data(), content.size());
    ok = platform::FileClose(file) == 0 && ok;
    if (!ok) {
        platform::FileRemove(path);
    }
    return ok;
}

std::string ToTextMode(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    char last = '\0';
    for (char c : text) {
        if (c == '\n' && last != '\r') {
            out += '\r';
        }
        out += c;
        last = c;
    }
    return out;
}

bool CTextModeWriter::Write(const char* data, size_t size) {
    // Runs without a bare LF go out as they are; each bare LF gets its CR.
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') {
            continue;
        }
        bool hasCR = i > 0 ? data[i - 1] == '\r' : m_bLastWasCR;
        if (hasCR) {
            continue;
        }
        if (!WriteAll(m_nHandle, data + start, i - start) || !WriteAll(m_nHandle, "\r", 1)) {
            return false;
        }
        start = i;
    }
    if (!WriteAll(m_nHandle, data + start, size - start)) {
        return false;
    }
    if (size > 0) {
        m_bLastWasCR = data[size - 1] == '\r';
    }
    return true;
}

bool ReadAll(int handle, std::string& content, uint64_t limit) {
    content.clear();
    std::vector<char> chunk(65536);
    for (;;) {
        int n = platform::FileRead(handle, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (n <= 0) {
            return n == 0;
        }
        if (content.size() + static_cast<size_t>(n) > limit) {
            return false;
        }
        content.append(chunk.data(), static_cast<size_t>(n));
    }
}

bool ReadWholeFile(const std::string& path, std::string& content, uint64_t limit) {
    int file = platform::FileOpen(path, platform::kOpenReadOnly | platform::kOpenBinary);
    if (file < 0) {
        return false;
    }
    bool ok = ReadAll(file, content, limit);
    platform::FileClose(file);
    return ok;
}

bool CNewFile::Open(const std::string& path) {
    Close();
    m_nHandle = platform::FileOpen(path,
                                   platform::kOpenCreate | platform::kOpenTruncate |
                                       platform::kOpenWriteOnly | platform::kOpenBinary,
                                   platform::kModeReadWrite);
    return m_nHandle >= 0;
}

bool CNewFile::Close() {
    int handle = m_nHandle;
    m_nHandle = -1;
    return handle < 0 || platform::FileClose(handle) == 0;
}
