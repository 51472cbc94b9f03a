// The MSZIP decompressor against hand-made blocks (each showing one rule of the format)
// and against streams that Python's zlib makes from real files.
#include "cabinet/mszip/mszip_decompressor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int g_allocations = 0;
bool g_failAllocation = false;

void* testAlloc(uint32_t size) {
    if (g_failAllocation) {
        return nullptr;
    }
    ++g_allocations;
    return std::malloc(size);
}

void testFree(void* block) {
    std::free(block);
}

// Packs bits least significant first, as deflate reads them.
class BitWriter {
  public:
    BitWriter() : m_bytes{'C', 'K'} {}
    void bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            bit((value >> i) & 1u);
        }
    }
    // A Huffman code goes most significant bit first.
    void code(uint32_t value, unsigned length) {
        for (unsigned i = length; i-- > 0;) {
            bit((value >> i) & 1u);
        }
    }
    void align() { m_used = 0; }
    void byte(uint8_t b) {
        align();
        m_bytes.push_back(b);
    }
    Bytes done() const { return m_bytes; }

  private:
    void bit(unsigned b) {
        if (m_used == 0) {
            m_bytes.push_back(0);
        }
        m_bytes.back() |= static_cast<uint8_t>(b << m_used);
        m_used = (m_used + 1) & 7;
    }
    Bytes m_bytes;
    unsigned m_used = 0;
};

// Canonical codes (deflate's assignment) for a list of code lengths.
std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] == len) {
                codes[s] = code++;
            }
        }
        code <<= 1;
    }
    return codes;
}

// Fixed-code symbols.
void fixedLiteral(BitWriter& w, unsigned sym) {
    if (sym < 144) {
        w.code(0x30 + sym, 8);
    } else if (sym < 256) {
        w.code(0x190 + sym - 144, 9);
    } else if (sym < 280) {
        w.code(sym - 256, 7);
    } else {
        w.code(0xC0 + sym - 280, 8);
    }
}
void fixedEnd(BitWriter& w) {
    fixedLiteral(w, 256);
}
// Length code sym with its extra bits, then distance code dsym with its extra bits.
void fixedMatch(BitWriter& w, unsigned sym, unsigned extra, unsigned extraBits, unsigned dsym,
                unsigned dextra, unsigned dextraBits) {
    fixedLiteral(w, sym);
    w.bits(extra, extraBits);
    w.code(dsym, 5);
    w.bits(dextra, dextraBits);
}

// A dynamic block header. The code-length code is complete and fixed (symbols 0-12 of
// length 4, 13-18 of length 5); the code lengths are sent as the given sequence of
// code-length symbols with their extra bits.
struct LengthSymbol {
    unsigned sym;
    unsigned extra;
};
const std::vector<uint8_t> kCodeLengthLengths = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
                                                 4, 4, 4, 5, 5, 5, 5, 5, 5};
const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void dynamicHeader(BitWriter& w, bool final, unsigned litCount, unsigned distCount,
                   const std::vector<LengthSymbol>& sequence) {
    w.bits(final ? 1 : 0, 1);
    w.bits(2, 2);
    w.bits(litCount - 257, 5);
    w.bits(distCount - 1, 5);
    w.bits(19 - 4, 4);
    for (unsigned i = 0; i < 19; ++i) {
        w.bits(kCodeLengthLengths[kOrder[i]], 3);
    }
    const std::vector<uint32_t> codes = canonicalCodes(kCodeLengthLengths);
    for (const LengthSymbol& ls : sequence) {
        w.code(codes[ls.sym], kCodeLengthLengths[ls.sym]);
        if (ls.sym == 16) {
            w.bits(ls.extra, 2);
        } else if (ls.sym == 17) {
            w.bits(ls.extra, 3);
        } else if (ls.sym == 18) {
            w.bits(ls.extra, 7);
        }
    }
}

// The plain sequence for explicit lengths (no run codes).
std::vector<LengthSymbol> plainSequence(const std::vector<uint8_t>& lit,
                                        const std::vector<uint8_t>& dist) {
    std::vector<LengthSymbol> seq;
    for (uint8_t l : lit) {
        seq.push_back({l, 0});
    }
    for (uint8_t l : dist) {
        seq.push_back({l, 0});
    }
    return seq;
}

// A literal/length code: the given literals, end-of-block and length code 257 (length 3)
// all of equal length, completing the code with extra literals when needed.
std::vector<uint8_t> smallLiteralCode(unsigned length, std::vector<unsigned> symbols) {
    std::vector<uint8_t> lit(258, 0);
    symbols.push_back(256);
    symbols.push_back(257);
    for (unsigned s : symbols) {
        lit[s] = static_cast<uint8_t>(length);
    }
    unsigned used = static_cast<unsigned>(symbols.size());
    for (unsigned s = 0; used < (1u << length) && s < 256; ++s) {
        if (lit[s] == 0) {
            lit[s] = static_cast<uint8_t>(length);
            ++used;
        }
    }
    return lit;
}

class Decoder {
  public:
    explicit Decoder(uint32_t blockSize = 0) : m_window(kMszipDecompressWindow, 0xEE) {
        EXPECT_EQ(mszipDecompressCreate(blockSize, testAlloc, testFree, &m_d, &m_bufferSize),
                  mszipDecompressOk);
    }
    ~Decoder() { EXPECT_EQ(mszipDecompressDestroy(m_d), mszipDecompressOk); }
    // Decodes one block; answers the status and leaves the output in out().
    int decode(const Bytes& block, uint32_t limit = kMszipDecompressWindow) {
        m_produced = limit;
        const int status = mszipDecompress(m_d, block.data(), static_cast<uint32_t>(block.size()),
                                           m_window.data(), &m_produced);
        return status;
    }
    Bytes out() const { return Bytes(m_window.begin(), m_window.begin() + m_produced); }
    uint32_t produced() const { return m_produced; }
    uint32_t bufferSize() const { return m_bufferSize; }
    MszipDecompressor* handle() { return m_d; }
    Bytes& window() { return m_window; }

  private:
    MszipDecompressor* m_d = nullptr;
    uint32_t m_bufferSize = 0;
    uint32_t m_produced = 0;
    Bytes m_window;
};

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes storedBlock(const Bytes& data, bool final = true) {
    BitWriter w;
    w.bits(final ? 1 : 0, 1);
    w.bits(0, 2);
    Bytes b = w.done();
    const uint16_t len = static_cast<uint16_t>(data.size());
    const uint16_t complement = static_cast<uint16_t>(~len);
    b.push_back(len & 0xFF);
    b.push_back(len >> 8);
    b.push_back(complement & 0xFF);
    b.push_back(complement >> 8);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes fixedLiterals(const std::string& s) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    for (unsigned char c : s) {
        fixedLiteral(w, c);
    }
    fixedEnd(w);
    return w.done();
}

struct BlockCase {
    const char* name;
    Bytes block;
    int status;
    Bytes output;  // checked on success
};

std::vector<BlockCase> handMadeCases() {
    std::vector<BlockCase> cases;
    cases.push_back({"fixed literals", fixedLiterals("abc"), mszipDecompressOk, text("abc")});
    {
        Bytes b = fixedLiterals("abc");
        b[1] = 'J';
        cases.push_back({"second byte not K", b, mszipDecompressBadData, {}});
        b[0] = 'X';
        b[1] = 'K';
        cases.push_back({"first byte not C", b, mszipDecompressBadData, {}});
    }
    cases.push_back({"only C", text("C"), mszipDecompressBadData, {}});
    cases.push_back({"empty", {}, mszipDecompressBadData, {}});
    cases.push_back({"stored", storedBlock(text("hello")), mszipDecompressOk, text("hello")});
    {
        // A non-final stored block, then a final fixed block: blocks chain in one stream.
        Bytes b = storedBlock(text("ab"), false);
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        fixedLiteral(w, 'c');
        fixedEnd(w);
        Bytes tail = w.done();
        b.insert(b.end(), tail.begin() + 2, tail.end());
        cases.push_back({"stored then fixed", b, mszipDecompressOk, text("abc")});
    }
    {
        Bytes b = storedBlock(text("hello"));
        b[5] ^= 1;
        cases.push_back({"stored complement wrong", b, mszipDecompressBadData, {}});
    }
    {
        Bytes b = storedBlock(text("hello"));
        b.pop_back();
        cases.push_back({"stored length past the end", b, mszipDecompressBadData, {}});
    }
    {
        BitWriter w;
        w.bits(1, 1);
        w.bits(3, 2);
        cases.push_back({"block type 3", w.done(), mszipDecompressBadData, {}});
    }
    {
        // 'a', then length 4 (code 258) at distance 1, then 'b'.
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        fixedLiteral(w, 'a');
        fixedMatch(w, 258, 0, 0, 0, 0, 0);
        fixedLiteral(w, 'b');
        fixedEnd(w);
        cases.push_back({"fixed overlapping match", w.done(), mszipDecompressOk, text("aaaaab")});
    }
    {
        // "abcd", then length 10 (code 264) at distance 3 (code 2): repeats "bcd".
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        for (char c : std::string("abcd")) {
            fixedLiteral(w, static_cast<unsigned char>(c));
        }
        fixedMatch(w, 264, 0, 0, 2, 0, 0);
        fixedEnd(w);
        cases.push_back(
            {"fixed match with period 3", w.done(), mszipDecompressOk, text("abcdbcdbcdbcdb")});
    }
    {
        // Length code 266 with extra bits 1 -> 13+1 = 14, distance code 4 with extra 1 -> 6.
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        for (char c : std::string("012345")) {
            fixedLiteral(w, static_cast<unsigned char>(c));
        }
        fixedMatch(w, 266, 1, 1, 4, 1, 1);
        fixedEnd(w);
        cases.push_back(
            {"fixed extra bits", w.done(), mszipDecompressOk, text("01234501234501234501")});
    }
    for (unsigned sym : {286u, 287u}) {
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        fixedLiteral(w, 'a');
        fixedLiteral(w, sym);
        w.code(0, 5);
        fixedEnd(w);
        cases.push_back({"fixed length code 286/287", w.done(), mszipDecompressBadData, {}});
    }
    for (unsigned dsym : {30u, 31u}) {
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        fixedLiteral(w, 'a');
        fixedMatch(w, 257, 0, 0, dsym, 0, 0);
        fixedEnd(w);
        cases.push_back({"fixed distance code 30/31", w.done(), mszipDecompressBadData, {}});
    }

    // Dynamic blocks. Literal code: 'a', 'b', end, 257 (length 3) plus filler, all length 3.
    const std::vector<uint8_t> lit = smallLiteralCode(3, {'a', 'b'});
    const std::vector<uint32_t> litCodes = canonicalCodes(lit);
    auto sym = [&](BitWriter& w, unsigned s) { w.code(litCodes[s], lit[s]); };
    {
        // One distance symbol of length 1: accepted; its code is the single bit 0.
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(lit, {1}));
        sym(w, 'a');
        sym(w, 257);
        w.code(0, 1);
        sym(w, 'b');
        sym(w, 256);
        cases.push_back(
            {"single length-1 distance code", w.done(), mszipDecompressOk, text("aaaab")});
    }
    {
        // The same code, but the stream uses the unassigned code 1.
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(lit, {1}));
        sym(w, 'a');
        sym(w, 257);
        w.code(1, 1);
        sym(w, 256);
        cases.push_back({"unassigned half of single code", w.done(), mszipDecompressBadData, {}});
    }
    {
        // A distance code with one symbol of length 2 is incomplete and refused.
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(lit, {2}));
        sym(w, 'a');
        sym(w, 256);
        cases.push_back({"incomplete distance code", w.done(), mszipDecompressBadData, {}});
    }
    {
        // Two symbols of length 1 and one of length 2: over-subscribed.
        BitWriter w;
        dynamicHeader(w, true, 258, 3, plainSequence(lit, {1, 1, 2}));
        sym(w, 'a');
        sym(w, 256);
        cases.push_back({"over-subscribed distance code", w.done(), mszipDecompressBadData, {}});
    }
    {
        std::vector<uint8_t> bad = lit;
        bad['c'] = 3;  // one code too many
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(bad, {1}));
        cases.push_back({"over-subscribed literal code", w.done(), mszipDecompressBadData, {}});
    }
    {
        std::vector<uint8_t> gap = lit;
        gap['a'] = 0;  // one code missing, and more than one code: incomplete
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(gap, {1}));
        sym(w, 'b');
        sym(w, 256);
        cases.push_back({"incomplete literal code", w.done(), mszipDecompressBadData, {}});
    }
    {
        // No distance codes at all is fine while the block has only literals...
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(lit, {0}));
        sym(w, 'a');
        sym(w, 'b');
        sym(w, 256);
        cases.push_back({"empty distance code, literals", w.done(), mszipDecompressOk, text("ab")});
    }
    {
        // ...but a match with it cannot be decoded.
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(lit, {0}));
        sym(w, 'a');
        sym(w, 257);
        w.code(0, 1);
        sym(w, 256);
        cases.push_back({"empty distance code, match", w.done(), mszipDecompressBadData, {}});
    }
    {
        // Code lengths written with the run codes 16, 17 and 18.
        std::vector<uint8_t> runLit(258, 0);
        // 97 zeros, then 'a'..'f' at length 3 (a 3 and a repeat of 5), zeros up to 256 (153 =
        // 138 + 15), then end and 257 at length 3: 8 codes of length 3, complete.
        std::vector<LengthSymbol> seq = {{18, 87 - 11}, {17, 10 - 3}, {3, 0}, {16, 2}};
        seq.push_back({18, 138 - 11});
        seq.push_back({18, 15 - 11});
        seq.push_back({3, 0});  // 256
        seq.push_back({3, 0});  // 257
        seq.push_back({1, 0});  // the single distance length
        for (unsigned s = 'a'; s <= 'f'; ++s) {
            runLit[s] = 3;
        }
        runLit[256] = 3;
        runLit[257] = 3;
        const std::vector<uint32_t> c = canonicalCodes(runLit);
        BitWriter w;
        dynamicHeader(w, true, 258, 1, seq);
        for (unsigned s : {'f', 'a', 'c'}) {
            w.code(c[s], 3);
        }
        w.code(c[257], 3);
        w.code(0, 1);
        w.code(c[256], 3);
        cases.push_back({"code lengths by runs", w.done(), mszipDecompressOk, text("facccc")});
    }
    {
        BitWriter w;
        dynamicHeader(w, true, 258, 1, {{16, 0}});
        cases.push_back({"repeat with nothing before", w.done(), mszipDecompressBadData, {}});
    }
    {
        // 257 + 1 lengths: 18 x 138 twice is 276 > 259 in all.
        BitWriter w;
        dynamicHeader(w, true, 258, 1, {{18, 127}, {18, 127}});
        cases.push_back({"repeat past the end", w.done(), mszipDecompressBadData, {}});
    }
    {
        std::vector<uint8_t> noEnd = lit;
        noEnd[256] = 0;
        noEnd['c'] = 3;
        BitWriter w;
        dynamicHeader(w, true, 258, 1, plainSequence(noEnd, {1}));
        sym(w, 'a');
        cases.push_back({"no end-of-block code", w.done(), mszipDecompressBadData, {}});
    }
    for (unsigned count : {287u, 288u}) {
        BitWriter w;
        w.bits(1, 1);
        w.bits(2, 2);
        w.bits(count - 257, 5);
        w.bits(0, 5);
        w.bits(15, 4);
        cases.push_back({"literal count above 286", w.done(), mszipDecompressBadData, {}});
    }
    for (unsigned count : {31u, 32u}) {
        BitWriter w;
        w.bits(1, 1);
        w.bits(2, 2);
        w.bits(1, 5);
        w.bits(count - 1, 5);
        w.bits(15, 4);
        cases.push_back({"distance count above 30", w.done(), mszipDecompressBadData, {}});
    }
    {
        // A deep distance code (lengths 1, 2, ..., 15, 15) is valid deflate and must fit
        // the table space. 200 literals, then length 3 at distance 193 + 5 (code 15,
        // which has length 15 and 6 extra bits).
        std::vector<uint8_t> deepLit(258, 8);
        deepLit[254] = 9;
        deepLit[255] = 9;
        deepLit[256] = 9;
        deepLit[257] = 9;
        std::vector<uint8_t> deepDist;
        for (unsigned l = 1; l <= 15; ++l) {
            deepDist.push_back(static_cast<uint8_t>(l));
        }
        deepDist.push_back(15);
        const std::vector<uint32_t> lc = canonicalCodes(deepLit);
        const std::vector<uint32_t> dc = canonicalCodes(deepDist);
        BitWriter w;
        dynamicHeader(w, true, 258, 16, plainSequence(deepLit, deepDist));
        Bytes expected;
        for (unsigned i = 0; i < 200; ++i) {
            w.code(lc[i], deepLit[i]);
            expected.push_back(static_cast<uint8_t>(i));
        }
        w.code(lc[257], deepLit[257]);
        w.code(dc[14], 15);  // distance code 14 (length 15): base 129, 6 extra bits
        w.bits(5, 6);
        for (unsigned i = 0; i < 3; ++i) {
            expected.push_back(expected[expected.size() - 134]);
        }
        w.code(lc[256], deepLit[256]);
        cases.push_back({"deep distance code", w.done(), mszipDecompressOk, expected});
    }
    return cases;
}

TEST(MszipDecompressor, HandMadeBlocks) {
    Decoder d;
    for (const BlockCase& c : handMadeCases()) {
        SCOPED_TRACE(c.name);
        const int status = d.decode(c.block);
        EXPECT_EQ(status, c.status) << mszipDecompressStatusName(status);
        if (c.status == mszipDecompressOk) {
            EXPECT_EQ(d.out(), c.output);
        } else {
            EXPECT_EQ(d.produced(), 0u);
        }
    }
}

// Output stops at the limit, whether a literal, a match or a stored copy reaches it, and
// what was produced up to there is right.
TEST(MszipDecompressor, OutputCutAtTheLimit) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    for (char c : std::string("xyz")) {
        fixedLiteral(w, static_cast<unsigned char>(c));
    }
    for (int i = 0; i < 140; ++i) {
        fixedMatch(w, 285, 0, 0, 2, 0, 0);  // 258 bytes at distance 3
    }
    fixedEnd(w);
    const Bytes longBlock = w.done();  // would decode to 3 + 140 * 258 = 36123 bytes
    Bytes longOutput;
    for (unsigned i = 0; i < 36123; ++i) {
        longOutput.push_back(static_cast<uint8_t>("xyz"[i % 3]));
    }
    const Bytes stored = storedBlock(text("0123456789"));

    struct Case {
        const Bytes* block;
        uint32_t limit;
        uint32_t expected;
    } cases[] = {
        {&longBlock, 32768, 32768}, {&longBlock, 40000, 32768}, {&longBlock, 2, 2},
        {&longBlock, 100, 100},     {&longBlock, 0, 0},         {&stored, 4, 4},
        {&stored, 10, 10},          {&stored, 11, 10},
    };
    Decoder d;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        ASSERT_EQ(d.decode(*c.block, c.limit), mszipDecompressOk);
        ASSERT_EQ(d.produced(), c.expected);
        const Bytes& full = c.block == &longBlock ? longOutput : text("0123456789");
        EXPECT_EQ(d.out(), Bytes(full.begin(), full.begin() + c.expected));
    }

    // A smaller block size lowers the limit.
    Decoder small(1000);
    ASSERT_EQ(small.decode(longBlock), mszipDecompressOk);
    EXPECT_EQ(small.produced(), 1000u);
}

// Back-references reaching before the block read the previous block's output, which the
// caller's buffer still holds; the source wraps from the buffer's end to its start.
TEST(MszipDecompressor, HistoryFromThePreviousBlock) {
    Bytes previous(32768);
    uint32_t seed = 12345;
    for (uint8_t& b : previous) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    struct Case {
        const char* name;
        unsigned literals;  // literals "0123..." before the match
        unsigned lengthSym, lengthExtra, lengthExtraBits;
        unsigned distSym, distExtra, distExtraBits;
        unsigned length, distance;
    } cases[] = {
        {"distance 32768 first", 0, 257, 0, 0, 29, 8191, 13, 3, 32768},
        {"distance 32768 later", 5, 265, 1, 1, 29, 8191, 13, 12, 32768},
        {"wraps to the new block", 5, 264, 0, 0, 6, 1, 2, 10, 10},
        {"ends at the buffer's end", 0, 264, 0, 0, 6, 1, 2, 10, 10},
        {"long wrap", 3, 285, 0, 0, 9, 7, 3, 258, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoder d;
        ASSERT_EQ(d.decode(storedBlock(previous)), mszipDecompressOk);
        ASSERT_EQ(d.out(), previous);

        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        Bytes stream = previous;
        for (unsigned i = 0; i < c.literals; ++i) {
            fixedLiteral(w, '0' + i);
            stream.push_back(static_cast<uint8_t>('0' + i));
        }
        fixedMatch(w, c.lengthSym, c.lengthExtra, c.lengthExtraBits, c.distSym, c.distExtra,
                   c.distExtraBits);
        for (unsigned i = 0; i < c.length; ++i) {
            stream.push_back(stream[stream.size() - c.distance]);
        }
        fixedEnd(w);
        ASSERT_EQ(d.decode(w.done()), mszipDecompressOk);
        EXPECT_EQ(d.out(), Bytes(stream.begin() + 32768, stream.end()));
    }
}

TEST(MszipDecompressor, StatusValues) {
    Decoder d;
    EXPECT_EQ(d.bufferSize(), 32768u + 12);
    const Bytes tooLong(32768 + 13, 0);
    EXPECT_EQ(d.decode(tooLong), mszipDecompressInputTooLong);
    Bytes longest = storedBlock(Bytes(32768, 7));
    longest.resize(32768 + 12, 0);  // trailing bytes after the final block are ignored
    EXPECT_EQ(d.decode(longest), mszipDecompressOk);
    EXPECT_EQ(d.produced(), 32768u);

    Decoder small(1000);
    EXPECT_EQ(small.bufferSize(), 1012u);
    EXPECT_EQ(small.decode(Bytes(1013, 0)), mszipDecompressInputTooLong);
    EXPECT_EQ(small.decode(storedBlock(Bytes(1000, 1))), mszipDecompressOk);
    Decoder large(40000);
    EXPECT_EQ(large.bufferSize(), 32780u);

    uint32_t size = 10;
    const Bytes block = fixedLiterals("a");
    uint8_t out[1];
    EXPECT_EQ(mszipDecompress(nullptr, block.data(), 5, out, &size),
              mszipDecompressNotDecompressor);
    uint32_t notOne[64] = {0};
    MszipDecompressor* fake = reinterpret_cast<MszipDecompressor*>(notOne);
    EXPECT_EQ(mszipDecompress(fake, block.data(), 5, out, &size), mszipDecompressNotDecompressor);
    EXPECT_EQ(mszipDecompressReset(fake), mszipDecompressNotDecompressor);
    EXPECT_EQ(mszipDecompressDestroy(fake), mszipDecompressNotDecompressor);
    EXPECT_EQ(mszipDecompressReset(d.handle()), mszipDecompressOk);

    g_failAllocation = true;
    MszipDecompressor* none = nullptr;
    uint32_t bufferSize = 0;
    EXPECT_EQ(mszipDecompressCreate(0, testAlloc, testFree, &none, &bufferSize),
              mszipDecompressNoMemory);
    g_failAllocation = false;
    EXPECT_EQ(none, nullptr);

    EXPECT_STREQ(mszipDecompressStatusName(mszipDecompressBadData), "bad compressed data");
    EXPECT_STREQ(mszipDecompressStatusName(99), "unknown");
}

// After create, decoding allocates nothing, whatever the blocks (all memory is the one
// block from create).
TEST(MszipDecompressor, NoAllocationAfterCreate) {
    const int before = g_allocations;
    Decoder d;
    EXPECT_EQ(g_allocations, before + 1);
    for (const BlockCase& c : handMadeCases()) {
        d.decode(c.block);
    }
    EXPECT_EQ(g_allocations, before + 1);
}

// ---- Streams made by Python's zlib from real files ----

// Text, HTML and binaries found on every machine after set-up.
std::vector<std::string> corpusFiles() {
    const char* candidates[] = {
        "/usr/share/common-licenses/GPL-3",
        "/usr/share/doc/base-passwd/users-and-groups.html",
        "/bin/bash",
        "/bin/ls",
        QB_SOURCE_DIR "/cabinet/mszip/mszip_decompressor.cpp",
    };
    std::vector<std::string> found;
    for (const char* path : candidates) {
        std::ifstream f(path, std::ios::binary);
        if (f) {
            found.push_back(path);
        }
    }
    return found;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct ZlibBlock {
    uint32_t size;
    Bytes packed;
};

struct ZlibJob {
    std::string path;
    int level;
    std::vector<ZlibBlock> blocks;
};

const int kLevels[] = {0, 1, 6, 9};

// Every corpus file at every level, made by one run of the zlib framing script (starting
// Python is slow on a busy machine). Fails the test when python3 cannot be run.
const std::vector<ZlibJob>& zlibJobs() {
    static std::vector<ZlibJob> jobs;
    if (!jobs.empty()) {
        return jobs;
    }
    const std::string target = testing::TempDir() + "mszip_zlib_blocks.bin";
    std::string command = "python3 " QB_TEST_DIR "/zlib_blocks.py '" + target + "'";
    for (const std::string& path : corpusFiles()) {
        for (int level : kLevels) {
            jobs.push_back({path, level, {}});
            command += " '" + std::to_string(level) + ":" + path + "'";
        }
    }
    const int rc = std::system(command.c_str());
    EXPECT_EQ(rc, 0) << command;
    const Bytes all = readFile(target);
    std::remove(target.c_str());
    auto u32 = [&](size_t i) {
        return static_cast<uint32_t>(all[i] | all[i + 1] << 8 | all[i + 2] << 16 |
                                     static_cast<uint32_t>(all[i + 3]) << 24);
    };
    size_t at = 0;
    for (ZlibJob& job : jobs) {
        if (at + 4 > all.size()) {
            ADD_FAILURE() << "short script output";
            break;
        }
        const uint32_t count = u32(at);
        at += 4;
        for (uint32_t i = 0; i < count && at + 8 <= all.size(); ++i) {
            const uint32_t size = u32(at);
            const uint32_t packedSize = u32(at + 4);
            at += 8;
            if (at + packedSize > all.size()) {
                ADD_FAILURE() << "short script output";
                break;
            }
            job.blocks.push_back({size, Bytes(all.begin() + at, all.begin() + at + packedSize)});
            at += packedSize;
        }
    }
    return jobs;
}

TEST(MszipDecompressor, DecodesZlibStreamsOfRealFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "python3 is not reachable from a Windows test; the native builds run this";
#endif
    ASSERT_GE(corpusFiles().size(), 3u) << "corpus files missing";
    for (const ZlibJob& job : zlibJobs()) {
        SCOPED_TRACE(job.path + " level " + std::to_string(job.level));
        const Bytes data = readFile(job.path);
        ASSERT_EQ(job.blocks.size(), (data.size() + 32767) / 32768);
        Decoder d;
        size_t offset = 0;
        for (const ZlibBlock& b : job.blocks) {
            ASSERT_EQ(d.decode(b.packed), mszipDecompressOk) << "block at " << offset;
            ASSERT_EQ(d.produced(), b.size);
            ASSERT_TRUE(
                std::equal(d.window().begin(), d.window().begin() + b.size, data.begin() + offset))
                << "block at " << offset;
            offset += b.size;
        }
    }
}

// A block cut short never decodes to wrong bytes: it fails, or (when only the end code's
// bits were lost after the full output) gives exactly the right bytes.
TEST(MszipDecompressor, TruncatedBlocksNeverYieldWrongBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "python3 is not reachable from a Windows test; the native builds run this";
#endif
    // Each corpus file's first block at levels 0 and 6.
    for (const ZlibJob& job : zlibJobs()) {
        if (job.level != 0 && job.level != 6) {
            continue;
        }
        SCOPED_TRACE(job.path + " level " + std::to_string(job.level));
        ASSERT_FALSE(job.blocks.empty());
        const Bytes data = readFile(job.path);
        const ZlibBlock& first = job.blocks.front();
        Decoder d;
        int failures = 0;
        // Every cut near the end, where only the last codes are lost, and a sample before.
        const size_t size = first.packed.size();
        for (size_t cut = 2; cut < size; cut += (size - cut > 40 ? 97 : 1)) {
            const Bytes shorter(first.packed.begin(), first.packed.begin() + cut);
            if (d.decode(shorter) != mszipDecompressOk) {
                ++failures;
                continue;
            }
            ASSERT_EQ(d.produced(), first.size) << "cut at " << cut;
            ASSERT_TRUE(
                std::equal(d.window().begin(), d.window().begin() + first.size, data.begin()))
                << "cut at " << cut;
        }
        EXPECT_GT(failures, 0);
    }
}

}  // namespace
