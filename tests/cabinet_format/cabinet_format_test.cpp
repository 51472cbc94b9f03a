#include "cabinet/format/cabinet_format.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(CabChecksum, FoldsWordsThenTheLeftOverBytes) {
    struct Case {
        std::string input;
        uint32_t seed;
        uint32_t expected;
    } cases[] = {
        {"", 0, 0},
        {"", 0x12345678, 0x12345678},
        {"a", 0, 0x00000061},
        {"ab", 0, 0x00006162},
        {"abc", 0, 0x00616263},
        {"abcd", 0, 0x64636261},
        {"abcde", 0, 0x64636204},
        {"abcdabcd", 0, 0},
        {"abcd", 0x64636261, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = Bytes(c.input);
        EXPECT_EQ(c.expected, CabChecksum(b.data(), b.size(), c.seed)) << '"' << c.input << '"';
    }
}

TEST(CabChecksum, DataBlockCoversDataThenHeaderAfterTheChecksumField) {
    uint8_t header[9] = {};
    CabEncodeDataHeader({0xDEADBEEF, 3, 3}, header);
    const uint8_t data[] = {'a', 'b', 'c'};
    // The checksum field itself does not take part.
    EXPECT_EQ(0x00626260u, CabDataBlockChecksum(header, 8, data, 3));
    // A data reserve byte is folded in after the sizes, as a left-over byte.
    header[8] = 0x07;
    EXPECT_EQ(0x00626267u, CabDataBlockChecksum(header, 9, data, 3));
}

TEST(CabFolderIndex, MarksAndTheirTwoTests) {
    struct Case {
        uint16_t index;
        bool beganEarlier;
        bool continuesLater;
    } cases[] = {
        {0, false, false},     {1, false, false},    {0xFFFC, false, false}, {0xFFFD, true, false},
        {0xFFFE, false, true}, {0xFFFF, true, true}, {0x7FFD, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.beganEarlier, CabBeganInPrevious(c.index)) << std::hex << c.index;
        EXPECT_EQ(c.continuesLater, CabContinuesToNext(c.index)) << std::hex << c.index;
    }
    EXPECT_EQ(kCabFolderContinuedPrevAndNext,
              kCabFolderContinuedFromPrev | kCabFolderContinuedToNext);
}

// The smallest useful cabinet: one 3-byte file "a.txt" holding "abc" in one
// stored folder, laid out record by record.
std::vector<uint8_t> BuildOneFileCabinet() {
    std::vector<uint8_t> cab(77, 0xCC);
    const uint32_t headerSize = CabHeaderSizeWith(false, 0);
    const uint32_t filesOffset = CabFirstFileOffset(headerSize, 0, 1, 0);
    const uint32_t dataOffset = filesOffset + CabFileRecordSize(5);

    CabHeader h = CabMakeHeader();
    h.cabinetSize = 77;
    h.filesOffset = filesOffset;
    h.folderCount = 1;
    h.fileCount = 1;
    size_t at = CabEncodeHeader(h, cab.data());
    at += CabEncodeFolderEntry({dataOffset, 1, kCabCompressNone}, cab.data() + at);
    at += CabEncodeFileEntry({3, 0, 0, 0, 0, 0}, cab.data() + at);
    std::memcpy(cab.data() + at, "a.txt", 6);
    at += 6;
    uint8_t* block = cab.data() + at;
    at += CabEncodeDataHeader({0, 3, 3}, block);
    std::memcpy(cab.data() + at, "abc", 3);
    CabPut32(block, CabDataBlockChecksum(block, kCabDataHeaderSize, block + 8, 3));
    return cab;
}

TEST(CabRecords, OneFileCabinetIs77BytesFieldByField) {
    const std::vector<uint8_t> cab = BuildOneFileCabinet();
    const uint8_t expected[77] = {
        // header
        'M', 'S', 'C', 'F', 0, 0, 0, 0, 77, 0, 0, 0, 0, 0, 0, 0,  //
        44, 0, 0, 0, 0, 0, 0, 0, 3, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0,
        // folder entry at 36: first block at 66, one block, stored
        66, 0, 0, 0, 1, 0, 0, 0,
        // file entry at 44: size 3, offset 0, folder 0, date, time, attributes, name
        3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', '.', 't', 'x', 't', 0,
        // data block at 66: checksum 0x00626260, sizes 3 and 3, "abc"
        0x60, 0x62, 0x62, 0x00, 3, 0, 3, 0, 'a', 'b', 'c'};
    ASSERT_EQ(77u, cab.size());
    EXPECT_EQ(0, std::memcmp(expected, cab.data(), 77));

    // And back: every record decodes to what was encoded.
    CabHeader h;
    ASSERT_EQ(kCabFormatOk, CabDecodeHeader(cab.data(), cab.size(), 0, &h));
    EXPECT_TRUE(CabHasSignature(h));
    EXPECT_EQ(77u, h.cabinetSize);
    EXPECT_EQ(44u, h.filesOffset);
    EXPECT_EQ(3, h.versionMinor);
    EXPECT_EQ(1, h.versionMajor);
    EXPECT_EQ(1, h.folderCount);
    EXPECT_EQ(1, h.fileCount);
    CabFolderEntry folder;
    ASSERT_EQ(kCabFormatOk, CabDecodeFolderEntry(cab.data(), cab.size(), 36, &folder));
    EXPECT_EQ(66u, folder.firstBlockOffset);
    EXPECT_EQ(1, folder.blockCount);
    EXPECT_EQ(kCabCompressNone, folder.compressionType);
    CabFileEntry file;
    const char* name = nullptr;
    size_t recordSize = 0;
    ASSERT_EQ(kCabFormatOk,
              CabDecodeFileRecord(cab.data(), cab.size(), 44, &file, &name, &recordSize));
    EXPECT_EQ(3u, file.size);
    EXPECT_EQ(0u, file.folderOffset);
    EXPECT_EQ(0, file.folderIndex);
    EXPECT_STREQ("a.txt", name);
    EXPECT_EQ(22u, recordSize);
    CabDataHeader block;
    ASSERT_EQ(kCabFormatOk, CabDecodeDataHeader(cab.data(), cab.size(), 66, &block));
    EXPECT_EQ(0x00626260u, block.checksum);
    EXPECT_EQ(3, block.compressedSize);
    EXPECT_EQ(3, block.uncompressedSize);
}

TEST(CabRecords, FileEntryFieldsRoundTripAtTheirOffsets) {
    uint8_t out[16];
    CabEncodeFileEntry({0x04030201, 0x08070605, 0xFFFE, 0x5A21, 0x6C3F, 0x61}, out);
    const uint8_t expected[16] = {1,    2,    3,    4,    5,    6,    7,    8,
                                  0xFE, 0xFF, 0x21, 0x5A, 0x3F, 0x6C, 0x61, 0};
    EXPECT_EQ(0, std::memcmp(expected, out, 16));
    CabFileEntry e;
    ASSERT_EQ(kCabFormatOk, CabDecodeFileEntry(out, 16, 0, &e));
    EXPECT_EQ(0x04030201u, e.size);
    EXPECT_EQ(0x08070605u, e.folderOffset);
    EXPECT_EQ(0xFFFE, e.folderIndex);
    EXPECT_EQ(0x5A21, e.date);
    EXPECT_EQ(0x6C3F, e.time);
    EXPECT_EQ(0x61, e.attributes);

    uint8_t reserve[4];
    CabEncodeReserveSizes({0x1234, 7, 9}, reserve);
    const uint8_t expectedReserve[4] = {0x34, 0x12, 7, 9};
    EXPECT_EQ(0, std::memcmp(expectedReserve, reserve, 4));
    CabReserveSizes s;
    ASSERT_EQ(kCabFormatOk, CabDecodeReserveSizes(reserve, 4, 0, &s));
    EXPECT_EQ(0x1234, s.headerReserve);
    EXPECT_EQ(7, s.folderReserve);
    EXPECT_EQ(9, s.dataReserve);
}

TEST(CabOffsets, ReserveFieldsMoveFoldersAndFiles) {
    struct Case {
        bool reserve;
        uint32_t headerReserve, folderReserve, nameBytes, folders;
        uint32_t headerSize, firstFile;
    } cases[] = {
        {false, 0, 0, 0, 1, 36, 44},
        {true, 0, 0, 0, 1, 40, 48},    // only a data reserve: 4 bytes of sizes
        {true, 0, 1, 0, 2, 40, 58},    // folder entries of 9 bytes
        {true, 6, 0, 0, 1, 46, 54},    // header reserve area
        {false, 0, 0, 10, 1, 36, 54},  // previous cabinet and disk names "c1.cab\0d1\0"
        {true, 65535, 255, 4, 3, 65575, 65575 + 4 + 3 * 263},
    };
    for (const Case& c : cases) {
        uint32_t h = CabHeaderSizeWith(c.reserve, c.headerReserve);
        EXPECT_EQ(c.headerSize, h);
        EXPECT_EQ(c.firstFile, CabFirstFileOffset(h, c.nameBytes, c.folders, c.folderReserve));
    }
    EXPECT_EQ(22u, CabFileRecordSize(5));
}

TEST(CabDecode, ShortBuffersAndOffsetsPastTheEndFail) {
    std::vector<uint8_t> cab = BuildOneFileCabinet();
    const uint8_t* d = cab.data();
    CabHeader h;
    CabFolderEntry fo;
    CabFileEntry fi;
    CabDataHeader dh;
    CabReserveSizes rs;
    struct Case {
        const char* what;
        CabFormatResult got;
        CabFormatResult expected;
    } cases[] = {
        {"header from 35 bytes", CabDecodeHeader(d, 35, 0, &h), kCabFormatTruncated},
        {"header from nothing", CabDecodeHeader(d, 0, 0, &h), kCabFormatTruncated},
        {"header past end", CabDecodeHeader(d, 77, 78, &h), kCabFormatOffsetPastEnd},
        {"header at huge offset", CabDecodeHeader(d, 77, SIZE_MAX, &h), kCabFormatOffsetPastEnd},
        {"folder near end", CabDecodeFolderEntry(d, 77, 70, &fo), kCabFormatTruncated},
        {"folder at end", CabDecodeFolderEntry(d, 77, 77, &fo), kCabFormatTruncated},
        {"file entry cut", CabDecodeFileEntry(d, 59, 44, &fi), kCabFormatTruncated},
        {"data header cut", CabDecodeDataHeader(d, 73, 66, &dh), kCabFormatTruncated},
        {"data header past end", CabDecodeDataHeader(d, 77, 100, &dh), kCabFormatOffsetPastEnd},
        {"reserve cut", CabDecodeReserveSizes(d, 3, 0, &rs), kCabFormatTruncated},
        {"exact fit", CabDecodeDataHeader(d, 74, 66, &dh), kCabFormatOk},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, c.got) << c.what;
    }
}

TEST(CabDecode, NamesNeedANulWithin256Bytes) {
    struct Case {
        size_t nameBytes;  // bytes before the NUL (or before the end)
        bool nul;          // a NUL follows them
        CabFormatResult expected;
        size_t length;
    } cases[] = {
        {0, true, kCabFormatOk, 0},
        {5, true, kCabFormatOk, 5},
        {255, true, kCabFormatOk, 255},
        {256, true, kCabFormatNameUnterminated, 0},
        {300, false, kCabFormatNameUnterminated, 0},
        {10, false, kCabFormatTruncated, 0},  // buffer ends first
        {255, false, kCabFormatTruncated, 0},
    };
    for (const Case& c : cases) {
        // An exactly sized heap buffer, so a read past it shows under ASan.
        std::vector<uint8_t> buf(c.nameBytes, 'n');
        if (c.nul) {
            buf.push_back(0);
        }
        size_t length = 99;
        CabFormatResult r = CabDecodeName(buf.data(), buf.size(), 0, &length);
        EXPECT_EQ(c.expected, r) << c.nameBytes;
        if (r == kCabFormatOk) {
            EXPECT_EQ(c.length, length);
        }
    }
    size_t length = 0;
    uint8_t one = 0;
    EXPECT_EQ(kCabFormatOffsetPastEnd, CabDecodeName(&one, 1, 2, &length));

    // A whole file record whose name runs to the end of the buffer.
    std::vector<uint8_t> cab = BuildOneFileCabinet();
    CabFileEntry e;
    const char* name = nullptr;
    size_t recordSize = 0;
    EXPECT_EQ(kCabFormatTruncated, CabDecodeFileRecord(cab.data(), 65, 44, &e, &name, &recordSize));
    EXPECT_EQ(kCabFormatOk, CabDecodeFileRecord(cab.data(), 66, 44, &e, &name, &recordSize));
}

TEST(CabRecords, SignatureIsCheckedByteForByte) {
    CabHeader h = CabMakeHeader();
    EXPECT_TRUE(CabHasSignature(h));
    const char* bad[] = {"!CAB", "MSCE", "mscf", "\0SCF"};
    for (const char* s : bad) {
        std::memcpy(h.signature, s, 4);
        EXPECT_FALSE(CabHasSignature(h)) << s;
    }
}

}  // namespace
