// Arbitrary bytes as CSS read from a fixed address. The CSS pass must not crash, must stay
// linear (the run's time-out catches blow-ups), must give every reference the one name its
// address has in the plan, must write only plain names, and must leave text without any
// url( or @import as it was.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "packager/fetch/grab_plan.h"
#include "packager/address/url_utils.h"
#include "packager/rewrite/css_rewriter.h"
#include "fuzz/fuzz_check.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string css(reinterpret_cast<const char*>(data), size);
    CGrabPlan plan(size > 0 ? data[0] % 8 : 1);  // small plans run full too
    CReferenceList found;
    CPassNames names(plan);
    CCssContext context{"http://h/css/s.css", names, found, size < 2 || data[1] % 2 == 0,
                        size < 3 || data[2] % 2 == 0};
    const std::string out = RewriteCss(css, context);
    plan.Append(found, 1);
    for (const CFoundReference& r : found) {
        size_t at = plan.Find(r.strAddress);
        Check(at != std::string::npos && plan.At(at).strLocalName == r.strLocalName);
        Check(r.strLocalName.find_first_of("/\\:*?\"<>|") == std::string::npos);
        Check(out.find(r.strLocalName) != std::string::npos);
    }
    if (FindTextNoCase(css, "url(", 0) < 0 && FindTextNoCase(css, "@import", 0) < 0) {
        Check(out == css);
    }
    return 0;
}
