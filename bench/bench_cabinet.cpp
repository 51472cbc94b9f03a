// bench_cabinet: our cabinet writer against `gcab -c -z`, and our cabinet reader against
// `cabextract`, on the same corpus (text, HTML and binaries present on every set-up machine,
// about 5 MB, copied into a scratch folder first).
//
// The peers run as whole processes; ours run in-process, with the same file work done for
// real: the writer reads every source file from disk and writes its temporary files and the
// cabinet to disk, the reader reads the cabinet from disk and writes every file to disk.
// Both sides are timed in CPU seconds (user + system; the peers' through their child
// process accounting), best of several alternating runs, so that the neighbours on a shared
// machine count less. Both writers put all files into one MSZIP folder, as gcab does; both
// readers unpack the cabinet our writer made.
//
// A second corpus stands for the bulk of a page: 40 MB of pictures that no deflate can shrink
// (pseudo-random bytes, 20 files of 2 MB). The archive builder packs that folder into an
// executable as the packager does, against `7zz a -tzip -mx1` and `gcab -c -z` on the same
// files; here both processor time and elapsed time are shown, since 7-Zip packs files on
// several threads.
//
// Last line:
// cabinet: write_speed_vs_gcab=R1 size_vs_gcab=R2 read_speed_vs_cabextract=R3
//   package_secs_vs_7zip=R4 package_secs_vs_gcab=R5 (processor time)
// (speed ratios above 1 mean ours is faster; the size ratio below 1 means ours is smaller;
// the packaging ratios are our time over theirs: below 1 means ours is faster).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "cabinet/reader/cabinet_reader.h"
#include "cabinet/writer/cabinet_writer.h"
#include "packager/output/output.h"
#include "platform/trace.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRepeats = 5;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "bench_cabinet: %s\n", what.c_str());
    std::exit(1);
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> CorpusSources() {
    return StandardCorpus(
        {"/usr/bin/bash", "/usr/bin/ls", "/usr/bin/openssl", "/usr/bin/tar", "/usr/bin/grep"});
}

double CpuSeconds(int who) {
    rusage u;
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void RunPeer(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        Die("failed: " + command);
    }
}

// Runtime-numbered open flags to POSIX ones.
int PosixFlags(int flags) {
    int out = (flags & 0x0002) ? O_RDWR : (flags & 0x0001) ? O_WRONLY : O_RDONLY;
    if (flags & 0x0100) {
        out |= O_CREAT;
    }
    if (flags & 0x0200) {
        out |= O_TRUNC;
    }
    if (flags & 0x0400) {
        out |= O_EXCL;
    }
    return out;
}

// ---- writer callbacks over POSIX files ----
int32_t WOpen(const char* path, int32_t flags, int32_t mode, int32_t* err, void*) {
    int fd = open(path, PosixFlags(flags), mode);
    if (fd < 0) {
        *err = errno;
    }
    return fd;
}
int32_t WRead(int32_t h, void* b, uint32_t n, int32_t* err, void*) {
    ssize_t r = read(h, b, n);
    if (r < 0) {
        *err = errno;
    }
    return int32_t(r);
}
int32_t WWrite(int32_t h, const void* b, uint32_t n, int32_t* err, void*) {
    ssize_t r = write(h, b, n);
    if (r < 0) {
        *err = errno;
    }
    return int32_t(r);
}
int32_t WClose(int32_t h, int32_t*, void*) {
    return close(h);
}
int32_t WSeek(int32_t h, int32_t offset, int32_t origin, int32_t*, void*) {
    return int32_t(lseek(h, offset, origin));
}
int32_t WDelete(const char* path, int32_t*, void*) {
    return unlink(path);
}
std::string g_scratch;
bool WTempName(char* buffer, int32_t size, void*) {
    static int counter = 0;
    std::snprintf(buffer, size_t(size), "%s/tmp%d", g_scratch.c_str(), ++counter);
    return true;
}
int32_t WPlaced(CabinetParams*, const char*, uint32_t, bool, void*) {
    return 0;
}
int32_t WNext(CabinetParams*, uint32_t, void*) {
    return 0;
}
int32_t WStatus(int32_t, uint32_t, uint32_t, void*) {
    return 0;
}
int32_t WOpenInfo(const char* path, uint16_t* date, uint16_t* time, uint16_t* attributes,
                  int32_t* err, void*) {
    *date = 0x5B89;
    *time = 0x6000;
    *attributes = 0x20;
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        *err = errno;
    }
    return fd;
}
void* Alloc(uint32_t n) {
    return std::malloc(n);
}
void Free(void* p) {
    std::free(p);
}

void WriteOurs(const std::string& corpus, const std::vector<std::string>& names,
               const std::string& cabinet) {
    CabinetParams params = {};
    params.folderThreshold = 0x7FFFFFFF;
    params.setId = 65432;
    std::snprintf(params.cabinetName, sizeof params.cabinetName, "%s", cabinet.c_str());
    CabError error = {};
    FciContext* fci = FCICreate(&error, WPlaced, Alloc, Free, WOpen, WRead, WWrite, WClose, WSeek,
                                WDelete, WTempName, &params, nullptr);
    if (!fci) {
        Die("FCICreate failed: " + std::to_string(error.code));
    }
    for (const std::string& name : names) {
        std::string path = corpus + "/" + name;
        if (!FCIAddFile(fci, path.c_str(), name.c_str(), false, WNext, WStatus, WOpenInfo,
                        kCabCompressMszip)) {
            Die("FCIAddFile failed: " + std::to_string(error.code));
        }
    }
    if (!FCIFlushCabinet(fci, false, WNext, WStatus) || !FCIDestroy(fci)) {
        Die("FCIFlushCabinet failed: " + std::to_string(error.code));
    }
}

// ---- reader callbacks over POSIX files ----
intptr_t ROpen(const char* path, int flags, int mode) {
    return open(path, PosixFlags(flags), mode);
}
int32_t RRead(intptr_t h, void* b, uint32_t n) {
    return int32_t(read(int(h), b, n));
}
int32_t RWrite(intptr_t h, const void* b, uint32_t n) {
    return int32_t(write(int(h), b, n));
}
int RClose(intptr_t h) {
    return close(int(h));
}
int32_t RSeek(intptr_t h, int32_t offset, int origin) {
    return int32_t(lseek(int(h), offset, origin));
}
std::string g_outDir;
intptr_t RNotify(int type, FdiNotification* n) {
    if (type == fdintCOPY_FILE) {
        return open((g_outDir + "/" + n->str1).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (type == fdintCLOSE_FILE_INFO) {
        close(int(n->handle));
        return 1;
    }
    return 0;
}

void ReadOurs(const std::string& cabinet, const std::string& outDir) {
    g_outDir = outDir;
    CabError error = {};
    FdiContext* fdi = FDICreate(Alloc, Free, ROpen, RRead, RWrite, RClose, RSeek, 1, &error);
    fs::path p(cabinet);
    std::string dir = p.parent_path().string() + "/";
    if (!fdi ||
        !FDICopy(fdi, p.filename().string().c_str(), dir.c_str(), 0, RNotify, nullptr, nullptr)) {
        Die("FDICopy failed: " + std::string(FDIErrorText(error.code)));
    }
    FDIDestroy(fdi);
}

void CheckExtracted(const std::string& corpus, const std::vector<std::string>& names,
                    const std::string& outDir, const char* who) {
    for (const std::string& name : names) {
        if (ReadWhole(corpus + "/" + name) != ReadWhole(outDir + "/" + name)) {
            Die(std::string(who) + " extracted " + name + " wrongly");
        }
    }
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Processor and elapsed seconds of one timed step.
struct Timing {
    double cpu = 1e9;
    double wall = 1e9;
};

template <typename F>
void TimeBest(Timing& best, int who, F&& step) {
    double c0 = CpuSeconds(who);
    double w0 = WallSeconds();
    step();
    best.cpu = std::min(best.cpu, CpuSeconds(who) - c0);
    best.wall = std::min(best.wall, WallSeconds() - w0);
}

// Fills a folder with count files of size bytes each that deflate cannot shrink, and a
// small page to mark as the main one; answers the file names (the page first).
std::vector<std::string> MakeIncompressibleFolder(const std::string& folder, int count,
                                                  size_t size) {
    std::vector<std::string> names = {"index.htm"};
    std::ofstream(folder + "/index.htm", std::ios::binary) << "<html><body>pictures</body></html>";
    uint64_t state = 0x9E3779B97F4A7C15ull;
    std::string data(size, '\0');
    for (int i = 0; i < count; ++i) {
        for (size_t at = 0; at + 8 <= size; at += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(&data[at], &state, 8);
        }
        std::string name = "QBT" + std::to_string(i) + ".jpg";
        std::ofstream(folder + "/" + name, std::ios::binary) << data;
        names.push_back(name);
    }
    return names;
}

// Packs an incompressible folder with the archive builder and with the two peers.
void BenchIncompressible(const fs::path& root, double& vs7zip, double& vsGcab) {
    std::string folder = (root / "pictures").string();
    fs::create_directories(folder);
    std::vector<std::string> names = MakeIncompressibleFolder(folder, 20, 2 << 20);
    // Only the length of the head matters here, and a free cabinet base field.
    std::string head = (root / "head.exe").string();
    std::ofstream(head, std::ios::binary) << std::string(65536, '\0');
    std::string ourExe = (root / "pictures.exe").string();
    std::string zip = (root / "pictures.zip").string();
    std::string cab = (root / "pictures.cab").string();
    std::string list;
    for (const std::string& name : names) {
        list += " '" + name + "'";
    }
    std::string zipCommand =
        "cd '" + folder + "' && 7zz a -tzip -mx1 -bso0 -bsp0 '" + zip + "'" + list;
    std::string gcabCommand = "cd '" + folder + "' && gcab -c -z '" + cab + "'" + list;

    // As in quillbox on a terminal: the builder's trace lines are not written.
    platform::SetTraceEnabled(false);
    Timing ours, sevenZip, gcab;
    for (int i = 0; i < kRepeats; ++i) {
        fs::remove(ourExe);
        TimeBest(ours, RUSAGE_SELF, [&] {
            COutputContext context;
            context.strExtractorTemplate = head;
            std::unique_ptr<COutput> output = CreateOutput(OutputKind::Executable, context);
            if (!WriteCapture(*output, ourExe, folder + "/index.htm")) {
                Die("writing the executable failed");
            }
        });
        fs::remove(zip);
        TimeBest(sevenZip, RUSAGE_CHILDREN, [&] { RunPeer(zipCommand); });
        fs::remove(cab);
        TimeBest(gcab, RUSAGE_CHILDREN, [&] { RunPeer(gcabCommand); });
    }
    // The executable must still hold every picture: cabextract reads the cabinet behind the
    // head (it finds it by its signature).
    std::string out = (root / "pictures_out").string();
    fs::create_directories(out);
    RunPeer("cabextract -q -d '" + out + "' '" + ourExe + "'");
    CheckExtracted(folder, names, out, "cabextract (packaged pictures)");

    uint64_t total = 0;
    for (const std::string& name : names) {
        total += fs::file_size(folder + "/" + name);
    }
    std::printf("incompressible: %zu files, %llu bytes\n", names.size(), (unsigned long long)total);
    std::printf(
        "package: ours %.3f s cpu %.3f s wall, %llu bytes; 7zz -tzip -mx1 %.3f s cpu "
        "%.3f s wall, %llu bytes; gcab -c -z %.3f s cpu %.3f s wall, %llu bytes\n",
        ours.cpu, ours.wall, (unsigned long long)fs::file_size(ourExe), sevenZip.cpu, sevenZip.wall,
        (unsigned long long)fs::file_size(zip), gcab.cpu, gcab.wall,
        (unsigned long long)fs::file_size(cab));
    std::printf("package: elapsed ours/7zz %.2f, ours/gcab %.2f\n", ours.wall / sevenZip.wall,
                ours.wall / gcab.wall);
    vs7zip = ours.cpu / sevenZip.cpu;
    vsGcab = ours.cpu / gcab.cpu;
}

}  // namespace

int main() {
    for (const char* tool : {"gcab", "cabextract", "7zz"}) {
        if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0) {
            Die(std::string(tool) + " is not installed");
        }
    }
    fs::path root = fs::temp_directory_path() / ("bench_cabinet_" + std::to_string(getpid()));
    fs::remove_all(root);
    std::string corpus = (root / "corpus").string();
    g_scratch = (root / "scratch").string();
    fs::create_directories(corpus);
    fs::create_directories(g_scratch);

    // Flat, distinct names so that both tools store the same names.
    std::vector<std::string> names;
    uint64_t total = 0;
    for (const std::string& source : CorpusSources()) {
        std::string data = ReadWhole(source);
        if (data.empty()) {
            continue;
        }
        std::string name =
            std::to_string(names.size()) + "_" + fs::path(source).filename().string();
        std::ofstream(corpus + "/" + name, std::ios::binary) << data;
        names.push_back(name);
        total += data.size();
    }
    std::string list;
    for (const std::string& name : names) {
        list += " '" + name + "'";
    }
    std::printf("corpus: %zu files, %llu bytes\n", names.size(), (unsigned long long)total);

    std::string ourCab = (root / "ours.cab").string();
    std::string gcabCab = (root / "gcab.cab").string();
    std::string gcabCommand = "cd '" + corpus + "' && gcab -c -z '" + gcabCab + "'" + list;
    std::string outOurs = (root / "out_ours").string();
    std::string outPeer = (root / "out_peer").string();
    std::string cabextractCommand = "cabextract -q -d '" + outPeer + "' '" + ourCab + "'";

    double writeOurs = 1e9, writeGcab = 1e9, readOurs = 1e9, readPeer = 1e9;
    for (int i = 0; i < kRepeats; ++i) {
        fs::remove(ourCab);
        double t0 = CpuSeconds(RUSAGE_SELF);
        WriteOurs(corpus, names, ourCab);
        writeOurs = std::min(writeOurs, CpuSeconds(RUSAGE_SELF) - t0);

        fs::remove(gcabCab);
        t0 = CpuSeconds(RUSAGE_CHILDREN);
        RunPeer(gcabCommand);
        writeGcab = std::min(writeGcab, CpuSeconds(RUSAGE_CHILDREN) - t0);

        fs::remove_all(outOurs);
        fs::create_directories(outOurs);
        t0 = CpuSeconds(RUSAGE_SELF);
        ReadOurs(ourCab, outOurs);
        readOurs = std::min(readOurs, CpuSeconds(RUSAGE_SELF) - t0);

        fs::remove_all(outPeer);
        fs::create_directories(outPeer);
        t0 = CpuSeconds(RUSAGE_CHILDREN);
        RunPeer(cabextractCommand);
        readPeer = std::min(readPeer, CpuSeconds(RUSAGE_CHILDREN) - t0);
    }
    // Both readers produced the corpus; gcab's cabinet holds it too.
    CheckExtracted(corpus, names, outOurs, "our reader");
    CheckExtracted(corpus, names, outPeer, "cabextract");
    fs::remove_all(outOurs);
    fs::create_directories(outOurs);
    ReadOurs(gcabCab, outOurs);
    CheckExtracted(corpus, names, outOurs, "our reader (gcab's cabinet)");

    double ourSize = double(fs::file_size(ourCab));
    double gcabSize = double(fs::file_size(gcabCab));
    std::printf(
        "write: ours %.3f s, %.0f bytes (%.1f %%); gcab -c -z %.3f s, %.0f bytes (%.1f %%)\n",
        writeOurs, ourSize, 100.0 * ourSize / double(total), writeGcab, gcabSize,
        100.0 * gcabSize / double(total));
    std::printf("read: ours %.3f s; cabextract %.3f s (CPU seconds, best of %d)\n", readOurs,
                readPeer, kRepeats);
    double packageVs7zip = 0;
    double packageVsGcab = 0;
    BenchIncompressible(root, packageVs7zip, packageVsGcab);
    fs::remove_all(root);
    std::printf(
        "cabinet: write_speed_vs_gcab=%.2f size_vs_gcab=%.3f read_speed_vs_cabextract=%.2f "
        "package_secs_vs_7zip=%.2f package_secs_vs_gcab=%.2f\n",
        writeGcab / writeOurs, ourSize / gcabSize, readPeer / readOurs, packageVs7zip,
        packageVsGcab);
    return 0;
}
