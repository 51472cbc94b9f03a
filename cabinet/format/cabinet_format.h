// Cabinet ("MSCF") records shared by the writer and the reader: the fixed-size
// records with explicit little-endian encoding, the marks and flags that live
// in their fields, the data block checksum and the offset arithmetic.
//
// Every decoder takes the whole buffer, its size and the offset of the record,
// and fails with a result instead of reading past the end of the buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// Record sizes without their variable parts.
constexpr uint32_t kCabHeaderSize = 36;        // CFHEADER without reserve fields
constexpr uint32_t kCabReserveFieldsSize = 4;  // header, folder and data reserve sizes
constexpr uint32_t kCabFolderEntrySize = 8;    // CFFOLDER without its reserve area
constexpr uint32_t kCabFileEntrySize = 16;     // CFFILE without its name
constexpr uint32_t kCabDataHeaderSize = 8;     // CFDATA without its reserve area
constexpr uint32_t kCabMaxNameLength = 255;    // name bytes before the NUL
constexpr uint32_t kCabMaxHeaderReserve = 65535;
constexpr uint32_t kCabMaxFolderReserve = 255;
constexpr uint32_t kCabMaxDataReserve = 255;
// Counts in the header are 16-bit. Folder indices from 0xFFFD up mark continued
// files, so the last folder a cabinet can hold has index 0xFFFC.
constexpr uint32_t kCabMaxFiles = 0xFFFF;
constexpr uint32_t kCabMaxFolders = 0xFFFD;
constexpr uint32_t kCabBlockSize = 32768;  // uncompressed bytes in a full data block

constexpr uint8_t kCabVersionMinor = 3;
constexpr uint8_t kCabVersionMajor = 1;

// Header flags.
constexpr uint16_t kCabFlagPrevCabinet = 0x0001;  // previous cabinet and disk names follow
constexpr uint16_t kCabFlagNextCabinet = 0x0002;  // next cabinet and disk names follow
constexpr uint16_t kCabFlagReserve = 0x0004;      // reserve fields present

// Folder-index marks of a file entry.
constexpr uint16_t kCabFolderContinuedFromPrev = 0xFFFD;
constexpr uint16_t kCabFolderContinuedToNext = 0xFFFE;
constexpr uint16_t kCabFolderContinuedPrevAndNext = 0xFFFF;

// True when a file entry with this folder index began in an earlier cabinet.
inline bool CabBeganInPrevious(uint16_t folderIndex) {
    return (folderIndex & kCabFolderContinuedFromPrev) == kCabFolderContinuedFromPrev;
}
// True when a file entry with this folder index continues into a later cabinet.
inline bool CabContinuesToNext(uint16_t folderIndex) {
    return (folderIndex & kCabFolderContinuedToNext) == kCabFolderContinuedToNext;
}

// Attribute bits of a file entry.
constexpr uint16_t kCabAttrReadOnly = 0x01;
constexpr uint16_t kCabAttrHidden = 0x02;
constexpr uint16_t kCabAttrSystem = 0x04;
constexpr uint16_t kCabAttrArchive = 0x20;
constexpr uint16_t kCabAttrRunAfterExtract = 0x40;
// The MS-DOS bits that travel to an extracted file.
constexpr uint16_t kCabAttrFileMask = 0x27;

// Compression types of a folder entry (low nibble; Quantum and LZX carry a
// window exponent in bits 8-12).
constexpr uint16_t kCabCompressNone = 0;
constexpr uint16_t kCabCompressMszip = 1;
constexpr uint16_t kCabCompressQuantum = 2;
constexpr uint16_t kCabCompressLzx = 3;
constexpr uint16_t kCabCompressTypeMask = 0x000F;

// Outcome of decoding a record.
enum CabFormatResult {
    kCabFormatOk = 0,
    kCabFormatOffsetPastEnd,     // the record's offset lies beyond the buffer
    kCabFormatTruncated,         // fewer bytes than the record needs
    kCabFormatNameUnterminated,  // no NUL within the 256 bytes a name may take
};

struct CabHeader {
    uint8_t signature[4];  // "MSCF" in a finished cabinet
    uint32_t reserved1;
    uint32_t cabinetSize;  // total size of the cabinet in bytes
    uint32_t reserved2;
    uint32_t filesOffset;  // offset of the first file entry
    uint32_t reserved3;
    uint8_t versionMinor;
    uint8_t versionMajor;
    uint16_t folderCount;
    uint16_t fileCount;
    uint16_t flags;
    uint16_t setId;
    uint16_t cabinetIndex;  // index within the set, from 0
};

// The reserve fields that follow the header when kCabFlagReserve is set.
struct CabReserveSizes {
    uint16_t headerReserve;
    uint8_t folderReserve;
    uint8_t dataReserve;
};

struct CabFolderEntry {
    uint32_t firstBlockOffset;  // from the start of the cabinet
    uint16_t blockCount;        // data blocks of this folder in this cabinet
    uint16_t compressionType;
};

struct CabFileEntry {
    uint32_t size;          // uncompressed size of the file
    uint32_t folderOffset;  // offset of its first byte in the folder's uncompressed stream
    uint16_t folderIndex;   // folder of this cabinet, or one of the continuation marks
    uint16_t date;          // MS-DOS date
    uint16_t time;          // MS-DOS time
    uint16_t attributes;
};

struct CabDataHeader {
    uint32_t checksum;  // 0 means no checksum
    uint16_t compressedSize;
    uint16_t uncompressedSize;  // 0 marks the first piece of a block split between cabinets
};

// Little-endian field access; the caller guarantees the bytes are there.
inline uint16_t CabGet16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t CabGet32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void CabPut16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void CabPut32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// A header filled for writing: signature "MSCF", version 1.3, everything else 0.
CabHeader CabMakeHeader();
// True when the header carries the signature "MSCF".
bool CabHasSignature(const CabHeader& header);

// Encoders write exactly the record's fixed size (kCab...Size) into out and
// return that size. Reserve areas and names are written by the caller.
size_t CabEncodeHeader(const CabHeader& header, uint8_t* out);
size_t CabEncodeReserveSizes(const CabReserveSizes& sizes, uint8_t* out);
size_t CabEncodeFolderEntry(const CabFolderEntry& entry, uint8_t* out);
size_t CabEncodeFileEntry(const CabFileEntry& entry, uint8_t* out);
size_t CabEncodeDataHeader(const CabDataHeader& header, uint8_t* out);

// Decoders read the record at data[offset] of a buffer of size bytes.
CabFormatResult CabDecodeHeader(const uint8_t* data, size_t size, size_t offset, CabHeader* out);
CabFormatResult CabDecodeReserveSizes(const uint8_t* data, size_t size, size_t offset,
                                      CabReserveSizes* out);
CabFormatResult CabDecodeFolderEntry(const uint8_t* data, size_t size, size_t offset,
                                     CabFolderEntry* out);
CabFormatResult CabDecodeFileEntry(const uint8_t* data, size_t size, size_t offset,
                                   CabFileEntry* out);
CabFormatResult CabDecodeDataHeader(const uint8_t* data, size_t size, size_t offset,
                                    CabDataHeader* out);

// A NUL-terminated name at data[offset]: at most kCabMaxNameLength bytes before
// the NUL, which must lie inside the buffer. On success *length is the number of
// bytes before the NUL.
CabFormatResult CabDecodeName(const uint8_t* data, size_t size, size_t offset, size_t* length);

// A file entry with its name, as it lies in a cabinet: on success *name points
// at the NUL-terminated name inside data and *recordSize is 16 + name + NUL.
CabFormatResult CabDecodeFileRecord(const uint8_t* data, size_t size, size_t offset,
                                    CabFileEntry* entry, const char** name, size_t* recordSize);

// The cabinet checksum: each complete 4-byte little-endian group is XORed into
// the seed, then the 0 to 3 bytes left over are folded in.
uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed);

// The checksum of a data block: its compressed bytes first, then the encoded
// block header from the compressed-size field to the end of its reserve area
// (headerSize is 8 + data reserve; the checksum field itself is skipped).
uint32_t CabDataBlockChecksum(const uint8_t* header, size_t headerSize, const uint8_t* data,
                              size_t dataSize);

// Offset arithmetic.
// Size of the header with its reserve fields and header reserve area.
uint32_t CabHeaderSizeWith(bool reservePresent, uint32_t headerReserve);
// Offset of the first file entry: header, the name bytes (with their NULs) and
// the folder entries.
uint32_t CabFirstFileOffset(uint32_t headerSize, uint32_t nameBytes, uint32_t folderCount,
                            uint32_t folderReserve);
// Size of one file entry with a name of nameLength bytes (NUL added).
inline uint32_t CabFileRecordSize(uint32_t nameLength) {
    return kCabFileEntrySize + nameLength + 1;
}
