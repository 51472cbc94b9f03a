// Arithmetic over a packed device-independent bitmap: the 40-byte information
// header, the colour table right after it and the pixel rows. No window system
// here, so the rules are the same on every platform and tested everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The fields of the bitmap information header that the widgets read.
struct DibInfo {
    uint32_t headerSize = 0;  // the header's own size field
    int32_t width = 0;
    int32_t height = 0;  // negative: rows stored top-down
    uint16_t bitCount = 0;
    uint32_t compression = 0;  // 0 plain rows, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t sizeImage = 0;
    uint32_t clrUsed = 0;
};

// One palette entry as the logical palette holds it.
struct PaletteColor {
    uint8_t red, green, blue, flags;
};

constexpr size_t kDibHeaderBytes = 40;

// Reads the header from the first 40 bytes; false when there are fewer.
bool ReadDibInfo(const uint8_t* data, size_t size, DibInfo& out);
// The header's count of colours used when not 0; otherwise 2 to the bit count for
// 8 bits or fewer; otherwise 0.
uint32_t DibColorCount(const DibInfo& info);
// Where the pixel rows start: the header's size plus 4 bytes per colour.
uint64_t DibPixelOffset(const DibInfo& info);
// Bytes of one pixel row (rows are padded to 4 bytes).
uint64_t DibRowBytes(const DibInfo& info);
// The logical palette made from the colour table that starts right after 40 bytes:
// entry i takes red, green and blue from table entry i (stored blue, green, red,
// reserved), flags 0. Empty for true-colour bitmaps and when the table does not fit
// in `size` bytes.
std::vector<PaletteColor> DibPalette(const uint8_t* data, size_t size);
// Whether a packed bitmap of `size` bytes can be drawn without reading past its
// end: a known header size, a sane width, height and bit count, a colour table and
// pixel rows that fit. Broken files (short, wrong sizes, huge dimensions) fail.
bool DibIsDrawable(const uint8_t* data, size_t size);
