#include "packager/render/offline_check.h"

#include <cstdio>

#include "packager/address/url_utils.h"
#include "packager/render/render_session.h"
#include "packager/rewrite/page_rewriter.h"

namespace {

using nlohmann::json;

// The footer's words as the copy shows them (its text without the tags).
std::string FooterWords() {
    std::string words;
    bool inTag = false;
    for (const char* c = kFooterText; *c; ++c) {
        if (*c == '<') {
            inTag = true;
        } else if (*c == '>') {
            inTag = false;
        } else if (!inTag && *c != '\r' && *c != '\n') {
            words += *c;
        }
    }
    return words;
}

// The top of the copy's first footer in the picture (the window's height when none shows).
std::string FooterTopScript() {
    return "(() => { const words = " + json(FooterWords()).dump() +
           "; for (const p of document.querySelectorAll('p')) {"
           " if (p.textContent.trim() === words) {"
           " return Math.max(0, Math.floor(p.getBoundingClientRect().top)); } }"
           " return innerHeight; })()";
}

// 1 - RMSE of two pictures' colours over their top rows, computed in the page.
std::string CompareScript(const std::string& a, const std::string& b, int rows) {
    return "(async (a, b, rows) => {"
           " const load = src => new Promise((ok, no) => { const i = new Image();"
           "   i.onload = () => ok(i); i.onerror = () => no(new Error('no picture'));"
           "   i.src = src; });"
           " const x = await load(a), y = await load(b);"
           " const w = Math.min(x.width, y.width), h = Math.min(rows, x.height, y.height);"
           " if (w <= 0 || h <= 0) return 1;"
           " const px = img => { const c = document.createElement('canvas');"
           "   c.width = w; c.height = h; const g = c.getContext('2d');"
           "   g.drawImage(img, 0, 0); return g.getImageData(0, 0, w, h).data; };"
           " const p = px(x), q = px(y); let sum = 0;"
           " for (let i = 0; i < p.length; i += 4) for (let k = 0; k < 3; k++) {"
           "   const d = (p[i + k] - q[i + k]) / 255; sum += d * d; }"
           " return 1 - Math.sqrt(sum / (w * h * 3)); })(" +
           json("data:image/png;base64," + a).dump() + ", " +
           json("data:image/png;base64," + b).dump() + ", " + std::to_string(rows) + ")";
}

}  // namespace

bool CheckOfflineCopy(const std::string& liveAddress, const std::string& mainPagePath,
                      const CRenderOptions& options, COfflineCheck& result, std::string& error) {
    result = COfflineCheck();
    CRenderOptions own = options;
    // The copy's pages take their fonts from the files beside them.
    own.extraFlags.push_back("--allow-file-access-from-files");
    // Declared before the session: its events may write into them until it ends.
    CRenderedPage live, copy;
    CRenderSession session(own);
    std::string livePicture, copyPicture;
    json top, similarity;
    bool ok = session.Open() && session.Show(liveAddress, live) &&
              session.Screenshot(livePicture) &&
              session.Show(LocalPathToFileAddress(mainPagePath), copy, true, &result.tried) &&
              session.Evaluate(FooterTopScript().c_str(), top) && session.Screenshot(copyPicture);
    if (ok) {
        int rows = top.is_number() ? top.get<int>() : own.nHeight;
        ok = session.Evaluate(CompareScript(livePicture, copyPicture, rows).c_str(), similarity);
    }
    if (!ok) {
        error = session.Error();
        return false;
    }
    result.dSimilarity = similarity.is_number() ? similarity.get<double>() : 0;
    return true;
}

std::string SimilarityLine(double similarity) {
    char text[64];
    // Rounded down, so that a copy shown as 97.0 % has reached 97 %.
    std::snprintf(text, sizeof text, "%.1f", static_cast<int>(similarity * 1000) / 10.0);
    return std::string("offline copy matches the live page: ") + text + " %";
}
