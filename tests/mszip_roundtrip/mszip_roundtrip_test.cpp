// Every block the MSZIP compressor produces decodes, with the previous block as history,
// to exactly its input.
#include "cabinet/mszip/mszip_compressor.h"
#include "cabinet/mszip/mszip_decompressor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void* testAlloc(uint32_t size) {
    return std::malloc(size);
}
void testFree(void* block) {
    std::free(block);
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes randomBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    for (uint8_t& x : b) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<uint8_t>(seed >> 23);
    }
    return b;
}

// Runs of one byte with lengths from 1 to 300, so matches of every length and distance 1
// meet block edges.
Bytes runs(size_t n) {
    Bytes b;
    uint32_t seed = 7;
    while (b.size() < n) {
        seed = seed * 1103515245u + 12345u;
        const size_t len = 1 + (seed >> 16) % 300;
        b.insert(b.end(), len, static_cast<uint8_t>(seed >> 8));
    }
    b.resize(n);
    return b;
}

// A folder: its data, cut into blocks of these sizes (the last size repeats to the end).
struct Folder {
    std::string name;
    Bytes data;
    std::vector<size_t> sizes;
};

// Compresses and decodes the folders in turn with one compressor (reset between folders,
// as the cabinet writer does) and one decoder. Before a block that must not use history
// (the first of a folder, or one after a short block) the decoder's buffer is filled with
// junk, so a reference into a history the compressor may not use shows as wrong bytes.
void roundTrip(const std::vector<Folder>& folders) {
    MszipCompressor* c = nullptr;
    uint32_t outSize = 0;
    ASSERT_EQ(mszipCompressCreate(0, testAlloc, testFree, &c, &outSize), mszipCompressOk);
    MszipDecompressor* d = nullptr;
    uint32_t inSize = 0;
    ASSERT_EQ(mszipDecompressCreate(0, testAlloc, testFree, &d, &inSize), mszipDecompressOk);
    ASSERT_EQ(inSize, outSize);
    Bytes packed(outSize);
    Bytes window(kMszipDecompressWindow);

    for (const Folder& f : folders) {
        SCOPED_TRACE(f.name);
        ASSERT_EQ(mszipCompressReset(c), mszipCompressOk);
        ASSERT_EQ(mszipDecompressReset(d), mszipDecompressOk);
        bool history = false;
        size_t at = 0;
        size_t index = 0;
        do {
            const size_t want = f.sizes[index < f.sizes.size() ? index : f.sizes.size() - 1];
            const size_t n = std::min(want, f.data.size() - at);
            SCOPED_TRACE("block at " + std::to_string(at) + " of " + std::to_string(n));
            uint16_t packedSize = 0;
            ASSERT_EQ(mszipCompress(c, f.data.data() + at, static_cast<uint32_t>(n), packed.data(),
                                    outSize, &packedSize),
                      mszipCompressOk);
            ASSERT_LE(packedSize, n + 12);
            if (!history) {
                std::fill(window.begin(), window.end(), 0xA5);
            }
            uint32_t produced = kMszipDecompressWindow;
            ASSERT_EQ(mszipDecompress(d, packed.data(), packedSize, window.data(), &produced),
                      mszipDecompressOk);
            ASSERT_EQ(produced, n);
            ASSERT_TRUE(std::equal(window.begin(), window.begin() + n, f.data.begin() + at));
            history = n == 32768;
            at += n;
            ++index;
        } while (at < f.data.size());
    }
    EXPECT_EQ(mszipCompressDestroy(c), mszipCompressOk);
    EXPECT_EQ(mszipDecompressDestroy(d), mszipDecompressOk);
}

TEST(MszipRoundTrip, RealFilesInFullBlocks) {
    const char* paths[] = {
        "/usr/share/common-licenses/GPL-3",
        "/usr/share/doc/base-passwd/users-and-groups.html",
        "/bin/bash",
        "/bin/ls",
        QB_SOURCE_DIR "/cabinet/mszip/mszip_compressor.cpp",
    };
    std::vector<Folder> folders;
    for (const char* path : paths) {
        Bytes data = readFile(path);
        if (!data.empty()) {
            folders.push_back({path, std::move(data), {32768}});
        }
    }
    ASSERT_GE(folders.size(), 3u) << "corpus files missing";
    roundTrip(folders);
}

TEST(MszipRoundTrip, SyntheticData) {
    const Bytes text = readFile(QB_SOURCE_DIR "/cabinet/mszip/mszip_decompressor.cpp");
    ASSERT_FALSE(text.empty());
    Bytes mixed = randomBytes(40000, 3);
    const Bytes r = runs(60000);
    mixed.insert(mixed.end(), r.begin(), r.end());
    mixed.insert(mixed.end(), text.begin(), text.end());
    Bytes repeated = randomBytes(32768, 9);
    repeated.insert(repeated.end(), repeated.begin(), repeated.end());  // a whole block again

    roundTrip({
        {"random", randomBytes(3 * 32768 + 1000, 1), {32768}},
        {"one byte repeated", Bytes(3 * 32768 + 5, 'a'), {32768}},
        {"zeros", Bytes(2 * 32768, 0), {32768}},
        {"runs", runs(4 * 32768), {32768}},
        {"random block repeated", repeated, {32768}},
        {"mixed", mixed, {32768}},
        // Short blocks stop the history; a full block after them starts fresh.
        {"short then full", mixed, {100, 32768, 32767, 32768, 258, 259, 32768}},
        {"empty", {}, {32768}},
        {"one byte", {'x'}, {32768}},
        {"two bytes", {'x', 'x'}, {32768}},
        {"three bytes", {'x', 'y', 'x'}, {32768}},
        {"blocks of 1 to 3 bytes", text, {1, 2, 3, 3, 2, 1, 3}},
        {"tiny block after a full one", Bytes(32768 + 3, 'q'), {32768, 3}},
    });
}

}  // namespace
