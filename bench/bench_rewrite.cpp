// The page pass over generated pages of realistic markup (links, pictures, tables, forms,
// scripts, comments, frames), 1 MB and 32 MB, and the CSS pass over generated stylesheets of
// the same sizes. Prints the throughput on the large input and how the time per byte grows
// from the small input to the large one; the last two lines are
//   rewrite: mb_per_s=X scaling_32mb_vs_1mb=Y
//   css: mb_per_s=X scaling_32mb_vs_1mb=Y
#include <algorithm>
#include <ctime>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstdint>
#include <cstdio>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grab_plan.h"
#include "packager/rewrite/css_rewriter.h"
#include "packager/rewrite/page_rewriter.h"

namespace {

struct Random {
    uint32_t state = 12345;
    uint32_t Next() {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

const char* const kWords[] = {"garden", "rose", "club",  "spring", "meeting", "the",
                              "of",     "and",  "water", "soil",   "bloom",   "summer",
                              "annual", "show", "prize", "winter", "seeds",   "members"};

void Words(std::string& out, Random& r, int n) {
    for (int i = 0; i < n; ++i) {
        out += kWords[r.Below(sizeof(kWords) / sizeof(kWords[0]))];
        out += ' ';
    }
}

// One block of a typical page of the time: mostly text and links, some pictures.
void Block(std::string& out, Random& r, uint32_t n) {
    const std::string id = std::to_string(n);
    switch (r.Below(10)) {
        case 0:
            out += "<table width=\"100%\" border=0><tr><td background=img/cell" + id +
                   ".gif valign=top>\r\n<img SRC = \"img/pic" + id +
                   ".jpg\" width=120 height=90 alt=\"";
            Words(out, r, 3);
            out += "\" onMouseOver=\"hi(" + id + ")\"></td>\r\n<td>";
            Words(out, r, 40);
            out += "</td></tr></table>\r\n";
            break;
        case 1:
            out += "<script language=\"JavaScript\">\r\nfunction f" + id +
                   "() { if (a < b) { document.write('<b>x</b>'); } }\r\n</script>\r\n";
            break;
        case 2:
            out += "<!-- section " + id + ": layout > width -->\r\n";
            break;
        case 3:
            out += "<form action=\"/cgi-bin/find.pl\" method=post><input type=text name=q" + id +
                   " size=20><input type=image src=\"img/go.gif\"></form>\r\n";
            break;
        default:
            out += "<p class=text>";
            Words(out, r, 30);
            out += "<a href=\"/articles/2026/item" + id + ".htm\">";
            Words(out, r, 4);
            out += "</a> ";
            Words(out, r, 25);
            out += "<a href='#top'>top</a> <a href=mailto:club@tarnwick.example>mail</a></p>\r\n";
            break;
    }
}

std::string MakePage(size_t size) {
    Random r;
    std::string page =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n<html><head>"
        "<title>Club</title><link rel=stylesheet href=\"style.css\"></head>\r\n"
        "<body bgcolor=white background=\"img/paper.jpg\" onLoad=\"start()\">\r\n";
    uint32_t n = 0;
    while (page.size() < size) {
        Block(page, r, n++);
    }
    page += "</body></html>\r\n";
    return page;
}

struct CGoOn : CGrabProgress {
    int Report(const std::string&, int32_t) override { return 1; }
};

// Best of several runs, in seconds of processor time (the build machines are shared, so wall
// time would measure the neighbours).
double TimePass(const std::string& page, int runs) {
    double best = 1e30;
    CGoOn goOn;
    GrabJob job;
    job.pProgress = &goOn;
    for (int i = 0; i < runs; ++i) {
        CGrabPlan plan;
        CReferenceList found;
        CJobProgress progress(job);
        std::string text = page;
        std::string address = "http://www.tarnwick.example/club/index.htm";
        const std::clock_t start = std::clock();
        CPassNames names(plan);
        CPageRewriter().ProcessPage(address, text, names, found, progress);
        plan.Append(found, 0);
        const std::clock_t stop = std::clock();
        best = std::min(best, static_cast<double>(stop - start) / CLOCKS_PER_SEC);
        if (i == 0) {
            std::printf("  %zu bytes -> %zu bytes, %zu references, %zu files\n", page.size(),
                        text.size(), found.size(), plan.Size());
        }
    }
    return best;
}

// A stylesheet of the kind sites ship: rules with colours and sizes, comments, background
// pictures, font faces, strings, an import now and then.
std::string MakeStylesheet(size_t size) {
    Random r;
    std::string css = "@import url(\"base.css\");\n@charset \"utf-8\";\n";
    uint32_t n = 0;
    while (css.size() < size) {
        const std::string id = std::to_string(n++ % 4000);
        switch (r.Below(8)) {
            case 0:
                css += "/* section " + id + ": url(not-a-picture.png) */\n";
                break;
            case 1:
                css += ".hero" + id + " {\n  background: #fff URL( 'img/hero" + id +
                       ".jpg' ) no-repeat center / cover;\n  min-height: 40vh;\n}\n";
                break;
            case 2:
                css += "@font-face {\n  font-family: \"Face" + id + "\";\n  src: url(fonts/face" +
                       id + ".woff2) format(\"woff2\"), url(\"fonts/face" + id + ".woff\");\n}\n";
                break;
            case 3:
                css += ".icon-" + id + "::before { content: \"\\f" + id +
                       "\"; background-image: url(data:image/svg+xml;base64,PHN2Zz48L3N2Zz4=); }\n";
                break;
            default:
                css += ".nav-" + id + " > li a:hover, .nav-" + id +
                       " > li a:focus { color: rgb(20, 40, 60); padding: 0.25rem 1rem; "
                       "border-bottom: 1px solid #c0c0c0; transition: color .2s ease-in; }\n";
                break;
        }
    }
    return css;
}

double TimeCss(const std::string& css, int runs) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        CGrabPlan plan;
        CReferenceList found;
        CPassNames names(plan);
        CCssContext context{"http://www.tarnwick.example/club/css/site.css", names, found};
        const std::clock_t start = std::clock();
        std::string out = RewriteCss(css, context);
        plan.Append(found, 1);
        const std::clock_t stop = std::clock();
        best = std::min(best, static_cast<double>(stop - start) / CLOCKS_PER_SEC);
        if (i == 0) {
            std::printf("  css %zu bytes -> %zu bytes, %zu references, %zu files\n", css.size(),
                        out.size(), found.size(), plan.Size());
        }
    }
    return best;
}

}  // namespace

int main() {
    const size_t kSmall = 1u << 20;
    const size_t kLarge = 32u << 20;
    const std::string small = MakePage(kSmall);
    const std::string large = MakePage(kLarge);
    const double tSmall = TimePass(small, 9);
    // Sizes in between show where the time per byte settles once the page outgrows the
    // processor's caches (and its output needs fresh memory from the system).
    for (size_t mb : {4u, 8u, 16u}) {
        const std::string page = MakePage(mb << 20);
        const double t = TimePass(page, 3);
        std::printf("%zu MB: %.4f s, %.2f ms per MB\n", mb, t,
                    t * 1000.0 / (static_cast<double>(page.size()) / (1024.0 * 1024.0)));
    }
    const double tLarge = TimePass(large, 3);
    const double mbPerSecond = static_cast<double>(large.size()) / (1024.0 * 1024.0) / tLarge;
    const double scaling =
        (tLarge / static_cast<double>(large.size())) / (tSmall / static_cast<double>(small.size()));
    std::printf("1 MB: %.4f s (%.2f ms per MB), 32 MB: %.4f s (%.2f ms per MB)\n", tSmall,
                tSmall * 1000.0 / (static_cast<double>(small.size()) / (1024.0 * 1024.0)), tLarge,
                tLarge * 1000.0 / (static_cast<double>(large.size()) / (1024.0 * 1024.0)));
#ifdef __GLIBC__
    // The C library hands out blocks of 32 MB and more as fresh memory from the system on
    // every call (smaller ones come back from its heap), and a first touch of fresh memory is
    // costly on virtual machines. Measured again with the heap used for every size, the
    // difference shows what the allocator contributes; the figures below stay the default's.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    const double tSmallHeap = TimePass(small, 9);
    const double tLargeHeap = TimePass(large, 3);
    std::printf("heap for every size: 1 MB %.2f ms per MB, 32 MB %.2f ms per MB, scaling %.2f\n",
                tSmallHeap * 1000.0 / (static_cast<double>(small.size()) / (1024.0 * 1024.0)),
                tLargeHeap * 1000.0 / (static_cast<double>(large.size()) / (1024.0 * 1024.0)),
                (tLargeHeap / static_cast<double>(large.size())) /
                    (tSmallHeap / static_cast<double>(small.size())));
#endif
    std::printf("rewrite: mb_per_s=%.1f scaling_32mb_vs_1mb=%.2f\n", mbPerSecond, scaling);

    const std::string smallCss = MakeStylesheet(kSmall);
    const std::string largeCss = MakeStylesheet(kLarge);
    const double tSmallCss = TimeCss(smallCss, 9);
    const double tLargeCss = TimeCss(largeCss, 3);
    const double cssPerSecond =
        static_cast<double>(largeCss.size()) / (1024.0 * 1024.0) / tLargeCss;
    const double cssScaling = (tLargeCss / static_cast<double>(largeCss.size())) /
                              (tSmallCss / static_cast<double>(smallCss.size()));
    std::printf("css: mb_per_s=%.1f scaling_32mb_vs_1mb=%.2f\n", cssPerSecond, cssScaling);
    return 0;
}
