// Arbitrary bytes as a page: the first line is the page's address, the rest its text. The
// page pass must not crash, must stay linear (the run's time-out catches blow-ups), and must
// leave the grabber's lists paired, the page queue without repeats, and every local name a
// plain file name.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "packager/rewrite/page_rewriter.h"

namespace {

int g_nReportsLeft = 0;

int Progress(CMainWindow*, std::string, int32_t position, int32_t range) {
    if (position < 0 || position > 100 || range != 100) {
        std::abort();
    }
    return --g_nReportsLeft == 0 ? 0 : 1;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsPlainName(const std::string& name) {
    return name.find_first_of("/\\:*?\"<>|") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nl = input.find('\n');
    std::string address = nl == std::string::npos ? "http://h/d/p.htm" : input.substr(0, nl);
    std::string text = nl == std::string::npos ? input : input.substr(nl + 1);
    const std::string original = text;

    // Some runs are stopped after a few reports; most run to the end.
    g_nReportsLeft = size > 0 && data[0] % 4 == 0 ? 1 + data[size - 1] % 8 : -1;
    GrabJob job;
    job.pfnProgress = &Progress;

    CPageRewriter::SetNameCounter(1);
    CStringList frames, paths, resources;
    CStringArray names;
    CFrameMap queued;
    bool finished = CPageRewriter().ProcessPage(address, text, "W", frames, paths, resources, names,
                                                job, &queued);

    Check(resources.size() == names.size());
    Check(frames.size() == paths.size());
    Check(std::set<std::string>(frames.begin(), frames.end()).size() == frames.size());
    for (const std::string& name : names) {
        Check(name.compare(0, 3, "QBT") == 0 && IsPlainName(name));
    }
    for (const std::string& path : paths) {
        Check(path.compare(0, 5, "W/QBT") == 0 && IsPlainName(path.substr(2)));
    }
    if (CPageRewriter::IsAlreadyProcessed(original)) {
        Check(finished && text == original);
    }
    // The pass only takes text away in scripts and dropped tags, and adds at most a footer
    // per closing body tag and the quotes and addresses of rewritten attributes.
    if (finished && original.find('<') == std::string::npos) {
        Check(text == original);
    }
    return 0;
}
