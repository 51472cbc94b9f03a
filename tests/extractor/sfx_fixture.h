// Builds small cabinets and self-extracting files for the extractor tests: stored (type 0)
// data blocks with real checksums, any names and attributes, an optional header reserve.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cabinet/format/cabinet_format.h"

namespace sfxtest {

using Bytes = std::vector<uint8_t>;

struct Entry {
    std::string name;
    std::string content;
    uint16_t attributes = 0x20;
    uint16_t date = (2024 - 1980) << 9 | 6 << 5 | 15;  // 15 June 2024
    uint16_t time = 12 << 11 | 0 << 5 | 0;             // 12:00:00
};

inline void Put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
inline void Add16(Bytes& b, uint16_t v) {
    b.resize(b.size() + 2);
    Put16(b, b.size() - 2, v);
}
inline void Add32(Bytes& b, uint32_t v) {
    b.resize(b.size() + 4);
    Put32(b, b.size() - 4, v);
}

// One cabinet, one stored folder holding every entry. With a non-empty headerReserve the
// header carries reserve fields (flag 0x0004) and that area.
inline Bytes MakeCabinet(const std::vector<Entry>& entries, const Bytes& headerReserve = {}) {
    std::string all;
    for (const Entry& e : entries) {
        all += e.content;
    }
    const bool reserve = !headerReserve.empty();
    const uint32_t headerSize =
        36 + (reserve ? 4 + static_cast<uint32_t>(headerReserve.size()) : 0);
    const uint32_t folderAt = headerSize;
    const uint32_t filesAt = folderAt + 8;
    Bytes cab(headerSize, 0);
    cab[0] = 'M', cab[1] = 'S', cab[2] = 'C', cab[3] = 'F';
    Put32(cab, 16, filesAt);
    cab[24] = 3, cab[25] = 1;
    Put16(cab, 26, 1);
    Put16(cab, 28, static_cast<uint16_t>(entries.size()));
    Put16(cab, 30, reserve ? 0x0004 : 0);
    Put16(cab, 32, 65432);
    if (reserve) {
        Put16(cab, 36, static_cast<uint16_t>(headerReserve.size()));
        std::copy(headerReserve.begin(), headerReserve.end(), cab.begin() + 40);
    }
    size_t blockCount = (all.size() + 32767) / 32768;
    Add32(cab, 0);  // first block offset, patched below
    Add16(cab, static_cast<uint16_t>(blockCount));
    Add16(cab, 0);  // stored
    uint32_t offset = 0;
    for (const Entry& e : entries) {
        Add32(cab, static_cast<uint32_t>(e.content.size()));
        Add32(cab, offset);
        Add16(cab, 0);
        Add16(cab, e.date);
        Add16(cab, e.time);
        Add16(cab, e.attributes);
        cab.insert(cab.end(), e.name.begin(), e.name.end());
        cab.push_back(0);
        offset += static_cast<uint32_t>(e.content.size());
    }
    Put32(cab, folderAt, static_cast<uint32_t>(cab.size()));
    for (size_t at = 0; at < all.size(); at += 32768) {
        size_t n = std::min<size_t>(32768, all.size() - at);
        Bytes header(8, 0);
        Put16(header, 4, static_cast<uint16_t>(n));
        Put16(header, 6, static_cast<uint16_t>(n));
        const auto* data = reinterpret_cast<const uint8_t*>(all.data() + at);
        Put32(header, 0, CabDataBlockChecksum(header.data(), header.size(), data, n));
        cab.insert(cab.end(), header.begin(), header.end());
        cab.insert(cab.end(), data, data + n);
    }
    Put32(cab, 8, static_cast<uint32_t>(cab.size()));
    return cab;
}

// An extractor head: the real template when given, else a small stand-in with an MS-DOS
// header (the base field at 124 zero, the executable header at 128).
inline Bytes MakeHead(const std::string& templatePath = std::string()) {
    if (!templatePath.empty()) {
        std::ifstream in(templatePath, std::ios::binary);
        if (in) {
            return Bytes(std::istreambuf_iterator<char>(in), {});
        }
    }
    Bytes head(1024, 0);
    head[0] = 'M', head[1] = 'Z';
    Put32(head, 60, 128);
    return head;
}

// head + cabinet with the head's length at offset 124.
inline Bytes MakeSfx(Bytes head, const Bytes& cabinet) {
    Put32(head, 124, static_cast<uint32_t>(head.size()));
    head.insert(head.end(), cabinet.begin(), cabinet.end());
    return head;
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The digit-string reserve area of a password, NUL-ended.
inline Bytes Reserve(const std::string& digits) {
    Bytes area(digits.begin(), digits.end());
    area.push_back(0);
    return area;
}

// A fresh, empty folder under the system's temporary folder (a random part keeps parallel
// runs of different builds apart).
inline std::filesystem::path FreshFolder(const std::string& name) {
    static const unsigned run = std::random_device{}();
    auto dir = std::filesystem::temp_directory_path() /
               ("qb-extractor-" + std::to_string(run) + "-" + name);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace sfxtest
