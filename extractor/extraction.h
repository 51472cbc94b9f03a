// The extractor driver: finds the cabinet behind the running program, unpacks it through
// the cabinet reader and opens the marked page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cabinet/reader/cabinet_reader.h"
#include "extractor/extractor_host.h"

namespace spillet {

// What the reader callbacks hand around as a file handle. A read-only open is the
// self-extracting executable: its positions are translated by the base read at offset 124.
struct SfxHandle {
    int fd = -1;
    bool translate = false;
    uint32_t base = 0;
    bool refused = false;  // an output that may not be written; nothing opened, writes fail
    // An extracted file: removed again when the reader closes it before it is complete
    // (a failed write, a damaged block, a cancel), so that no partial file stays.
    std::string path;
    bool complete = false;
};

// Told when a file starts (kind 2, value = its name) and is finished (kind 3, value = the
// number of files finished); answers -1 to stop the extraction, 1 to go on.
using ProgressHook = int (*)(void* hookContext, int kind, const void* value);

struct ExtractionContext {
    FdiContext* reader = nullptr;
    CabError error{};
    std::string inputPath;
    std::string destinationFolder;  // always ends in a backslash
    ProgressHook progress = nullptr;
    void* progressContext = nullptr;
    uint32_t filesDone = 0;
    uint32_t fileCount = 0;
    std::vector<std::string> launchList;
    bool progressOpen = false;
    bool aborted = false;
    bool nextCabinetMissing = false;  // gave up on a next cabinet that is not there
    std::string nextCabinet;          // the name of that cabinet
    // One line for the user that says why the extraction failed, when the driver knows
    // more than the reader's code.
    std::string cause;
    // What this run made in the destination (folders end in a separator), in the order
    // made: removed again when the user cancels, or when nobody will look there.
    std::vector<std::string> made;
};

// Exit status of the program.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // failed or cancelled
constexpr int kExitUsage = 2;   // bad command line

// Runs the whole program against `host` (splash, command line, extraction, launching).
// Returns the exit status (kExit*).
int RunExtractor(CExtractorHost& host);

// Steps of the run, open for tests.
// Opens the cabinet inside ctx.inputPath; returns its file count, 0 when there is nothing
// to extract (the reader is then already destroyed).
uint32_t OpenCabinet(CExtractorHost& host, ExtractionContext& ctx);
// FDICopy on the opened cabinet; true on success, else ctx.error holds the code.
bool CopyCabinet(CExtractorHost& host, ExtractionContext& ctx);
// Opens one extracted file: programs are run and waited for, anything else goes to the shell.
// True when a program ran to its end (it no longer needs its copy); false when the file
// went to the shell, which may read it long after, or was not opened.
bool LaunchFile(CExtractorHost& host, const std::string& path);

}  // namespace spillet
