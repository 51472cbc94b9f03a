// spillet on Linux: unpacks a self-extracting page on the terminal.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "extractor/extraction.h"
#include "extractor/host.h"
#include "qb_version.h"

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "Usage: spillet [-v] input_file [output_dir]\n"
        "Unpacks a self-extracting page made by quillbox and opens its marked page.\n"
        "  output_dir    the folder to unpack into, made when missing; without it, a new\n"
        "                folder of its own under $TMPDIR (or /tmp)\n"
        "  -v            write the diagnostic trace to standard output (also QB_TRACE=1)\n"
        "  -h, --help    show this help and exit\n"
        "  --version     show the version and exit\n"
        "Exit status: 0 unpacked; 1 failed or cancelled (files finished before stay, a\n"
        "partly written file is removed); 2 bad command line.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    bool verbose = std::getenv("QB_TRACE") != nullptr;
    bool options = true;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-h" || arg == "--help")) {
            Usage(stdout);
            return spillet::kExitDone;
        } else if (options && arg == "--version") {
            std::printf("spillet %s\n", QB_VERSION);
            return spillet::kExitDone;
        } else if (options && (arg == "-v" || arg == "--verbose")) {
            verbose = true;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "spillet: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return spillet::kExitUsage;
        } else {
            args.push_back(arg);
        }
    }
    // Without an input there is nothing sensible to do: the program itself holds no archive.
    if (args.empty() || args.size() > 2) {
        Usage(stderr);
        return spillet::kExitUsage;
    }
    auto host = spillet::MakeTerminalHost(args, verbose);
    return spillet::RunExtractor(*host);
}
