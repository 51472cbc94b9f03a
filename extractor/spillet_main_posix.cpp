// spillet on Linux: spillet [input_file output_dir] on the terminal.
#include "extractor/extraction.h"
#include "extractor/host.h"

int main(int argc, char** argv) {
    auto host = spillet::MakeSystemHost(argc, argv);
    return spillet::RunExtractor(*host);
}
