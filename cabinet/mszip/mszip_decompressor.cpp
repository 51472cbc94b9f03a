#include "cabinet/mszip/mszip_decompressor.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x4D44435Au;  // tells a live decompressor from anything else
constexpr uint32_t kMaxBlock = 32768;
constexpr uint32_t kSlack = 12;  // "CK" and two stored-block headers

// A table entry. op says what the entry is; bits is how many bits it consumes (for a
// sub-table link: the first-level bits); val is a literal, a base value or a sub-table
// offset. The decoding loop reads an entry as one little-endian 32-bit word: bits in the
// low byte, op in the next, val in the high half.
struct DecodeEntry {
    uint8_t bits;
    uint8_t op;
    uint16_t val;
};
static_assert(sizeof(DecodeEntry) == 4, "entries are read as words");

// op values: 0..13 are a length or distance base with that many extra bits.
constexpr uint8_t kOpLiteral = 16;
constexpr uint8_t kOpEnd = 32;
constexpr uint8_t kOpSub = 64;  // low 4 bits: sub-table index bits
constexpr uint8_t kOpInvalid = 128;

constexpr unsigned kLitRootBits = 10;
constexpr unsigned kDistRootBits = 6;
constexpr unsigned kCodeLenRootBits = 7;
// The fixed literal/length code's longest code is 9 bits: a first-level table of 9 bits
// decodes every symbol in one lookup.
constexpr unsigned kFixedLitRootBits = 9;
constexpr unsigned kFixedDistRootBits = 5;

// Table space for one dynamic block. Two-level tables of a complete code with lengths up
// to 15 need at most 592 entries for 30 distance symbols at 6 first-level bits (every
// sub-table sized just large enough for the codes under its prefix). For 286
// literal/length symbols at 10 bits: a sub-table of 2^k entries (k at most 15 - 10) holds a
// complete subtree of depth k, so at least k + 1 of the symbols; 2^k / (k + 1) is largest
// at k = 5, which bounds the sub-tables by 286 * 32 / 6 < 1536 entries behind the 1024
// first-level ones. Smaller space would refuse valid streams whose codes are deep.
constexpr unsigned kLitTableSpace = 1024 + 1536;
constexpr unsigned kDistTableSpace = 592;
constexpr unsigned kFixedLitTableSpace = 1u << kFixedLitRootBits;
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
    const DecodeEntry invalid = {1, kOpInvalid, 0};
    const unsigned used = count - perLength[0];
    int left = 1;
    for (unsigned len = 1; len <= 15; ++len) {
        left = (left << 1) - static_cast<int>(perLength[len]);
        if (left < 0) {
            return false;
        }
    }
    // A complete code sets every first-level entry; only the others leave gaps.
    if (left > 0 || used == 0) {
        for (unsigned i = 0; i < rootSize; ++i) {
            table[i] = invalid;
        }
    }
    if (used == 0) {
        return true;
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
    // The used symbols in canonical order: by length, then by symbol.
    uint16_t sorted[288 + 32];
    unsigned offset[16];
    offset[1] = 0;
    for (unsigned len = 1; len < 15; ++len) {
        offset[len + 1] = offset[len] + perLength[len];
    }
    for (unsigned sym = 0; sym < count; ++sym) {
        if (lengths[sym] != 0) {
            sorted[offset[lengths[sym]]++] = static_cast<uint16_t>(sym);
        }
    }
    unsigned code = 0;  // canonical code, most significant bit first
    unsigned at = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        for (unsigned k = 0; k < perLength[len]; ++k) {
            const unsigned sym = sorted[at++];
            // The code's len bits reversed: all 16 swapped in halves, then shifted down.
            unsigned reversed = code;
            reversed = (reversed >> 1 & 0x5555u) | (reversed & 0x5555u) << 1;
            reversed = (reversed >> 2 & 0x3333u) | (reversed & 0x3333u) << 2;
            reversed = (reversed >> 4 & 0x0F0Fu) | (reversed & 0x0F0Fu) << 4;
            reversed = ((reversed >> 8 & 0x00FFu) | (reversed & 0x00FFu) << 8) >> (16 - len);
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
                table[low] = DecodeEntry{static_cast<uint8_t>(rootBits),
                                         static_cast<uint8_t>(kOpSub | subBits),
                                         static_cast<uint16_t>(subBase)};
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

inline uint64_t load64(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
#else
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = v << 8 | p[i];
    }
    return v;
#endif
}

// The bit reader's state, copied into locals by the decoding loop.
struct BitState {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t buf;
    unsigned bits;
    unsigned phantom;  // zero bytes fed past the end of the input
};

// Bits the accumulator holds at least after a refill: enough for a literal/length code with
// its extra bits and a distance code with its extra bits (15 + 5 + 15 + 13 = 48).
constexpr unsigned kRefillBits = 56;

// Tops the accumulator up to at least kRefillBits. With 8 input bytes at hand (the only case
// QB_REFILL_WORD may be used in) it loads them
// as one word, whatever it holds already: the bits above the count are either zero or
// copies of the same input bits, so OR-ing is exact, and the position moves on by the whole
// bytes taken. Near the end it feeds bytes one at a time and, past the end, zero bytes that
// it counts; consuming any of them is refused when the block ends.
#define QB_REFILL_WORD(in, buf, bits)  \
    do {                               \
        (buf) |= load64(in) << (bits); \
        (in) += (63 - (bits)) >> 3;    \
        (bits) |= kRefillBits;         \
    } while (0)

#define QB_REFILL(in, end, buf, bits, phantom)                         \
    do {                                                               \
        if ((end) - (in) >= 8) {                                       \
            QB_REFILL_WORD(in, buf, bits);                             \
        } else {                                                       \
            while ((bits) <= kRefillBits) {                            \
                if ((in) < (end)) {                                    \
                    (buf) |= static_cast<uint64_t>(*(in)++) << (bits); \
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
    const uint32_t v = static_cast<uint32_t>(s.buf & ((1u << n) - 1));
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

// Output room and input the fast loop needs for one step: three literals or a match of up to
// 258 bytes with its word-wise overrun of up to 15 bytes, and two word refills of 8 bytes
// each. Within these margins it checks neither bound per symbol.
constexpr ptrdiff_t kFastOutputRoom = 3 + 258 + 16;
constexpr ptrdiff_t kFastInput = 16;
// A build for size (the extractor's head, QB_MSZIP_SMALL) leaves the fast loop out: the
// checked loop alone decodes the same streams.
#ifdef QB_MSZIP_SMALL
constexpr bool kFastLoop = false;
#else
constexpr bool kFastLoop = true;
#endif

// Copies a match in the fast loop, where at least kFastOutputRoom bytes of room remain, so
// that whole words may be written past its end. A source within this block's output is
// copied by words of 16 or 8 bytes when they cannot overlap (a distance of at least the
// word: each word reads bytes already written), as one repeated byte for distance 1, and byte by
// byte otherwise; one in the previous block's data takes the general way.
inline uint8_t* copyMatchFast(uint8_t* window, uint8_t* out, unsigned dist, unsigned len) {
    if (dist > static_cast<unsigned>(out - window)) {
        return copyMatch(window, out, dist, len);
    }
    const uint8_t* src = out - dist;
    uint8_t* const stop = out + len;
    if (dist >= 16) {
        do {
            std::memcpy(out, src, 16);
            out += 16;
            src += 16;
        } while (out < stop);
    } else if (dist >= 8) {
        do {
            std::memcpy(out, src, 8);
            out += 8;
            src += 8;
        } while (out < stop);
    } else if (dist == 1) {
        const uint64_t v = 0x0101010101010101ull * *src;
        do {
            std::memcpy(out, &v, 8);
            out += 8;
        } while (out < stop);
    } else {
        do {
            *out++ = *src++;
        } while (out < stop);
    }
    return stop;
}

// An entry as one word (see DecodeEntry): one load, then register work.
inline uint32_t entryWord(const DecodeEntry* table, uint64_t index) {
    uint32_t w;
    std::memcpy(&w, table + index, sizeof w);
#if !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
    w = static_cast<uint32_t>(table[index].bits) | static_cast<uint32_t>(table[index].op) << 8 |
        static_cast<uint32_t>(table[index].val) << 16;
#endif
    return w;
}

// One table lookup: the entry for the next code, its bits consumed (through a sub-table for
// a long code). The accumulator must hold enough bits for the longest code.
#define QB_DECODE(table, mask, buf, bits, e)                                                \
    do {                                                                                    \
        uint32_t w_ = entryWord((table), (buf) & (mask));                                   \
        if (w_ & (static_cast<uint32_t>(kOpSub) << 8)) {                                    \
            (buf) >>= (w_ & 0xFF);                                                          \
            (bits) -= (w_ & 0xFF);                                                          \
            w_ = entryWord((table), (w_ >> 16) + ((buf) & ((1u << ((w_ >> 8) & 15)) - 1))); \
        }                                                                                   \
        (buf) >>= (w_ & 0xFF);                                                              \
        (bits) -= (w_ & 0xFF);                                                              \
        (e).bits = static_cast<uint8_t>(w_);                                                \
        (e).op = static_cast<uint8_t>(w_ >> 8);                                             \
        (e).val = static_cast<uint16_t>(w_ >> 16);                                          \
    } while (0)

// Takes the n extra bits of a length or distance (n at most 13, and held by the accumulator).
inline unsigned takeExtra(uint64_t& buf, unsigned& bits, unsigned n) {
    const unsigned v = static_cast<unsigned>(buf & ((1u << n) - 1));
    buf >>= n;
    bits -= n;
    return v;
}

// Decodes the symbols of one fixed or dynamic block up to its end-of-block code or the
// limit. Bit state, input and output positions are kept in locals. While input and output
// room allow, a fast loop decodes up to three literals, or a length and distance pair, per word
// refill; the rest goes symbol by symbol with every bound checked.
BlockResult decodeSymbols(const DecodeEntry* litTable, unsigned litRoot,
                          const DecodeEntry* distTable, unsigned distRoot, BitState& s,
                          uint8_t* window, uint8_t*& outRef, uint8_t* limit) {
    const uint8_t* in = s.in;
    const uint8_t* const end = s.end;
    uint64_t buf = s.buf;
    unsigned bits = s.bits;
    unsigned phantom = s.phantom;
    uint8_t* out = outRef;
    const uint32_t litMask = (1u << litRoot) - 1;
    const uint32_t distMask = (1u << distRoot) - 1;
    BlockResult result = BlockResult::failed;

    for (;;) {
        DecodeEntry e;
        if (kFastLoop && end - in >= kFastInput && limit - out >= kFastOutputRoom) {
            QB_REFILL_WORD(in, buf, bits);
            QB_DECODE(litTable, litMask, buf, bits, e);
            if (e.op == kOpLiteral) {
                *out++ = static_cast<uint8_t>(e.val);
                // At least 56 - 15 bits are left: enough for the next code.
                QB_DECODE(litTable, litMask, buf, bits, e);
                if (e.op == kOpLiteral) {
                    *out++ = static_cast<uint8_t>(e.val);
                    // A third literal only when its code is in the first-level table: the
                    // 56 - 30 bits left hold it, but not a length code with its extra bits,
                    // so anything else waits for the next refill.
                    const uint32_t w = entryWord(litTable, buf & litMask);
                    if (((w >> 8) & 0xFF) == kOpLiteral) {
                        buf >>= (w & 0xFF);
                        bits -= (w & 0xFF);
                        *out++ = static_cast<uint8_t>(w >> 16);
                    }
                    continue;
                }
            }
            if (e.op >= kOpLiteral) {
                result = e.op == kOpEnd ? BlockResult::ended : BlockResult::failed;
                break;
            }
            const unsigned len = e.val + takeExtra(buf, bits, e.op);
            // Up to 35 bits may be gone: top up for the distance code and its extra bits.
            QB_REFILL_WORD(in, buf, bits);
            QB_DECODE(distTable, distMask, buf, bits, e);
            if (e.op >= kOpLiteral) {
                break;  // distance codes 30-31, or an empty distance code
            }
            out = copyMatchFast(window, out, e.val + takeExtra(buf, bits, e.op), len);
            continue;
        }

        QB_REFILL(in, end, buf, bits, phantom);
        QB_DECODE(litTable, litMask, buf, bits, e);
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
        // A length: at least 56 - 15 bits remain, enough for its 5 extra bits at most.
        const unsigned len = e.val + takeExtra(buf, bits, e.op);

        QB_REFILL(in, end, buf, bits, phantom);
        QB_DECODE(distTable, distMask, buf, bits, e);
        if (e.op >= kOpLiteral) {
            break;  // distance codes 30-31, or an empty distance code
        }
        // At least 56 - 15 bits remain, enough for 13 extra bits.
        const unsigned dist = e.val + takeExtra(buf, bits, e.op);
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
