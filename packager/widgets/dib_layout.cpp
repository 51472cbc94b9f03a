#include "packager/widgets/dib_layout.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Beyond this a "picture" is a broken or hostile file: 64 M pixels.
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

}  // namespace

bool ReadDibInfo(const uint8_t* data, size_t size, DibInfo& out) {
    if (!data || size < kDibHeaderBytes)
        return false;
    out.headerSize = Le32(data);
    out.width = static_cast<int32_t>(Le32(data + 4));
    out.height = static_cast<int32_t>(Le32(data + 8));
    out.bitCount = Le16(data + 14);
    out.compression = Le32(data + 16);
    out.sizeImage = Le32(data + 20);
    out.clrUsed = Le32(data + 32);
    return true;
}

uint32_t DibColorCount(const DibInfo& info) {
    if (info.clrUsed != 0)
        return info.clrUsed;
    if (info.bitCount <= 8)
        return uint32_t(1) << info.bitCount;
    return 0;
}

uint64_t DibPixelOffset(const DibInfo& info) {
    return uint64_t(info.headerSize) + 4 * uint64_t(DibColorCount(info));
}

uint64_t DibRowBytes(const DibInfo& info) {
    uint64_t width = info.width < 0 ? 0 : uint64_t(info.width);
    return (width * info.bitCount + 31) / 32 * 4;
}

std::vector<PaletteColor> DibPalette(const uint8_t* data, size_t size) {
    std::vector<PaletteColor> palette;
    DibInfo info;
    if (!ReadDibInfo(data, size, info))
        return palette;
    uint64_t count = DibColorCount(info);
    // A logical palette holds at most 65535 entries; a table that runs past the
    // end of the data is a broken file, not a palette.
    if (count == 0 || count > 0xFFFF || kDibHeaderBytes + 4 * count > size)
        return palette;
    palette.reserve(static_cast<size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* q = data + kDibHeaderBytes + 4 * i;
        palette.push_back(PaletteColor{q[2], q[1], q[0], 0});
    }
    return palette;
}

bool DibIsDrawable(const uint8_t* data, size_t size) {
    DibInfo info;
    if (!ReadDibInfo(data, size, info))
        return false;
    if (info.headerSize < kDibHeaderBytes || info.headerSize > size)
        return false;
    switch (info.bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return false;
    }
    if (info.width <= 0 || info.height == 0 || info.height == INT32_MIN)
        return false;
    uint64_t rows = uint64_t(info.height < 0 ? -int64_t(info.height) : info.height);
    if (uint64_t(info.width) * rows > kMaxPixels)
        return false;
    uint32_t colors = DibColorCount(info);
    if (info.bitCount <= 8 && colors > (uint32_t(1) << info.bitCount))
        return false;
    uint64_t offset = DibPixelOffset(info);
    if (info.compression == 3 && info.headerSize == kDibHeaderBytes)
        offset += 12;  // the three colour masks
    if (offset > size)
        return false;
    uint64_t available = size - offset;
    switch (info.compression) {
        case 0:
        case 3:
            return DibRowBytes(info) * rows <= available;
        case 1:
        case 2:
            // Run-length rows: the header must say how many bytes they take.
            return info.height > 0 && info.sizeImage != 0 && info.sizeImage <= available &&
                   info.bitCount == (info.compression == 1 ? 8 : 4);
        default:
            return false;
    }
}
