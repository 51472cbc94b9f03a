// bench_mszip [FILES...]: our MSZIP compressor (and decompressor) against zlib level 9 in
// the same framing: every file cut into 32768-byte blocks, each block one raw deflate
// stream ending with the final block, the previous full block as preset dictionary.
// Without arguments it measures a corpus of files present on every set-up machine.
// Last line: mszip: size_vs_zlib9=R1 compress_speed_vs_zlib9=R2 decompress_speed_vs_zlib=R3
#include "cabinet/mszip/mszip_compressor.h"
#ifdef QB_HAVE_MSZIP_DECOMPRESSOR
#include "cabinet/mszip/mszip_decompressor.h"
#endif

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr size_t kBlock = 32768;
constexpr int kRepeats = 5;

struct Stream {
    std::string name;
    Bytes data;
    std::vector<Bytes> ours;  // compressed blocks, "CK" included
    std::vector<Bytes> zlib;  // compressed blocks, without "CK"
};

void* benchAlloc(uint32_t n) {
    return std::malloc(n);
}
void benchFree(void* p) {
    std::free(p);
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_mszip: %s\n", what.c_str());
    std::exit(1);
}

std::vector<std::string> defaultCorpus() {
    std::vector<std::string> files =
        StandardCorpus({"/usr/bin/bash", "/usr/bin/ls", "/usr/bin/openssl"});
    // Images that leave out documentation lack the HTML page; measure the rest.
    std::vector<std::string> present;
    for (const auto& f : files) {
        if (fs::exists(f)) {
            present.push_back(f);
        } else {
            std::printf("corpus file missing, skipped: %s\n", f.c_str());
        }
    }
    return present;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        die("cannot read " + path);
    }
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

double cpuSeconds(std::clock_t since) {
    return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

// Best of a few runs of each, alternating between the two so that both see the same
// neighbours, in processor time of this process: the machines this runs on are shared,
// and wall-clock time would mostly measure the neighbours.
template <typename F, typename G>
void bestSeconds(F&& ours, G&& theirs, double& oursBest, double& theirsBest) {
    oursBest = theirsBest = 1e30;
    for (int i = 0; i < kRepeats; ++i) {
        std::clock_t t0 = std::clock();
        ours();
        oursBest = std::min(oursBest, cpuSeconds(t0));
        t0 = std::clock();
        theirs();
        theirsBest = std::min(theirsBest, cpuSeconds(t0));
    }
}

void compressOurs(std::vector<Stream>& streams) {
    MszipCompressor* c = nullptr;
    uint32_t outSize = 0;
    if (mszipCompressCreate(0, benchAlloc, benchFree, &c, &outSize) != mszipCompressOk) {
        die("mszipCompressCreate failed");
    }
    Bytes out(outSize);
    for (auto& s : streams) {
        s.ours.clear();
        for (size_t at = 0; at < s.data.size(); at += kBlock) {
            uint32_t n = static_cast<uint32_t>(std::min(kBlock, s.data.size() - at));
            uint16_t len = 0;
            int st = mszipCompress(c, s.data.data() + at, n, out.data(), outSize, &len);
            if (st != mszipCompressOk) {
                die(std::string("mszipCompress: ") + mszipCompressStatusName(st));
            }
            s.ours.emplace_back(out.begin(), out.begin() + len);
        }
        mszipCompressReset(c);  // every file its own folder
    }
    mszipCompressDestroy(c);
}

void compressZlib(std::vector<Stream>& streams) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        die("deflateInit2 failed");
    }
    Bytes out(deflateBound(&z, kBlock) + 16);
    for (auto& s : streams) {
        s.zlib.clear();
        for (size_t at = 0; at < s.data.size(); at += kBlock) {
            size_t n = std::min(kBlock, s.data.size() - at);
            deflateReset(&z);
            if (at >= kBlock) {  // the previous block is always full here
                deflateSetDictionary(&z, s.data.data() + at - kBlock, kBlock);
            }
            z.next_in = const_cast<Bytef*>(s.data.data() + at);
            z.avail_in = static_cast<uInt>(n);
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
                die("deflate did not finish");
            }
            s.zlib.emplace_back(out.begin(), out.begin() + (out.size() - z.avail_out));
        }
    }
    deflateEnd(&z);
}

// Inflates our blocks with zlib; answers false on any mismatch.
bool inflateZlib(const std::vector<Stream>& streams, Bytes& scratch) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        die("inflateInit2 failed");
    }
    scratch.resize(2 * kBlock);
    bool ok = true;
    for (const auto& s : streams) {
        for (size_t b = 0; b < s.ours.size(); ++b) {
            size_t at = b * kBlock;
            size_t n = std::min(kBlock, s.data.size() - at);
            uint8_t* dst = scratch.data() + (b & 1) * kBlock;
            inflateReset(&z);
            if (b > 0) {
                inflateSetDictionary(&z, scratch.data() + ((b - 1) & 1) * kBlock, kBlock);
            }
            z.next_in = const_cast<Bytef*>(s.ours[b].data() + 2);
            z.avail_in = static_cast<uInt>(s.ours[b].size() - 2);
            z.next_out = dst;
            z.avail_out = kBlock;
            int rc = inflate(&z, Z_FINISH);
            if (rc != Z_STREAM_END || kBlock - z.avail_out != n ||
                std::memcmp(dst, s.data.data() + at, n) != 0) {
                ok = false;
            }
        }
    }
    inflateEnd(&z);
    return ok;
}

#ifdef QB_HAVE_MSZIP_DECOMPRESSOR
bool inflateOurs(const std::vector<Stream>& streams, Bytes& window) {
    MszipDecompressor* d = nullptr;
    uint32_t inSize = 0;
    if (mszipDecompressCreate(0, benchAlloc, benchFree, &d, &inSize) != mszipDecompressOk) {
        die("mszipDecompressCreate failed");
    }
    window.resize(kMszipDecompressWindow);
    bool ok = true;
    for (const auto& s : streams) {
        mszipDecompressReset(d);
        for (size_t b = 0; b < s.ours.size(); ++b) {
            size_t at = b * kBlock;
            size_t n = std::min(kBlock, s.data.size() - at);
            uint32_t outSize = static_cast<uint32_t>(n);
            int st = mszipDecompress(d, s.ours[b].data(), static_cast<uint32_t>(s.ours[b].size()),
                                     window.data(), &outSize);
            if (st != mszipDecompressOk || outSize != n ||
                std::memcmp(window.data(), s.data.data() + at, n) != 0) {
                ok = false;
            }
        }
    }
    mszipDecompressDestroy(d);
    return ok;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        paths.push_back(argv[i]);
    }
    if (paths.empty()) {
        paths = defaultCorpus();
    }
    std::vector<Stream> streams;
    size_t total = 0;
    for (const auto& p : paths) {
        Stream s;
        s.name = p;
        s.data = readFile(p);
        total += s.data.size();
        if (!s.data.empty()) {
            streams.push_back(std::move(s));
        }
    }
    std::printf("corpus: %zu files, %zu bytes\n", paths.size(), total);
    for (const auto& s : streams) {
        std::printf("  %10zu  %s\n", s.data.size(), s.name.c_str());
    }

    double ourCompress = 0;
    double zlibCompress = 0;
    bestSeconds([&] { compressOurs(streams); }, [&] { compressZlib(streams); }, ourCompress,
                zlibCompress);
    size_t ourBytes = 0;
    size_t zlibBytes = 0;
    for (const auto& s : streams) {
        for (const auto& b : s.ours) {
            ourBytes += b.size();
        }
        for (const auto& b : s.zlib) {
            zlibBytes += b.size() + 2;  // counted with a "CK" as well
        }
    }

    // Both decoders work on the same data: our compressed blocks, which zlib must inflate
    // to the input as well.
    Bytes scratch;
    bool zlibOk = true;
    double zlibInflate = 0;
    double ratioDecompress = 0;
#ifdef QB_HAVE_MSZIP_DECOMPRESSOR
    bool oursOk = true;
    double ourInflate = 0;
    bestSeconds([&] { oursOk = inflateOurs(streams, scratch) && oursOk; },
                [&] { zlibOk = inflateZlib(streams, scratch) && zlibOk; }, ourInflate, zlibInflate);
    if (!oursOk) {
        die("our decompressor does not restore the input");
    }
    ratioDecompress = zlibInflate / ourInflate;
    std::printf("decompress: ours %.1f MB/s, zlib %.1f MB/s\n", total / ourInflate / 1e6,
                total / zlibInflate / 1e6);
#else
    double unused = 0;
    bestSeconds([] {}, [&] { zlibOk = inflateZlib(streams, scratch) && zlibOk; }, unused,
                zlibInflate);
    std::printf("decompress: our decompressor is not built; zlib %.1f MB/s\n",
                total / zlibInflate / 1e6);
#endif
    if (!zlibOk) {
        die("zlib does not inflate our blocks to the input");
    }
    std::printf("compressed: ours %zu bytes, zlib -9 %zu bytes\n", ourBytes, zlibBytes);
    std::printf("compress: ours %.1f MB/s, zlib -9 %.1f MB/s (best of %d, processor time)\n",
                total / ourCompress / 1e6, total / zlibCompress / 1e6, kRepeats);
    std::printf(
        "mszip: size_vs_zlib9=%.3f compress_speed_vs_zlib9=%.3f decompress_speed_vs_zlib=%.3f\n",
        static_cast<double>(ourBytes) / static_cast<double>(zlibBytes), zlibCompress / ourCompress,
        ratioDecompress);
    return 0;
}
