// Arbitrary bytes as a page: the first line is the page's address, the rest its text. The
// page pass must not crash, must stay linear (the run's time-out catches blow-ups), must give
// every reference the one name its address has in the plan, and every local name must be a
// plain file name.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_plan.h"
#include "packager/rewrite/page_rewriter.h"
#include "fuzz/fuzz_check.h"

namespace {

int g_nReportsLeft = 0;

struct CountedProgress : CGrabProgress {
    int Report(const std::string&, int32_t position) override {
        if (position < 0 || position > 100) {
            std::abort();
        }
        return --g_nReportsLeft == 0 ? 0 : 1;
    }
};

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
    CountedProgress counted;
    GrabJob job;
    job.pProgress = &counted;

    CGrabPlan plan;
    CReferenceList found;
    CJobProgress progress(job);
    CRewriteOptions options;
    options.bKeepStyles = size == 0 || data[0] % 3 != 0;
    options.bLinksAsWritten = size > 1 && data[1] % 5 == 0;
    CPassNames names(plan);
    bool finished = CPageRewriter().ProcessPage(address, text, names, found, progress, options);
    plan.Append(found, 0);

    // Every reference has the one name its address has in the plan; names are plain.
    for (const CFoundReference& r : found) {
        size_t at = plan.Find(r.strAddress);
        Check(at != std::string::npos && plan.At(at).strLocalName == r.strLocalName);
    }
    for (size_t i = 0; i < plan.Size(); ++i) {
        const std::string& name = plan.At(i).strLocalName;
        Check(name.compare(0, 3, "QBT") == 0 && IsPlainName(name));
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
