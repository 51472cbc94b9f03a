#include "cabinet/mszip/mszip_compressor.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Counts live allocations so tests can see when memory is taken and given back.
int g_liveBlocks = 0;
int g_allocCalls = 0;
int g_failAllocAt = -1;  // the allocation call (0-based) that answers null, -1 for none

void* countingAlloc(uint32_t size) {
    if (g_allocCalls++ == g_failAllocAt) {
        return nullptr;
    }
    g_liveBlocks++;
    return std::malloc(size);
}

void countingFree(void* block) {
    g_liveBlocks--;
    std::free(block);
}

struct Compressor {
    MszipCompressor* c = nullptr;
    uint32_t outSize = 0;
    explicit Compressor(uint32_t blockSize = 0) {
        EXPECT_EQ(mszipCompressCreate(blockSize, countingAlloc, countingFree, &c, &outSize),
                  mszipCompressOk);
    }
    ~Compressor() {
        if (c != nullptr) {
            EXPECT_EQ(mszipCompressDestroy(c), mszipCompressOk);
        }
    }
    // Compresses one block; fails the test on a non-zero status.
    Bytes compress(const Bytes& in) {
        Bytes out(outSize);
        uint16_t len = 0;
        int status = mszipCompress(c, in.data(), static_cast<uint32_t>(in.size()), out.data(),
                                   outSize, &len);
        EXPECT_EQ(status, mszipCompressOk) << mszipCompressStatusName(status);
        out.resize(status == mszipCompressOk ? len : 0);
        return out;
    }
};

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<uint8_t>(rng());
    }
    return b;
}

Bytes repeated(size_t n, uint8_t value) {
    return Bytes(n, value);
}

// Text-like data with long and short repeats at every distance up to the whole window.
Bytes wordSoup(size_t n, uint32_t seed) {
    static const char* words[] = {"cabinet ", "folder ", "block ",   "the ",
                                  "of ",      "window ", "match ",   "<a href=\"",
                                  "\">",      "</p>\n",  "deflate ", "x"};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % (sizeof words / sizeof words[0])];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

// The first deflate block's type (0 stored, 1 fixed, 2 dynamic), read after "CK".
int firstBlockType(const Bytes& block) {
    return (block.at(2) >> 1) & 3;
}

TEST(MszipCompressorApi, CreateAnswersBlockSizePlusTwelve) {
    const struct {
        uint32_t requested;
        uint32_t bufferSize;
    } cases[] = {{0, 32780},     {1, 13},        {100, 112},
                 {32768, 32780}, {32769, 32780}, {0xFFFFFFFF, 32780}};
    for (const auto& k : cases) {
        Compressor comp(k.requested);
        EXPECT_EQ(comp.outSize, k.bufferSize) << "requested " << k.requested;
    }
    EXPECT_EQ(g_liveBlocks, 0);
}

TEST(MszipCompressorApi, WrongSizesAndHandlesAreStatusTwo) {
    Compressor comp(100);
    Bytes in = wordSoup(101, 1);
    Bytes out(200, 0xA5);
    uint16_t len = 0x5555;
    const struct {
        const char* what;
        uint32_t inLen;
        uint32_t outSize;
    } cases[] = {
        {"input longer than the block size", 101, 112},
        {"output buffer one byte short", 100, 111},
        {"output buffer far too short", 1, 2},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(mszipCompress(comp.c, in.data(), k.inLen, out.data(), k.outSize, &len),
                  mszipCompressBadArgument)
            << k.what;
        EXPECT_EQ(out, Bytes(200, 0xA5)) << k.what << ": output touched";
        EXPECT_EQ(len, 0x5555) << k.what;
    }
    EXPECT_EQ(mszipCompress(comp.c, nullptr, 5, out.data(), 112, &len), mszipCompressBadArgument);
    EXPECT_EQ(mszipCompress(comp.c, in.data(), 5, nullptr, 112, &len), mszipCompressBadArgument);
    EXPECT_EQ(mszipCompress(comp.c, in.data(), 5, out.data(), 112, nullptr),
              mszipCompressBadArgument);

    // Things that are not compressors: nothing read through them, nothing released.
    alignas(8) static uint8_t notOne[4096] = {};
    auto* fake = reinterpret_cast<MszipCompressor*>(notOne);
    for (MszipCompressor* h : {static_cast<MszipCompressor*>(nullptr), fake}) {
        EXPECT_EQ(mszipCompress(h, in.data(), 5, out.data(), 112, &len), mszipCompressBadArgument);
        EXPECT_EQ(mszipCompressReset(h), mszipCompressBadArgument);
        EXPECT_EQ(mszipCompressDestroy(h), mszipCompressBadArgument);
    }
    // After all that the compressor still works.
    EXPECT_EQ(comp.compress(Bytes(in.begin(), in.begin() + 100)).at(0), 'C');
}

TEST(MszipCompressorApi, MemoryIsTakenAtCreateOnlyAndAllReturned) {
    g_allocCalls = 0;
    {
        Compressor comp;
        const int afterCreate = g_allocCalls;
        EXPECT_GE(g_liveBlocks, 1);
        for (uint32_t seed = 0; seed < 4; ++seed) {
            comp.compress(wordSoup(32768, seed));
            comp.compress(randomBytes(32768, seed));
        }
        comp.compress(wordSoup(1000, 9));
        EXPECT_EQ(mszipCompressReset(comp.c), mszipCompressOk);
        comp.compress(wordSoup(32768, 10));
        EXPECT_EQ(g_allocCalls, afterCreate) << "compress or reset allocated";
    }
    EXPECT_EQ(g_liveBlocks, 0);

    // Every allocation failing in turn: status 1, no compressor, nothing leaked.
    const int calls = g_allocCalls;
    for (int failAt = 0; failAt < calls; ++failAt) {
        g_allocCalls = 0;
        g_failAllocAt = failAt;
        MszipCompressor* c = reinterpret_cast<MszipCompressor*>(&g_liveBlocks);
        uint32_t size = 0;
        EXPECT_EQ(mszipCompressCreate(0, countingAlloc, countingFree, &c, &size),
                  mszipCompressNoMemory);
        EXPECT_EQ(c, nullptr);
        EXPECT_EQ(g_liveBlocks, 0);
    }
    g_failAllocAt = -1;
}

TEST(MszipCompressorOutput, EmptyBlockIsAnEmptyFixedBlock) {
    Compressor comp;
    EXPECT_EQ(comp.compress({}), (Bytes{'C', 'K', 0x03, 0x00}));
}

TEST(MszipCompressorOutput, IncompressibleDataIsStoredWithinTwelveBytes) {
    for (uint32_t n : {100u, 4095u, 4096u, 32767u, 32768u}) {
        Compressor comp;
        // Twice, so the second full block also runs with history.
        for (uint32_t seed : {n, n + 1}) {
            Bytes in = randomBytes(n, seed);
            // Guard bytes behind the buffer the caller promised.
            Bytes out(comp.outSize + 64, 0xEE);
            uint16_t len = 0;
            ASSERT_EQ(mszipCompress(comp.c, in.data(), n, out.data(), comp.outSize, &len),
                      mszipCompressOk);
            EXPECT_LE(len, n + 12) << n;
            EXPECT_EQ(Bytes(out.begin() + comp.outSize, out.end()), Bytes(64, 0xEE))
                << n << ": wrote past the output buffer";
            out.resize(len);
            EXPECT_EQ(firstBlockType(out), 0) << n << ": expected a stored block";
        }
    }
}

// Blocks that look incompressible at first sight but are not: each must still shrink, and
// a block that really is incompressible is one stored deflate block.
TEST(MszipCompressorOutput, StoresOnlyWhatDeflateCannotShrink) {
    Bytes noise = randomBytes(32768, 21);
    Bytes halves = noise;  // the second half repeats the first
    std::copy(noise.begin(), noise.begin() + 16384, halves.begin() + 16384);
    Bytes narrow = noise;  // 192 byte values: literals alone save about 5 %
    for (auto& b : narrow) {
        b = static_cast<uint8_t>(b % 192);
    }
    Bytes noisyHead = wordSoup(32768, 22);  // the sample looks random, the rest is text
    std::copy(noise.begin(), noise.begin() + 4096, noisyHead.begin());
    Bytes scattered = noise;  // a hundred 40-byte repeats spread through the block
    for (size_t i = 0; i < 100; ++i) {
        std::copy(noise.begin() + i * 40, noise.begin() + i * 40 + 40,
                  scattered.begin() + 8192 + i * 240);
    }
    const struct {
        const char* what;
        const Bytes& data;
        size_t atMost;
    } cases[] = {
        {"repeated half", halves, 16384 + 1024},
        {"192 byte values", narrow, 32768 - 1024},
        {"random sample, text after", noisyHead, 4096 + 8192},
        {"scattered repeats", scattered, 32768 - 2500},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Compressor comp;
        Bytes out = comp.compress(k.data);
        EXPECT_LE(out.size(), k.atMost);
        EXPECT_NE(firstBlockType(out), 0);
    }
    // "CK", the stored block's header byte, its length and complement, the bytes.
    Compressor comp;
    EXPECT_EQ(comp.compress(noise).size(), 32768u + 7);
}

TEST(MszipCompressorOutput, RunsCompressToAFewDozenBytes) {
    Compressor comp;
    for (uint8_t value : {0x00, 0x41, 0xFF}) {
        Bytes first = comp.compress(repeated(32768, value));
        Bytes second = comp.compress(repeated(32768, value));
        EXPECT_LE(first.size(), 64u);
        EXPECT_LE(second.size(), 64u);
        EXPECT_NE(firstBlockType(first), 0);
    }
}

#ifndef _WIN32

// Writes blocks and their expected contents to a temporary folder and has Python's zlib
// inflate each one; the previous full block is the preset dictionary.
class InflateOracle {
  public:
    InflateOracle() {
        dir_ = fs::temp_directory_path() /
               ("qb_mszip_enc_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        manifest_.open(dir_ / "manifest");
    }
    ~InflateOracle() { fs::remove_all(dir_); }

    // Queues one block: history is the previous block's input, or empty when the block must
    // decode without one; needsHistory demands that it actually reaches into the history.
    void add(const Bytes& compressed, const Bytes& input, const Bytes* history,
             bool needsHistory = false) {
        std::string base = (dir_ / std::to_string(count_++)).string();
        write(base + ".ck", compressed);
        write(base + ".in", input);
        std::string dict = "-";
        if (history != nullptr) {
            dict = base + ".dict";
            write(dict, *history);
        }
        manifest_ << base << ".ck " << base << ".in " << dict << ' '
                  << (needsHistory ? "needs-history" : "any") << '\n';
    }

    // Runs the checker; python3 must be there.
    void check() {
        manifest_.close();
        ASSERT_EQ(std::system("python3 -c 'import zlib' 2>/dev/null"), 0)
            << "python3 with zlib is needed for the inflate oracle";
        std::string cmd = "python3 " QB_TEST_DIR "/inflate_check.py " +
                          (dir_ / "manifest").string() + " > " + (dir_ / "report").string() +
                          " 2>&1";
        int rc = std::system(cmd.c_str());
        std::ifstream in(dir_ / "report");
        std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(rc, 0) << report;
        EXPECT_NE(report.find("checked " + std::to_string(count_) + " blocks, 0 failed"),
                  std::string::npos)
            << report;
    }

  private:
    static void write(const std::string& path, const Bytes& b) {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    fs::path dir_;
    std::ofstream manifest_;
    int count_ = 0;
};

// Compresses a stream the way the cabinet writer does (32768-byte blocks, the last shorter)
// and queues every block with its history.
void queueStream(Compressor& comp, InflateOracle& oracle, const Bytes& data) {
    Bytes previous;
    bool haveHistory = false;
    for (size_t at = 0; at < data.size() || at == 0; at += 32768) {
        size_t n = std::min<size_t>(32768, data.size() - at);
        Bytes block(data.begin() + at, data.begin() + at + n);
        Bytes out = comp.compress(block);
        EXPECT_LE(out.size(), n + 12);
        oracle.add(out, block, haveHistory ? &previous : nullptr);
        haveHistory = n == 32768;
        previous = block;
        if (n == 0) {
            break;
        }
    }
    EXPECT_EQ(mszipCompressReset(comp.c), mszipCompressOk);
}

Bytes readFile(const fs::path& p, size_t cap) {
    std::ifstream f(p, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() > cap) {
        b.resize(cap);
    }
    return b;
}

TEST(MszipCompressorOracle, RealFilesInflateWithZlib) {
    // Text, HTML and machine code that every set-up machine has; missing HTML is tolerated,
    // the licences and binaries are not.
    const struct {
        const char* path;
        bool required;
    } files[] = {
        {"/usr/share/common-licenses/GPL-3", true},
        {"/usr/share/common-licenses/GPL-2", true},
        {"/usr/share/common-licenses/Apache-2.0", true},
        {"/usr/share/common-licenses/LGPL-2.1", true},
        {"/usr/share/doc/zlib1g-dev/examples/zlib_how.html", false},
        {"/usr/share/doc/python3/python-policy.html", false},
        {"/usr/bin/ls", true},
        {"/usr/bin/bash", true},
    };
    Compressor comp;
    InflateOracle oracle;
    for (const auto& f : files) {
        if (!fs::exists(f.path)) {
            EXPECT_FALSE(f.required) << f.path << " is missing";
            continue;
        }
        queueStream(comp, oracle, readFile(f.path, 400000));
    }
    oracle.check();
}

TEST(MszipCompressorOracle, SyntheticDataInflatesWithZlib) {
    Bytes mixed = wordSoup(70000, 3);
    Bytes noise = randomBytes(20000, 4);
    mixed.insert(mixed.begin() + 40000, noise.begin(), noise.end());
    Bytes every;
    for (int i = 0; i < 256 * 300; ++i) {
        every.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
    }
    const struct {
        const char* what;
        Bytes data;
    } cases[] = {
        {"empty", {}},
        {"one byte", {'a'}},
        {"two bytes", {'a', 'a'}},
        {"three equal bytes", {'a', 'a', 'a'}},
        {"three bytes", {'a', 'b', 'c'}},
        {"four equal bytes", repeated(4, 'z')},
        {"long run", repeated(100000, 0)},
        {"random", randomBytes(100000, 5)},
        {"text", wordSoup(200000, 6)},
        {"text with noise", mixed},
        {"byte ramp", every},
        {"exactly one block", wordSoup(32768, 7)},
        {"one block and one byte", wordSoup(32769, 8)},
    };
    Compressor comp;
    InflateOracle oracle;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        queueStream(comp, oracle, k.data);
    }
    oracle.check();
}

// A block stored without a match search still feeds the match tables: the next block
// finds its repeats of it, and both decode.
TEST(MszipCompressorOracle, StoredBlockServesAsHistory) {
    Compressor comp;
    InflateOracle oracle;
    Bytes first = randomBytes(32768, 31);
    Bytes second(first.begin() + 1000, first.end());
    Bytes tail = randomBytes(1000, 32);
    second.insert(second.end(), tail.begin(), tail.end());
    Bytes a = comp.compress(first);
    Bytes b = comp.compress(second);
    EXPECT_EQ(firstBlockType(a), 0);
    EXPECT_LE(b.size(), 2000u + 200);
    oracle.add(a, first, nullptr);
    oracle.add(b, second, &first, true);
    oracle.check();
}

TEST(MszipCompressorOracle, HistoryOnlyAfterAFullBlock) {
    Compressor comp;
    InflateOracle oracle;
    Bytes a = repeated(32768, 'q');
    Bytes text = wordSoup(32768, 11);
    Bytes shortText(text.begin(), text.begin() + 20000);

    // The same full block twice: the second starts with a reference into the first.
    oracle.add(comp.compress(a), a, nullptr);
    oracle.add(comp.compress(a), a, &a, true);
    // A short block after a full one still uses it...
    oracle.add(comp.compress(shortText), shortText, &a);
    // ...but clears the history, so the next block decodes by itself.
    oracle.add(comp.compress(text), text, nullptr);
    // A reset after a full block forgets it as well.
    EXPECT_EQ(mszipCompressReset(comp.c), mszipCompressOk);
    oracle.add(comp.compress(text), text, nullptr);
    // Repeating a full text block reaches back into it, even after a refused call.
    Bytes scratch(comp.outSize);
    uint16_t len = 0;
    EXPECT_EQ(mszipCompress(comp.c, text.data(), 32768, scratch.data(), comp.outSize - 1, &len),
              mszipCompressBadArgument);
    oracle.add(comp.compress(text), text, &text, true);
    oracle.check();
}

#endif  // !_WIN32

}  // namespace
