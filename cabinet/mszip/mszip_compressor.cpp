#include "cabinet/mszip/mszip_compressor.h"
#include "cabinet/mszip/mszip_enc_tree.h"

#include <cstring>
#include <new>

namespace {

constexpr uint32_t kMagic = 0x4D5A4345;  // marks a live compressor
constexpr uint32_t kHalf = 32768;
constexpr uint32_t kWindowSize = 65536;
constexpr uint32_t kWindowPad = 16;  // word-wise compares may read a little past the end
constexpr uint32_t kHashMask = 0x7FFF;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kMaxDist = 32506;  // leaves room for a full look-ahead within 32768
constexpr uint32_t kWindowEnd = 65533;
constexpr uint32_t kMaxChain = 4096;
constexpr uint32_t kLazyLimit = 32;
constexpr uint32_t kTooFar = 4096;
constexpr uint32_t kSymbolLimit = 32767;
// The store decision: blocks below kStoreTrialMin always take the full search; a block is
// stored without one only when literals alone would cost at least kStoreMargin bytes more
// than storing it, and each 4-byte repeat the trial finds may save up to kRepeatSaving.
constexpr uint32_t kStoreTrialMin = 8192;
constexpr uint32_t kStoreSample = 4096;
constexpr uint32_t kStoreMargin = 16;
constexpr uint32_t kRepeatSaving = 4;

constexpr int kLitCodes = 286;
constexpr int kFixedLitCodes = 288;
constexpr int kDistCodes = 30;
constexpr int kClCodes = 19;
constexpr int kEndOfBlock = 256;

const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Length bases, less the minimum match of 3.
const uint8_t kLengthBase[29] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20, 24,
                                 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 255};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Distance bases, less 1.
const uint16_t kDistBase[30] = {0,    1,    2,    3,    4,    6,    8,    12,    16,    24,
                                32,   48,   64,   96,   128,  192,  256,  384,   512,   768,
                                1024, 1536, 2048, 3072, 4096, 6144, 8192, 12288, 16384, 24576};
const uint8_t kClExtra[kClCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
const uint8_t kClOrder[kClCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

}  // namespace

struct MszipCompressor {
    uint32_t magic;
    uint32_t blockSize;
    MszipCompressFreeFn release;
    bool history;

    uint8_t window[kWindowSize + kWindowPad];
    uint16_t head[kHalf];
    uint16_t savedHead[kHalf];  // head before a store trial that turned out to be wrong
    // Chain links indexed by the whole window position rather than modulo 32768: the links
    // are the same (a position's slot is only reused once it has fallen out of reach), but
    // the search loop saves a mask on its critical path.
    uint16_t chain[kWindowSize];
    uint8_t litBuf[kHalf];
    uint16_t distBuf[16384];
    uint8_t flagBuf[kHalf / 8];

    uint32_t litFreq[kLitCodes];
    uint32_t distFreq[kDistCodes];

    uint16_t litCode[kFixedLitCodes];
    uint8_t litLen[kFixedLitCodes];
    uint16_t distCode[kDistCodes];
    uint8_t distLen[kDistCodes];
    uint16_t clCode[kClCodes];
    uint8_t clLen[kClCodes];
    uint32_t clFreq[kClCodes];

    uint16_t fixedLitCode[kFixedLitCodes];
    uint8_t fixedLitLen[kFixedLitCodes];
    uint16_t fixedDistCode[kDistCodes];
    uint8_t fixedDistLen[kDistCodes];

    uint8_t lengthCodeOf[256];  // match length - 3 -> length code index 0..28
    uint8_t distCodeOf[512];    // distance - 1 -> code, see distanceCode()

    uint16_t rle[kLitCodes + kDistCodes];  // run-length coded lengths: symbol | extra << 5

    MszipTreeScratch scratch;
};

namespace {

inline unsigned distanceCode(const MszipCompressor* c, uint32_t dist) {
    return dist < 256 ? c->distCodeOf[dist] : c->distCodeOf[256 + (dist >> 7)];
}

inline uint32_t reverseBits(uint32_t code, unsigned len) {
    uint32_t r = 0;
    for (unsigned i = 0; i < len; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// Canonical codes from lengths, bit-reversed because deflate sends codes first bit first.
void assignCodes(const uint8_t* len, int count, uint16_t* code) {
    uint16_t blCount[16] = {};
    for (int i = 0; i < count; ++i) {
        blCount[len[i]]++;
    }
    blCount[0] = 0;
    uint16_t next[16];
    uint32_t c = 0;
    for (int bits = 1; bits < 16; ++bits) {
        c = (c + blCount[bits - 1]) << 1;
        next[bits] = static_cast<uint16_t>(c);
    }
    for (int i = 0; i < count; ++i) {
        code[i] = len[i] ? static_cast<uint16_t>(reverseBits(next[len[i]]++, len[i])) : 0;
    }
}

// Run-length codes lengths[0..count) into out (symbol | extra << 5); answers the entries.
int runLengthCode(const uint8_t* lengths, int count, uint16_t* out) {
    int entries = 0;
    int prevLen = -1;
    int nextLen = lengths[0];
    int run = 0;
    int maxRun = 7;
    int minRun = 4;
    if (nextLen == 0) {
        maxRun = 138;
        minRun = 3;
    }
    for (int i = 0; i < count; ++i) {
        int curLen = nextLen;
        nextLen = i + 1 < count ? lengths[i + 1] : -1;
        if (++run < maxRun && curLen == nextLen) {
            continue;
        }
        if (run < minRun) {
            while (run-- > 0) {
                out[entries++] = static_cast<uint16_t>(curLen);
            }
        } else if (curLen != 0) {
            if (curLen != prevLen) {
                out[entries++] = static_cast<uint16_t>(curLen);
                run--;
            }
            out[entries++] = static_cast<uint16_t>(16 | (run - 3) << 5);
        } else if (run <= 10) {
            out[entries++] = static_cast<uint16_t>(17 | (run - 3) << 5);
        } else {
            out[entries++] = static_cast<uint16_t>(18 | (run - 11) << 5);
        }
        run = 0;
        prevLen = curLen;
        if (nextLen == 0) {
            maxRun = 138;
            minRun = 3;
        } else if (curLen == nextLen) {
            maxRun = 6;
            minRun = 3;
        } else {
            maxRun = 7;
            minRun = 4;
        }
    }
    return entries;
}

// Packs bits least significant first. Bytes that would pass the limit are dropped and
// mark the stream as failed.
struct BitWriter {
    uint64_t acc;
    unsigned bits;
    uint8_t* out;
    uint32_t pos;
    uint32_t limit;
    bool failed;
};

inline void writeByteChecked(BitWriter& w, uint8_t b) {
    if (w.pos < w.limit) {
        w.out[w.pos++] = b;
    } else {
        w.failed = true;
    }
}

inline void spill(BitWriter& w) {
    // Keeps fewer than 32 bits pending.
    if (w.bits >= 32) {
        if (w.pos + 4 <= w.limit) {
            uint8_t* p = w.out + w.pos;
            p[0] = static_cast<uint8_t>(w.acc);
            p[1] = static_cast<uint8_t>(w.acc >> 8);
            p[2] = static_cast<uint8_t>(w.acc >> 16);
            p[3] = static_cast<uint8_t>(w.acc >> 24);
            w.pos += 4;
        } else {
            for (int i = 0; i < 4; ++i) {
                writeByteChecked(w, static_cast<uint8_t>(w.acc >> (8 * i)));
            }
        }
        w.acc >>= 32;
        w.bits -= 32;
    }
}

inline void putBits(BitWriter& w, uint32_t value, unsigned count) {
    w.acc |= static_cast<uint64_t>(value) << w.bits;
    w.bits += count;
    spill(w);
}

// Pads to a byte boundary with zero bits and writes out everything pending.
void alignAndDrain(BitWriter& w) {
    w.bits = (w.bits + 7) & ~7u;
    while (w.bits > 0) {
        writeByteChecked(w, static_cast<uint8_t>(w.acc));
        w.acc >>= 8;
        w.bits -= 8;
    }
}

// Per-block running state of the symbol buffers.
struct Symbols {
    uint32_t count;    // symbols buffered
    uint32_t matches;  // of which matches
};

void writeSymbols(const MszipCompressor* c, const Symbols& sym, const uint16_t* litCode,
                  const uint8_t* litLen, const uint16_t* distCode, const uint8_t* distLen,
                  BitWriter& out) {
    BitWriter w = out;  // a local copy stays in registers through the loop
    const uint8_t* litBuf = c->litBuf;
    const uint8_t* flags = c->flagBuf;
    const uint16_t* distBuf = c->distBuf;
    uint32_t m = 0;
    for (uint32_t i = 0; i < sym.count; ++i) {
        unsigned lit = litBuf[i];
        if ((flags[i >> 3] >> (i & 7)) & 1) {
            unsigned lc = c->lengthCodeOf[lit];
            unsigned dist = distBuf[m++];
            unsigned dc = distanceCode(c, dist);
            putBits(w, litCode[257 + lc], litLen[257 + lc]);
            putBits(w, lit - kLengthBase[lc], kLengthExtra[lc]);
            putBits(w, distCode[dc], distLen[dc]);
            putBits(w, dist - kDistBase[dc], kDistExtra[dc]);
        } else {
            putBits(w, litCode[lit], litLen[lit]);
        }
    }
    putBits(w, litCode[kEndOfBlock], litLen[kEndOfBlock]);
    out = w;
}

// Exact sizes of the dynamic and fixed forms of a block with the current frequencies, in
// bytes with the 3-bit block header. Builds the codes the dynamic form would send (code
// lengths, their run-length coding and the code-length code) into the compressor.
struct BlockCosts {
    uint64_t dynBytes;
    uint64_t fixedBytes;
    int litCount;
    int distCount;
    int clCount;
    int rleAll;
};

BlockCosts blockCosts(MszipCompressor* c) {
    MszipTreeScratch& s = c->scratch;
    int litMax = mszipBuildCodeLengths(s, c->litFreq, kLitCodes, 15, c->litLen);
    int distMax = mszipBuildCodeLengths(s, c->distFreq, kDistCodes, 15, c->distLen);
    int litCount = litMax + 1;
    int distCount = distMax + 1;

    int rleLit = runLengthCode(c->litLen, litCount, c->rle);
    int rleAll = rleLit + runLengthCode(c->distLen, distCount, c->rle + rleLit);
    std::memset(c->clFreq, 0, sizeof c->clFreq);
    for (int i = 0; i < rleAll; ++i) {
        c->clFreq[c->rle[i] & 31]++;
    }
    mszipBuildCodeLengths(s, c->clFreq, kClCodes, 7, c->clLen);
    int clCount = kClCodes;
    while (clCount > 4 && c->clLen[kClOrder[clCount - 1]] == 0) {
        clCount--;
    }

    // Exact costs in bits, from the real frequencies.
    uint64_t dynBits = 14 + 3 * static_cast<uint64_t>(clCount);
    uint64_t fixedBits = 0;
    for (int i = 0; i < kLitCodes; ++i) {
        uint32_t f = c->litFreq[i];
        if (f == 0) {
            continue;
        }
        unsigned extra = i > kEndOfBlock ? kLengthExtra[i - 257] : 0;
        dynBits += static_cast<uint64_t>(f) * (c->litLen[i] + extra);
        fixedBits += static_cast<uint64_t>(f) * (c->fixedLitLen[i] + extra);
    }
    for (int i = 0; i < kDistCodes; ++i) {
        uint32_t f = c->distFreq[i];
        dynBits += static_cast<uint64_t>(f) * (c->distLen[i] + kDistExtra[i]);
        fixedBits += static_cast<uint64_t>(f) * (5u + kDistExtra[i]);
    }
    for (int i = 0; i < rleAll; ++i) {
        unsigned symbol = c->rle[i] & 31;
        dynBits += c->clLen[symbol] + kClExtra[symbol];
    }
    return BlockCosts{
        (dynBits + 3 + 7) >> 3, (fixedBits + 3 + 7) >> 3, litCount, distCount, clCount, rleAll};
}

// Writes a stored deflate block of window[start, end).
void writeStored(const MszipCompressor* c, uint32_t start, uint32_t end, bool final, BitWriter& w) {
    putBits(w, final ? 1 : 0, 3);
    alignAndDrain(w);
    uint32_t len = end - start;
    putBits(w, len | (~len & 0xFFFF) << 16, 32);
    const uint8_t* data = c->window + start;
    if (!w.failed && w.pos + len <= w.limit) {
        std::memcpy(w.out + w.pos, data, len);
        w.pos += len;
    } else {
        for (uint32_t i = 0; i < len; ++i) {
            writeByteChecked(w, data[i]);
        }
    }
}

// Writes one deflate block holding the buffered symbols, which cover window[start, end),
// in the cheapest of the stored, fixed and dynamic forms; then empties the buffers.
void flushBlock(MszipCompressor* c, Symbols& sym, uint32_t start, uint32_t end, bool final,
                BitWriter& w) {
    const BlockCosts k = blockCosts(c);
    const int litCount = k.litCount;
    const int distCount = k.distCount;
    const int clCount = k.clCount;
    const int rleAll = k.rleAll;
    const uint64_t dynBytes = k.dynBytes;
    const uint64_t fixedBytes = k.fixedBytes;
    const uint64_t storedBytes = static_cast<uint64_t>(end - start) + 4;
    const uint64_t best = fixedBytes <= dynBytes ? fixedBytes : dynBytes;

    uint32_t finalBit = final ? 1 : 0;
    if (storedBytes <= best) {
        writeStored(c, start, end, final, w);
    } else if (fixedBytes <= dynBytes) {
        putBits(w, finalBit | 2, 3);
        writeSymbols(c, sym, c->fixedLitCode, c->fixedLitLen, c->fixedDistCode, c->fixedDistLen, w);
    } else {
        assignCodes(c->litLen, kLitCodes, c->litCode);
        assignCodes(c->distLen, kDistCodes, c->distCode);
        assignCodes(c->clLen, kClCodes, c->clCode);
        putBits(w, finalBit | 4, 3);
        putBits(w, static_cast<uint32_t>(litCount - 257), 5);
        putBits(w, static_cast<uint32_t>(distCount - 1), 5);
        putBits(w, static_cast<uint32_t>(clCount - 4), 4);
        for (int i = 0; i < clCount; ++i) {
            putBits(w, c->clLen[kClOrder[i]], 3);
        }
        for (int i = 0; i < rleAll; ++i) {
            unsigned symbol = c->rle[i] & 31;
            putBits(w, c->clCode[symbol], c->clLen[symbol]);
            putBits(w, c->rle[i] >> 5, kClExtra[symbol]);
        }
        writeSymbols(c, sym, c->litCode, c->litLen, c->distCode, c->distLen, w);
    }

    std::memset(c->litFreq, 0, sizeof c->litFreq);
    std::memset(c->distFreq, 0, sizeof c->distFreq);
    c->litFreq[kEndOfBlock] = 1;
    sym.count = 0;
    sym.matches = 0;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline unsigned matchingBytes(uint64_t x) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return static_cast<unsigned>(__builtin_ctzll(x)) >> 3;
#else
    unsigned n = 0;
    uint8_t a[8];
    std::memcpy(a, &x, 8);
    while (a[n] == 0) {
        n++;
    }
    return n;
#endif
}

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Longest match for the string at pos along the hash chain starting at cand. Only a
// strictly longer match than prevLen counts; the nearest of equal matches wins.
// Kept out of line so that its loop has the registers to itself.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
uint32_t
longestMatch(const uint8_t* win, const uint16_t* chain, uint32_t pos, uint32_t cand,
             uint32_t prevLen, uint32_t* matchStart) {
    uint32_t chainLeft = prevLen >= kMaxMatch ? kMaxChain / 4 : kMaxChain;
    uint32_t best = prevLen;
    const uint32_t limit = pos > kMaxDist ? pos - kMaxDist : 0;
    // Compares stop at 258 bytes or at the end of the window.
    const uint32_t maxLen = kWindowSize - pos < kMaxMatch ? kWindowSize - pos : kMaxMatch;
    if (best >= maxLen) {
        return best;  // nothing longer can exist
    }
    const uint8_t* scan = win + pos;
    // The two bytes that end a longer match, and the two that start every match: a
    // candidate that differs in either pair cannot improve on the best.
    uint16_t scanEnd = load16(scan + best - 1);
    const uint16_t scanStart = load16(scan);
    uint32_t bestStart = *matchStart;
    do {
        const uint8_t* m = win + cand;
        if (load16(m + best - 1) != scanEnd || load16(m) != scanStart) {
            continue;
        }
        uint32_t len = 2;
        for (;;) {
            uint64_t x = load64(scan + len) ^ load64(m + len);
            if (x != 0) {
                len += matchingBytes(x);
                break;
            }
            len += 8;
            if (len >= maxLen) {
                break;
            }
        }
        if (len > maxLen) {
            len = maxLen;
        }
        if (len > best) {
            bestStart = cand;
            best = len;
            if (len >= maxLen) {
                break;
            }
            scanEnd = load16(scan + best - 1);
        }
    } while ((cand = chain[cand]) > limit && --chainLeft != 0);
    *matchStart = bestStart;
    return best;
}

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Counts the byte values of data[from, to) into part (four partial counts keep the
// increments of one value from queueing behind each other).
void countBytes(const uint8_t* data, uint32_t from, uint32_t to, uint32_t (&part)[4][256]) {
    uint32_t i = from;
    for (; i + 4 <= to; i += 4) {
        part[0][data[i]]++;
        part[1][data[i + 1]]++;
        part[2][data[i + 2]]++;
        part[3][data[i + 3]]++;
    }
    for (; i < to; ++i) {
        part[0][data[i]]++;
    }
}

// The cost of the block data[0, n) sent as literals only, in bytes, less what storing it
// costs: negative when literals alone would shrink it. Answers -1 at once when the first
// kStoreSample bytes are plainly compressible: their sum of squared counts, which is about
// N * N / 256 for bytes that deflate cannot shrink, lies well above that (by 2^0.5, an
// order-2 entropy below 7.5 bits a byte).
int64_t literalOnlyExcess(MszipCompressor* c, const uint8_t* data, uint32_t n) {
    uint32_t part[4][256] = {};
    countBytes(data, 0, kStoreSample, part);
    uint64_t squares = 0;
    for (int b = 0; b < 256; ++b) {
        const uint64_t f = part[0][b] + part[1][b] + part[2][b] + part[3][b];
        squares += f * f;
    }
    if (squares * 256 * 128 > static_cast<uint64_t>(kStoreSample) * kStoreSample * 181) {
        return -1;
    }
    countBytes(data, kStoreSample, n, part);
    std::memset(c->litFreq, 0, sizeof c->litFreq);
    std::memset(c->distFreq, 0, sizeof c->distFreq);
    for (int b = 0; b < 256; ++b) {
        c->litFreq[b] = part[0][b] + part[1][b] + part[2][b] + part[3][b];
    }
    c->litFreq[kEndOfBlock] = 1;
    const BlockCosts k = blockCosts(c);
    const uint64_t best = k.fixedBytes <= k.dynBytes ? k.fixedBytes : k.dynBytes;
    return static_cast<int64_t>(best) - (static_cast<int64_t>(n) + 4);
}

// Decides, before any match search, whether the block at window[32768, 32768 + n) is one
// that deflate cannot shrink: pictures and fonts that are compressed already. Their
// literals must cost more than storing them, by more than the repeats that a look at each
// position's nearest candidate finds could save. The trial inserts every position as the
// full search would, so a stored block still serves the next one as history; when it finds
// too many repeats the hash heads are put back and the block takes the full search (the
// chain links it wrote are rewritten there before anything reads them).
// Answers true when the block is to be stored (the match tables then hold it).
bool shouldStore(MszipCompressor* c, uint32_t n) {
    if (n < kStoreTrialMin) {
        return false;
    }
    uint8_t* const win = c->window;
    const int64_t excess = literalOnlyExcess(c, win + kHalf, n);
    if (excess < static_cast<int64_t>(kStoreMargin)) {
        return false;
    }
    const uint32_t allowedRepeats = static_cast<uint32_t>((excess - kStoreMargin) / kRepeatSaving);
    uint16_t* const head = c->head;
    uint16_t* const chain = c->chain;
    std::memcpy(c->savedHead, head, sizeof c->savedHead);
    const uint32_t blockEnd = kHalf + n;
    uint32_t hash = ((static_cast<uint32_t>(win[kHalf]) << 5) ^ win[kHalf + 1]) & kHashMask;
    uint32_t repeats = 0;
    for (uint32_t pos = kHalf; pos + 3 <= blockEnd; ++pos) {
        hash = ((hash << 5) ^ win[pos + 2]) & kHashMask;
        const uint32_t cand = head[hash];
        chain[pos] = static_cast<uint16_t>(cand);
        head[hash] = static_cast<uint16_t>(pos);
        // Only the nearest string of the same hash is looked at, and without a branch: on
        // data like this one would be mispredicted half the time. An empty head (0) lies
        // below the limit.
        repeats += static_cast<uint32_t>(cand + kMaxDist > pos) &
                   static_cast<uint32_t>(load32(win + cand) == load32(win + pos));
    }
    if (repeats > allowedRepeats) {
        std::memcpy(head, c->savedHead, sizeof c->savedHead);
        return false;
    }
    return true;
}

void buildStaticTables(MszipCompressor* c) {
    for (int i = 0; i < kFixedLitCodes; ++i) {
        c->fixedLitLen[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    }
    assignCodes(c->fixedLitLen, kFixedLitCodes, c->fixedLitCode);
    for (int i = 0; i < kDistCodes; ++i) {
        c->fixedDistLen[i] = 5;
    }
    assignCodes(c->fixedDistLen, kDistCodes, c->fixedDistCode);
    for (int code = 0; code < 29; ++code) {
        int lo = kLengthBase[code];
        int hi = code == 28 ? 255 : lo + (1 << kLengthExtra[code]) - 1;
        for (int l = lo; l <= hi; ++l) {
            c->lengthCodeOf[l] = static_cast<uint8_t>(code);
        }
    }
    // Distances below 256 map directly; above, by distance >> 7 (every code from 16 up
    // spans a multiple of 128).
    for (int code = 0; code < kDistCodes; ++code) {
        uint32_t lo = kDistBase[code];
        uint32_t hi = lo + (1u << kDistExtra[code]) - 1;
        for (uint32_t d = lo; d <= hi; ++d) {
            if (d < 256) {
                c->distCodeOf[d] = static_cast<uint8_t>(code);
            } else {
                c->distCodeOf[256 + (d >> 7)] = static_cast<uint8_t>(code);
            }
        }
    }
}

// Ends a block whose stream is written: the block becomes the history of the next one
// when it was full.
int finishBlock(MszipCompressor* c, uint32_t n, const BitWriter& w, uint16_t* compressedLength) {
    if (w.failed) {
        c->history = false;
        return mszipCompressFailed;
    }
    if (c->history) {
        std::memcpy(c->window, c->window + kHalf, kHalf);
    }
    c->history = n == kHalf;
    *compressedLength = static_cast<uint16_t>(w.pos);
    return mszipCompressOk;
}

bool isCompressor(const MszipCompressor* c) {
    return c != nullptr && c->magic == kMagic;
}

}  // namespace

const char* mszipCompressStatusName(int status) {
    switch (status) {
        case mszipCompressOk:
            return "ok";
        case mszipCompressNoMemory:
            return "no memory";
        case mszipCompressBadArgument:
            return "bad argument";
        case mszipCompressFailed:
            return "compression failed";
        default:
            return "unknown";
    }
}

int mszipCompressCreate(uint32_t blockSize, MszipCompressAllocFn alloc, MszipCompressFreeFn release,
                        MszipCompressor** compressor, uint32_t* outputBufferSize) {
    if (alloc == nullptr || release == nullptr || compressor == nullptr ||
        outputBufferSize == nullptr) {
        return mszipCompressBadArgument;
    }
    *compressor = nullptr;
    void* mem = alloc(static_cast<uint32_t>(sizeof(MszipCompressor)));
    if (mem == nullptr) {
        return mszipCompressNoMemory;
    }
    MszipCompressor* c = new (mem) MszipCompressor;
    std::memset(c->window, 0, sizeof c->window);
    std::memset(c->head, 0, sizeof c->head);
    std::memset(c->chain, 0, sizeof c->chain);
    std::memset(c->litFreq, 0, sizeof c->litFreq);
    std::memset(c->distFreq, 0, sizeof c->distFreq);
    buildStaticTables(c);
    c->blockSize =
        blockSize == 0 || blockSize > kMszipCompressMaxBlock ? kMszipCompressMaxBlock : blockSize;
    c->release = release;
    c->history = false;
    c->magic = kMagic;
    *compressor = c;
    *outputBufferSize = c->blockSize + kMszipCompressOverhead;
    return mszipCompressOk;
}

int mszipCompressReset(MszipCompressor* c) {
    if (!isCompressor(c)) {
        return mszipCompressBadArgument;
    }
    c->history = false;
    return mszipCompressOk;
}

int mszipCompressDestroy(MszipCompressor* c) {
    if (!isCompressor(c)) {
        return mszipCompressBadArgument;
    }
    c->magic = 0;
    MszipCompressFreeFn release = c->release;
    c->~MszipCompressor();
    release(c);
    return mszipCompressOk;
}

int mszipCompress(MszipCompressor* c, const uint8_t* input, uint32_t n, uint8_t* output,
                  uint32_t outputSize, uint16_t* compressedLength) {
    if (!isCompressor(c) || n > c->blockSize ||
        outputSize < c->blockSize + kMszipCompressOverhead || (input == nullptr && n != 0) ||
        output == nullptr || compressedLength == nullptr) {
        return mszipCompressBadArgument;
    }
    uint8_t* const win = c->window;
    uint16_t* const head = c->head;
    uint16_t* const chain = c->chain;

    // The block always sits in the upper half; the lower half is the previous full block
    // or, without history, a copy of this one (so it is ready to serve as history next).
    if (c->history) {
        if (n != 0) {
            std::memcpy(win + kHalf, input, n);
        }
        for (uint32_t i = 0; i < kHalf; ++i) {
            uint16_t v = head[i];
            head[i] = static_cast<uint16_t>(v >= kHalf ? v - kHalf : 0);
        }
        // The upper half's links move down with the block; the lower half's are out of reach.
        for (uint32_t i = 0; i < kHalf; ++i) {
            uint16_t v = chain[i + kHalf];
            chain[i] = static_cast<uint16_t>(v >= kHalf ? v - kHalf : 0);
        }
    } else {
        if (n != 0) {
            std::memcpy(win, input, n);
        }
        std::memcpy(win + kHalf, win, kHalf);
        std::memset(head, 0, sizeof c->head);
    }

    BitWriter w = {0, 0, output, 0, outputSize, false};
    putBits(w, 'C', 8);
    putBits(w, 'K', 8);
    if (shouldStore(c, n)) {
        writeStored(c, kHalf, kHalf + n, true, w);
        alignAndDrain(w);
        return finishBlock(c, n, w, compressedLength);
    }

    std::memset(c->litFreq, 0, sizeof c->litFreq);
    std::memset(c->distFreq, 0, sizeof c->distFreq);
    c->litFreq[kEndOfBlock] = 1;
    Symbols sym = {0, 0};

    uint8_t* const litBuf = c->litBuf;
    uint16_t* const distBuf = c->distBuf;
    uint8_t* const flagBuf = c->flagBuf;
    uint32_t* const litFreq = c->litFreq;
    uint32_t* const distFreq = c->distFreq;

    const uint32_t blockEnd = kHalf + n;
    uint32_t pos = kHalf;
    uint32_t blockStart = kHalf;
    uint32_t left = n;
    uint32_t hash = ((static_cast<uint32_t>(win[kHalf]) << 5) ^ win[kHalf + 1]) & kHashMask;
    uint32_t matchLen = 2;
    uint32_t matchStart = 0;
    bool pending = false;

    // Records a symbol; answers true when the block should be flushed here.
    auto record = [&](bool isMatch, uint32_t value, uint32_t dist) -> bool {
        uint32_t i = sym.count;
        if ((i & 7) == 0) {
            flagBuf[i >> 3] = 0;
        }
        litBuf[i] = static_cast<uint8_t>(value);
        if (isMatch) {
            distBuf[sym.matches++] = static_cast<uint16_t>(dist);
            flagBuf[i >> 3] = static_cast<uint8_t>(flagBuf[i >> 3] | (1u << (i & 7)));
            litFreq[257 + c->lengthCodeOf[value]]++;
            distFreq[distanceCode(c, dist)]++;
        } else {
            litFreq[value]++;
        }
        uint32_t count = ++sym.count;
        if ((count & 4095) == 0) {
            uint64_t estimate = static_cast<uint64_t>(count) * 8;
            for (int d = 0; d < kDistCodes; ++d) {
                estimate += static_cast<uint64_t>(distFreq[d]) * (5u + kDistExtra[d]);
            }
            estimate >>= 3;
            if (sym.matches < count / 2 && estimate < (pos - blockStart) / 2) {
                return true;
            }
        }
        return count == kSymbolLimit;
    };

    for (;;) {
        if (left == 0) {
            if (pending) {
                record(false, win[pos - 1], 0);
            }
            flushBlock(c, sym, blockStart, pos, true, w);
            break;
        }
        uint32_t cand = 0;
        if (left >= 3) {
            hash = ((hash << 5) ^ win[pos + 2]) & kHashMask;
            cand = head[hash];
            chain[pos] = static_cast<uint16_t>(cand);
            head[hash] = static_cast<uint16_t>(pos);
        }
        uint32_t prevLen = matchLen;
        uint32_t prevStart = matchStart;
        matchLen = 2;
        if (cand != 0 && prevLen < kLazyLimit && pos - cand <= kMaxDist && pos < kWindowEnd) {
            matchLen = longestMatch(win, chain, pos, cand, prevLen, &matchStart);
            if (matchLen > left) {
                matchLen = left;
            }
            if (matchLen == 3 && pos - matchStart > kTooFar) {
                matchLen = 2;
            }
        }
        if (prevLen >= 3 && matchLen <= prevLen) {
            // Distances are buffered less 1.
            bool flush = record(true, prevLen - 3, pos - 2 - prevStart);
            left -= prevLen - 1;
            const uint32_t newPos = pos + prevLen - 1;
            // Positions with fewer than 3 bytes left cannot start a match.
            const uint32_t lastInsert = blockEnd >= 3 ? blockEnd - 3 : 0;
            for (uint32_t p = pos + 1; p < newPos; ++p) {
                if (p <= lastInsert) {
                    hash = ((hash << 5) ^ win[p + 2]) & kHashMask;
                    chain[p] = head[hash];
                    head[hash] = static_cast<uint16_t>(p);
                }
            }
            pos = newPos;
            pending = false;
            matchLen = 2;
            if (flush) {
                flushBlock(c, sym, blockStart, pos, false, w);
                blockStart = pos;
            }
            continue;
        }
        if (pending) {
            if (record(false, win[pos - 1], 0)) {
                flushBlock(c, sym, blockStart, pos, false, w);
                blockStart = pos;
            }
        }
        pending = true;
        pos++;
        left--;
    }
    alignAndDrain(w);
    return finishBlock(c, n, w, compressedLength);
}
