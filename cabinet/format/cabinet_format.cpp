#include "cabinet/format/cabinet_format.h"

namespace {

// True when size bytes starting at offset lie inside a buffer of total bytes,
// written so that no sum can wrap.
CabFormatResult CheckRange(size_t total, size_t offset, size_t size) {
    if (offset > total) {
        return kCabFormatOffsetPastEnd;
    }
    if (size > total - offset) {
        return kCabFormatTruncated;
    }
    return kCabFormatOk;
}

const uint8_t kSignature[4] = {'M', 'S', 'C', 'F'};

}  // namespace

CabHeader CabMakeHeader() {
    CabHeader h = {};
    for (int i = 0; i < 4; ++i) {
        h.signature[i] = kSignature[i];
    }
    h.versionMinor = kCabVersionMinor;
    h.versionMajor = kCabVersionMajor;
    return h;
}

bool CabHasSignature(const CabHeader& header) {
    for (int i = 0; i < 4; ++i) {
        if (header.signature[i] != kSignature[i]) {
            return false;
        }
    }
    return true;
}

size_t CabEncodeHeader(const CabHeader& h, uint8_t* out) {
    for (int i = 0; i < 4; ++i) {
        out[i] = h.signature[i];
    }
    CabPut32(out + 4, h.reserved1);
    CabPut32(out + 8, h.cabinetSize);
    CabPut32(out + 12, h.reserved2);
    CabPut32(out + 16, h.filesOffset);
    CabPut32(out + 20, h.reserved3);
    out[24] = h.versionMinor;
    out[25] = h.versionMajor;
    CabPut16(out + 26, h.folderCount);
    CabPut16(out + 28, h.fileCount);
    CabPut16(out + 30, h.flags);
    CabPut16(out + 32, h.setId);
    CabPut16(out + 34, h.cabinetIndex);
    return kCabHeaderSize;
}

size_t CabEncodeReserveSizes(const CabReserveSizes& s, uint8_t* out) {
    CabPut16(out, s.headerReserve);
    out[2] = s.folderReserve;
    out[3] = s.dataReserve;
    return kCabReserveFieldsSize;
}

size_t CabEncodeFolderEntry(const CabFolderEntry& e, uint8_t* out) {
    CabPut32(out, e.firstBlockOffset);
    CabPut16(out + 4, e.blockCount);
    CabPut16(out + 6, e.compressionType);
    return kCabFolderEntrySize;
}

size_t CabEncodeFileEntry(const CabFileEntry& e, uint8_t* out) {
    CabPut32(out, e.size);
    CabPut32(out + 4, e.folderOffset);
    CabPut16(out + 8, e.folderIndex);
    CabPut16(out + 10, e.date);
    CabPut16(out + 12, e.time);
    CabPut16(out + 14, e.attributes);
    return kCabFileEntrySize;
}

size_t CabEncodeDataHeader(const CabDataHeader& h, uint8_t* out) {
    CabPut32(out, h.checksum);
    CabPut16(out + 4, h.compressedSize);
    CabPut16(out + 6, h.uncompressedSize);
    return kCabDataHeaderSize;
}

CabFormatResult CabDecodeHeader(const uint8_t* data, size_t size, size_t offset, CabHeader* out) {
    CabFormatResult r = CheckRange(size, offset, kCabHeaderSize);
    if (r != kCabFormatOk) {
        return r;
    }
    const uint8_t* p = data + offset;
    for (int i = 0; i < 4; ++i) {
        out->signature[i] = p[i];
    }
    out->reserved1 = CabGet32(p + 4);
    out->cabinetSize = CabGet32(p + 8);
    out->reserved2 = CabGet32(p + 12);
    out->filesOffset = CabGet32(p + 16);
    out->reserved3 = CabGet32(p + 20);
    out->versionMinor = p[24];
    out->versionMajor = p[25];
    out->folderCount = CabGet16(p + 26);
    out->fileCount = CabGet16(p + 28);
    out->flags = CabGet16(p + 30);
    out->setId = CabGet16(p + 32);
    out->cabinetIndex = CabGet16(p + 34);
    return kCabFormatOk;
}

CabFormatResult CabDecodeReserveSizes(const uint8_t* data, size_t size, size_t offset,
                                      CabReserveSizes* out) {
    CabFormatResult r = CheckRange(size, offset, kCabReserveFieldsSize);
    if (r != kCabFormatOk) {
        return r;
    }
    const uint8_t* p = data + offset;
    out->headerReserve = CabGet16(p);
    out->folderReserve = p[2];
    out->dataReserve = p[3];
    return kCabFormatOk;
}

CabFormatResult CabDecodeFolderEntry(const uint8_t* data, size_t size, size_t offset,
                                     CabFolderEntry* out) {
    CabFormatResult r = CheckRange(size, offset, kCabFolderEntrySize);
    if (r != kCabFormatOk) {
        return r;
    }
    const uint8_t* p = data + offset;
    out->firstBlockOffset = CabGet32(p);
    out->blockCount = CabGet16(p + 4);
    out->compressionType = CabGet16(p + 6);
    return kCabFormatOk;
}

CabFormatResult CabDecodeFileEntry(const uint8_t* data, size_t size, size_t offset,
                                   CabFileEntry* out) {
    CabFormatResult r = CheckRange(size, offset, kCabFileEntrySize);
    if (r != kCabFormatOk) {
        return r;
    }
    const uint8_t* p = data + offset;
    out->size = CabGet32(p);
    out->folderOffset = CabGet32(p + 4);
    out->folderIndex = CabGet16(p + 8);
    out->date = CabGet16(p + 10);
    out->time = CabGet16(p + 12);
    out->attributes = CabGet16(p + 14);
    return kCabFormatOk;
}

CabFormatResult CabDecodeDataHeader(const uint8_t* data, size_t size, size_t offset,
                                    CabDataHeader* out) {
    CabFormatResult r = CheckRange(size, offset, kCabDataHeaderSize);
    if (r != kCabFormatOk) {
        return r;
    }
    const uint8_t* p = data + offset;
    out->checksum = CabGet32(p);
    out->compressedSize = CabGet16(p + 4);
    out->uncompressedSize = CabGet16(p + 6);
    return kCabFormatOk;
}

CabFormatResult CabDecodeName(const uint8_t* data, size_t size, size_t offset, size_t* length) {
    if (offset > size) {
        return kCabFormatOffsetPastEnd;
    }
    // Only the bytes that are both in the buffer and within the longest legal
    // name (255 bytes and the NUL) are looked at.
    size_t limit = size - offset;
    if (limit > kCabMaxNameLength + 1) {
        limit = kCabMaxNameLength + 1;
    }
    const uint8_t* p = data + offset;
    for (size_t i = 0; i < limit; ++i) {
        if (p[i] == 0) {
            *length = i;
            return kCabFormatOk;
        }
    }
    // Running out of buffer before 256 bytes is truncation; 256 bytes without a
    // NUL is a name that the format does not allow.
    return limit == kCabMaxNameLength + 1 ? kCabFormatNameUnterminated : kCabFormatTruncated;
}

CabFormatResult CabDecodeFileRecord(const uint8_t* data, size_t size, size_t offset,
                                    CabFileEntry* entry, const char** name, size_t* recordSize) {
    CabFormatResult r = CabDecodeFileEntry(data, size, offset, entry);
    if (r != kCabFormatOk) {
        return r;
    }
    size_t length = 0;
    r = CabDecodeName(data, size, offset + kCabFileEntrySize, &length);
    if (r != kCabFormatOk) {
        return r;
    }
    *name = reinterpret_cast<const char*>(data + offset + kCabFileEntrySize);
    *recordSize = kCabFileEntrySize + length + 1;
    return kCabFormatOk;
}

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t sum = seed;
    size_t words = size / 4;
    const uint8_t* p = data;
    for (size_t i = 0; i < words; ++i, p += 4) {
        sum ^= CabGet32(p);
    }
    uint32_t tail = 0;
    switch (size & 3) {
        case 3:
            tail = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
            break;
        case 2:
            tail = (uint32_t(p[0]) << 8) | p[1];
            break;
        case 1:
            tail = p[0];
            break;
        default:
            break;
    }
    return sum ^ tail;
}

uint32_t CabDataBlockChecksum(const uint8_t* header, size_t headerSize, const uint8_t* data,
                              size_t dataSize) {
    uint32_t sum = CabChecksum(data, dataSize, 0);
    return CabChecksum(header + 4, headerSize - 4, sum);
}

uint32_t CabHeaderSizeWith(bool reservePresent, uint32_t headerReserve) {
    return kCabHeaderSize + (reservePresent ? kCabReserveFieldsSize + headerReserve : 0);
}

uint32_t CabFirstFileOffset(uint32_t headerSize, uint32_t nameBytes, uint32_t folderCount,
                            uint32_t folderReserve) {
    return headerSize + nameBytes + folderCount * (kCabFolderEntrySize + folderReserve);
}
