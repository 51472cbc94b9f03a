#include "cabinet/mszip/mszip_decompressor.h"

#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x4D44435Au;  // tells a live decompressor from anything else
constexpr uint32_t kMaxBlock = 32768;
constexpr uint32_t kSlack = 12;  // "CK" and two stored-block headers

// A table entry. op says what the entry is; bits is how many bits it consumes (for a
// sub-table link: the first-level bits); val is a literal, a base value or a sub-table
// offset.
struct DecodeEntry {
    uint8_t op;
    uint8_t bits;
    uint16_t val;
};

// op values: 0..13 are a length or distance base with that many extra bits.
constexpr uint8_t kOpLiteral = 16;
constexpr uint8_t kOpEnd = 32;
constexpr uint8_t kOpSub = 64;  // low 4 bits: sub-table index bits
constexpr uint8_t kOpInvalid = 128;

constexpr unsigned kLitRootBits = 9;
constexpr unsigned kDistRootBits = 6;
constexpr unsigned kCodeLenRootBits = 7;
constexpr unsigned kFixedLitRootBits = 7;
constexpr unsigned kFixedDistRootBits = 5;

// Table space for one dynamic block. Two-level tables of a complete code with lengths up
// to 15 need at most 852 entries for 286 literal/length symbols at 9 first-level bits and
// 592 for 30 distance symbols at 6 (every sub-table sized just large enough for the codes
// under its prefix). Smaller space would refuse valid streams whose codes are deep.
constexpr unsigned kLitTableSpace = 852;
constexpr unsigned kDistTableSpace = 592;
// The fixed literal/length code at 7 first-level bits: 128 + 76 * 2 + 28 * 4.
constexpr unsigned kFixedLitTableSpace = 392;
constexpr unsigned kFixedDistTableSpace = 32;

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

enum class CodeKind { codeLengths, literals, distances };

}  // namespace

struct MszipDecompressor {
    uint32_t magic;
    uint32_t blockSize;
    MszipDecompressFreeFn release;
    bool fixedBuilt;
    bool lastBlock;  // final bit of the deflate block being decoded
    DecodeEntry fixedLit[kFixedLitTableSpace];
    DecodeEntry fixedDist[kFixedDistTableSpace];
    // The code-length code lives at the start of this space until the literal/length
    // code replaces it.
    DecodeEntry lit[kLitTableSpace];
    DecodeEntry dist[kDistTableSpace];
    uint8_t lengths[288 + 32];
};

namespace {

DecodeEntry symbolEntry(CodeKind kind, unsigned symbol, unsigned bits) {
    DecodeEntry e;
    e.bits = static_cast<uint8_t>(bits);
    e.op = kOpInvalid;
    e.val = 0;
    switch (kind) {
        case CodeKind::codeLengths:
            e.op = kOpLiteral;
            e.val = static_cast<uint16_t>(symbol);
            break;
        case CodeKind::literals:
            if (symbol < 256) {
                e.op = kOpLiteral;
                e.val = static_cast<uint16_t>(symbol);
            } else if (symbol == 256) {
                e.op = kOpEnd;
            } else if (symbol < 286) {
                e.op = kLengthExtra[symbol - 257];
                e.val = kLengthBase[symbol - 257];
            }
            break;
        case CodeKind::distances:
            if (symbol < 30) {
                e.op = kDistExtra[symbol];
                e.val = kDistBase[symbol];
            }
            break;
    }
    return e;
}

// Builds a two-level decoding table from code lengths (canonical Huffman codes as
// deflate assigns them, stored bit-reversed because the stream is read least significant
// bit first). An empty code gives a table of invalid entries. Over-subscribed codes fail;
// incomplete ones fail unless they are a single code of length 1, or allowIncomplete
// (the fixed distance code, whose codes 30 and 31 are simply invalid).
bool buildTable(const uint8_t* lengths, unsigned count, CodeKind kind, unsigned rootBits,
                DecodeEntry* table, unsigned space, bool allowIncomplete) {
    unsigned perLength[16] = {0};
    for (unsigned i = 0; i < count; ++i) {
        ++perLength[lengths[i]];
    }
    const unsigned rootSize = 1u << rootBits;
    const DecodeEntry invalid = {kOpInvalid, 1, 0};
    for (unsigned i = 0; i < rootSize; ++i) {
        table[i] = invalid;
    }
    const unsigned used = count - perLength[0];
    if (used == 0) {
        return true;
    }
    int left = 1;
    for (unsigned len = 1; len <= 15; ++len) {
        left = (left << 1) - static_cast<int>(perLength[len]);
        if (left < 0) {
            return false;
        }
    }
    if (left > 0 && !allowIncomplete && !(used == 1 && perLength[1] == 1)) {
        return false;
    }

    unsigned remaining[16];
    std::memcpy(remaining, perLength, sizeof(remaining));
    unsigned next = rootSize;  // first free entry for sub-tables
    unsigned prefix = ~0u;     // first-level index of the current sub-table
    unsigned subBase = 0;
    unsigned subBits = 0;
    unsigned code = 0;  // canonical code, most significant bit first
    for (unsigned len = 1; len <= 15; ++len) {
        for (unsigned sym = 0; sym < count; ++sym) {
            if (lengths[sym] != len) {
                continue;
            }
            unsigned reversed = 0;
            for (unsigned b = 0; b < len; ++b) {
                reversed |= ((code >> b) & 1u) << (len - 1 - b);
            }
            ++code;
            --remaining[len];
            if (len <= rootBits) {
                const DecodeEntry e = symbolEntry(kind, sym, len);
                for (unsigned i = reversed; i < rootSize; i += 1u << len) {
                    table[i] = e;
                }
                continue;
            }
            const unsigned low = reversed & (rootSize - 1);
            if (low != prefix) {
                // The codes sharing this prefix follow one another in canonical order:
                // size the sub-table so that they fill it exactly.
                prefix = low;
                subBits = len - rootBits;
                int avail = 1 << subBits;
                unsigned l = len;
                for (;;) {
                    avail -= static_cast<int>(remaining[l] + (l == len ? 1 : 0));
                    if (avail <= 0 || l == 15) {
                        break;
                    }
                    ++l;
                    ++subBits;
                    avail <<= 1;
                }
                if (next + (1u << subBits) > space) {
                    return false;
                }
                subBase = next;
                next += 1u << subBits;
                table[low] =
                    DecodeEntry{static_cast<uint8_t>(kOpSub | subBits),
                                static_cast<uint8_t>(rootBits), static_cast<uint16_t>(subBase)};
                for (unsigned i = 0; i < (1u << subBits); ++i) {
                    table[subBase + i] = invalid;
                }
            }
            const unsigned drop = len - rootBits;
            if (drop > subBits) {
                return false;  // cannot happen for a complete code; kept as a guard
            }
            const DecodeEntry e = symbolEntry(kind, sym, drop);
            for (unsigned i = reversed >> rootBits; i < (1u << subBits); i += 1u << drop) {
                table[subBase + i] = e;
            }
        }
        code <<= 1;
    }
    return true;
}

void buildFixedTables(MszipDecompressor* d) {
    uint8_t lengths[288];
    unsigned i = 0;
    for (; i < 144; ++i)
        lengths[i] = 8;
    for (; i < 256; ++i)
        lengths[i] = 9;
    for (; i < 280; ++i)
        lengths[i] = 7;
    for (; i < 288; ++i)
        lengths[i] = 8;
    buildTable(lengths, 288, CodeKind::literals, kFixedLitRootBits, d->fixedLit,
               kFixedLitTableSpace, false);
    for (i = 0; i < 30; ++i)
        lengths[i] = 5;
    buildTable(lengths, 30, CodeKind::distances, kFixedDistRootBits, d->fixedDist,
               kFixedDistTableSpace, true);
    d->fixedBuilt = true;
}

inline uint32_t load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The bit reader's state, copied into locals by the decoding loop.
struct BitState {
    const uint8_t* in;
    const uint8_t* end;
    uint32_t buf;
    unsigned bits;
    unsigned phantom;  // zero bytes fed past the end of the input
};

// Tops the accumulator up to at least 24 bits. Past the end of the input it feeds zero
// bytes and counts them; consuming any of them is refused when the block ends.
#define QB_REFILL(in, end, buf, bits, phantom)                         \
    do {                                                               \
        if ((end) - (in) >= 4) {                                       \
            (buf) |= load32(in) << (bits);                             \
            (in) += (31 - (bits)) >> 3;                                \
            (bits) |= 24;                                              \
        } else {                                                       \
            while ((bits) <= 24) {                                     \
                if ((in) < (end)) {                                    \
                    (buf) |= static_cast<uint32_t>(*(in)++) << (bits); \
                } else {                                               \
                    ++(phantom);                                       \
                }                                                      \
                (bits) += 8;                                           \
            }                                                          \
        }                                                              \
    } while (0)

uint32_t takeBits(BitState& s, unsigned n) {
    if (s.bits < n) {
        QB_REFILL(s.in, s.end, s.buf, s.bits, s.phantom);
    }
    const uint32_t v = s.buf & ((1u << n) - 1);
    s.buf >>= n;
    s.bits -= n;
    return v;
}

// Reads the code lengths of a dynamic block and builds its two codes.
bool readDynamicCodes(MszipDecompressor* d, BitState& s) {
    const unsigned litCount = takeBits(s, 5) + 257;
    const unsigned distCount = takeBits(s, 5) + 1;
    const unsigned codeLenCount = takeBits(s, 4) + 4;
    if (litCount > 286 || distCount > 30) {
        return false;
    }
    uint8_t* lengths = d->lengths;
    for (unsigned i = 0; i < 19; ++i) {
        lengths[kCodeLengthOrder[i]] = 0;
    }
    for (unsigned i = 0; i < codeLenCount; ++i) {
        lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(takeBits(s, 3));
    }
    if (!buildTable(lengths, 19, CodeKind::codeLengths, kCodeLenRootBits, d->lit, kLitTableSpace,
                    false)) {
        return false;
    }
    const unsigned total = litCount + distCount;
    unsigned i = 0;
    while (i < total) {
        if (s.bits < 7) {
            QB_REFILL(s.in, s.end, s.buf, s.bits, s.phantom);
        }
        const DecodeEntry e = d->lit[s.buf & ((1u << kCodeLenRootBits) - 1)];
        if (e.op != kOpLiteral) {
            return false;
        }
        s.buf >>= e.bits;
        s.bits -= e.bits;
        const unsigned sym = e.val;
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (i == 0) {
                return false;  // nothing to repeat
            }
            value = lengths[i - 1];
            repeat = 3 + takeBits(s, 2);
        } else if (sym == 17) {
            repeat = 3 + takeBits(s, 3);
        } else {
            repeat = 11 + takeBits(s, 7);
        }
        if (repeat > total - i) {
            return false;
        }
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    // A literal/length code without the end-of-block code can never finish its block.
    if (lengths[256] == 0) {
        return false;
    }
    return buildTable(lengths, litCount, CodeKind::literals, kLitRootBits, d->lit, kLitTableSpace,
                      false) &&
           buildTable(lengths + litCount, distCount, CodeKind::distances, kDistRootBits, d->dist,
                      kDistTableSpace, false);
}

enum class BlockResult { ended, limitReached, failed };

// Copies a match of length len from distance dist, stopping at the limit. The source
// may lie in the previous block's data behind the current position and wrap to the
// start of the buffer; bytes are copied in order so overlapping copies repeat.
inline uint8_t* copyMatch(uint8_t* window, uint8_t* out, unsigned dist, unsigned len) {
    const unsigned produced = static_cast<unsigned>(out - window);
    if (dist <= produced) {
        const uint8_t* src = out - dist;
        if (dist >= len) {
            std::memcpy(out, src, len);
            return out + len;
        }
        if (dist == 1) {
            std::memset(out, *src, len);
            return out + len;
        }
        for (unsigned i = 0; i < len; ++i) {
            out[i] = src[i];
        }
        return out + len;
    }
    const uint8_t* src = out + kMaxBlock - dist;  // in the previous block, at or after out
    const uint8_t* windowEnd = window + kMaxBlock;
    if (src + len <= windowEnd) {
        // The source lies at or after the destination, so a forward move is exact.
        std::memmove(out, src, len);
        return out + len;
    }
    for (unsigned i = 0; i < len; ++i) {
        *out++ = *src++;
        if (src == windowEnd) {
            src = window;
        }
    }
    return out;
}

// Decodes the symbols of one fixed or dynamic block up to its end-of-block code or the
// limit. Bit state, input and output positions are kept in locals.
BlockResult decodeSymbols(const DecodeEntry* litTable, unsigned litRoot,
                          const DecodeEntry* distTable, unsigned distRoot, BitState& s,
                          uint8_t* window, uint8_t*& outRef, uint8_t* limit) {
    const uint8_t* in = s.in;
    const uint8_t* const end = s.end;
    uint32_t buf = s.buf;
    unsigned bits = s.bits;
    unsigned phantom = s.phantom;
    uint8_t* out = outRef;
    const uint32_t litMask = (1u << litRoot) - 1;
    const uint32_t distMask = (1u << distRoot) - 1;
    BlockResult result = BlockResult::failed;

    for (;;) {
        QB_REFILL(in, end, buf, bits, phantom);
        DecodeEntry e = litTable[buf & litMask];
        if (e.op & kOpSub) {
            buf >>= e.bits;
            bits -= e.bits;
            e = litTable[e.val + (buf & ((1u << (e.op & 15)) - 1))];
        }
        buf >>= e.bits;
        bits -= e.bits;
        if (e.op == kOpLiteral) {
            *out++ = static_cast<uint8_t>(e.val);
            if (out == limit) {
                result = BlockResult::limitReached;
                break;
            }
            continue;
        }
        if (e.op >= kOpLiteral) {
            result = e.op == kOpEnd ? BlockResult::ended : BlockResult::failed;
            break;
        }
        // A length: at least 24 - 15 bits remain, enough for its 5 extra bits at most.
        unsigned len = e.val + (buf & ((1u << e.op) - 1));
        buf >>= e.op;
        bits -= e.op;

        QB_REFILL(in, end, buf, bits, phantom);
        e = distTable[buf & distMask];
        if (e.op & kOpSub) {
            buf >>= e.bits;
            bits -= e.bits;
            e = distTable[e.val + (buf & ((1u << (e.op & 15)) - 1))];
        }
        buf >>= e.bits;
        bits -= e.bits;
        if (e.op >= kOpLiteral) {
            break;  // distance codes 30-31, or an empty distance code
        }
        if (bits < e.op) {
            QB_REFILL(in, end, buf, bits, phantom);
        }
        const unsigned dist = e.val + (buf & ((1u << e.op) - 1));
        buf >>= e.op;
        bits -= e.op;

        const unsigned room = static_cast<unsigned>(limit - out);
        if (len >= room) {
            out = copyMatch(window, out, dist, room);
            result = BlockResult::limitReached;
            break;
        }
        out = copyMatch(window, out, dist, len);
    }

    s.in = in;
    s.buf = buf;
    s.bits = bits;
    s.phantom = phantom;
    outRef = out;
    return result;
}

// A stored block: length, complement, then the bytes straight from the input.
BlockResult copyStored(BitState& s, uint8_t*& out, uint8_t* limit) {
    s.buf >>= s.bits & 7;
    s.bits -= s.bits & 7;
    const uint32_t len = takeBits(s, 16);
    const uint32_t complement = takeBits(s, 16);
    if (len + complement != 0xFFFF || s.phantom * 8 > s.bits) {
        return BlockResult::failed;
    }
    const uint32_t buffered = s.bits / 8 - s.phantom;
    if (len > buffered + static_cast<uint32_t>(s.end - s.in)) {
        return BlockResult::failed;
    }
    uint32_t left = len;
    while (left > 0 && s.bits > 0) {
        if (out == limit) {
            return BlockResult::limitReached;
        }
        *out++ = static_cast<uint8_t>(s.buf);
        s.buf >>= 8;
        s.bits -= 8;
        --left;
    }
    if (s.bits == 0) {
        // Bits above the count may hold look-ahead copies of bytes about to be skipped.
        s.buf = 0;
        s.phantom = 0;
    }
    const uint32_t room = static_cast<uint32_t>(limit - out);
    const uint32_t n = left < room ? left : room;
    std::memcpy(out, s.in, n);
    out += n;
    s.in += left;
    if (out == limit) {
        return BlockResult::limitReached;
    }
    return BlockResult::ended;
}

}  // namespace

const char* mszipDecompressStatusName(int status) {
    switch (status) {
        case mszipDecompressOk:
            return "ok";
        case mszipDecompressNoMemory:
            return "no memory";
        case mszipDecompressNotDecompressor:
            return "not a decompressor";
        case mszipDecompressInputTooLong:
            return "compressed block too long";
        case mszipDecompressBadData:
            return "bad compressed data";
        default:
            return "unknown";
    }
}

int mszipDecompressCreate(uint32_t blockSize, MszipDecompressAllocFn alloc,
                          MszipDecompressFreeFn release, MszipDecompressor** decompressor,
                          uint32_t* compressedBufferSize) {
    if (alloc == nullptr || release == nullptr || decompressor == nullptr) {
        return mszipDecompressNotDecompressor;
    }
    *decompressor = nullptr;
    if (blockSize == 0 || blockSize > kMaxBlock) {
        blockSize = kMaxBlock;
    }
    void* block = alloc(static_cast<uint32_t>(sizeof(MszipDecompressor)));
    if (block == nullptr) {
        return mszipDecompressNoMemory;
    }
    MszipDecompressor* d = static_cast<MszipDecompressor*>(block);
    std::memset(static_cast<void*>(d), 0, sizeof(MszipDecompressor));
    d->magic = kMagic;
    d->blockSize = blockSize;
    d->release = release;
    *decompressor = d;
    if (compressedBufferSize != nullptr) {
        *compressedBufferSize = blockSize + kSlack;
    }
    return mszipDecompressOk;
}

int mszipDecompress(MszipDecompressor* d, const uint8_t* compressed, uint32_t compressedLength,
                    uint8_t* output, uint32_t* outputSize) {
    if (d == nullptr || d->magic != kMagic) {
        return mszipDecompressNotDecompressor;
    }
    if (compressedLength > d->blockSize + kSlack) {
        return mszipDecompressInputTooLong;
    }
    if (output == nullptr || outputSize == nullptr ||
        (compressed == nullptr && compressedLength > 0)) {
        return mszipDecompressBadData;
    }
    const uint32_t requested = *outputSize;
    *outputSize = 0;
    if (compressedLength < 2 || compressed[0] != 'C' || compressed[1] != 'K') {
        return mszipDecompressBadData;
    }
    const uint32_t limitSize = requested < d->blockSize ? requested : d->blockSize;

    BitState s;
    s.in = compressed + 2;
    s.end = compressed + compressedLength;
    s.buf = 0;
    s.bits = 0;
    s.phantom = 0;
    uint8_t* out = output;
    uint8_t* const limit = output + limitSize;

    d->lastBlock = false;
    while (!d->lastBlock && out != limit) {
        d->lastBlock = takeBits(s, 1) != 0;
        const uint32_t type = takeBits(s, 2);
        BlockResult r;
        if (type == 0) {
            r = copyStored(s, out, limit);
        } else if (type == 1) {
            if (!d->fixedBuilt) {
                buildFixedTables(d);
            }
            r = decodeSymbols(d->fixedLit, kFixedLitRootBits, d->fixedDist, kFixedDistRootBits, s,
                              output, out, limit);
        } else if (type == 2) {
            if (!readDynamicCodes(d, s)) {
                return mszipDecompressBadData;
            }
            r = decodeSymbols(d->lit, kLitRootBits, d->dist, kDistRootBits, s, output, out, limit);
        } else {
            return mszipDecompressBadData;
        }
        if (r == BlockResult::failed) {
            return mszipDecompressBadData;
        }
        if (r == BlockResult::limitReached) {
            break;
        }
    }
    // Only look-ahead may reach past the input: a block that used bits beyond its last
    // byte was cut short, and whatever it decoded from the zero fill is not its data.
    if (s.phantom * 8 > s.bits) {
        return mszipDecompressBadData;
    }
    *outputSize = static_cast<uint32_t>(out - output);
    return mszipDecompressOk;
}

int mszipDecompressReset(MszipDecompressor* d) {
    if (d == nullptr || d->magic != kMagic) {
        return mszipDecompressNotDecompressor;
    }
    return mszipDecompressOk;
}

int mszipDecompressDestroy(MszipDecompressor* d) {
    if (d == nullptr || d->magic != kMagic) {
        return mszipDecompressNotDecompressor;
    }
    d->magic = 0;
    MszipDecompressFreeFn release = d->release;
    release(d);
    return mszipDecompressOk;
}
