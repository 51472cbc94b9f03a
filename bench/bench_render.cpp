// A rendered capture (quillbox --render: the browser started, the page shown and taken, the
// usual page pass and fetches) against a static grab of the same fixture page, served on
// 127.0.0.1, in one run. Each is run three times and its fastest run counts. The last line is
//   render: secs=X static_secs=Y ratio=Z
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/bench_server.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"
#include "packager/render/browser_discovery.h"
#include "packager/render/rendered_page_source.h"
#include "platform/files.h"
#include "platform/internet.h"

namespace {

using Clock = std::chrono::steady_clock;

// The fastest of three grabs of address, in seconds; negative when one fails.
double FastestGrab(const std::string& address, CPageSource* source) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        CGrabber grabber(platform::CreateInternetService());
        GrabJob job;
        job.pPageSource = source;
        Clock::time_point start = Clock::now();
        std::string error = grabber.Grab(address, job);
        double secs = std::chrono::duration<double>(Clock::now() - start).count();
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return -1;
        }
        grabber.RemoveFolder(platform::FolderOf(job.strMainPage));
        std::printf("%s run %d: secs=%.3f\n", source ? "rendered" : "static", run + 1, secs);
        best = std::min(best, secs);
    }
    return best;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    CBrowserChoice browser = FindSystemBrowser();
    if (browser.strProgram.empty()) {
        std::fprintf(stderr, "%s\n", browser.strProblem.c_str());
        return 1;
    }
    std::string scratch = "/tmp/qb-bench-render-" + std::to_string(getpid());
    Server server;
    if (!platform::FolderCreate(scratch) ||
        !server.Start(std::string(QB_SOURCE_DIR) + "/tests/fixtures/rendered", scratch)) {
        std::fprintf(stderr, "cannot start the fixture server\n");
        return 1;
    }
    std::string address = server.Base() + "/canvas.htm";
    std::printf("page: %s, browser: %s\n", address.c_str(), browser.strProgram.c_str());
    CRenderedPageSource rendered(browser.strProgram, 20000);
    double renderedSecs = FastestGrab(address, &rendered);
    double staticSecs = FastestGrab(address, nullptr);
    CGrabber(nullptr).SweepWorkFolders();
    platform::FileRemove(scratch + "/port");
    if (renderedSecs < 0 || staticSecs < 0) {
        return 1;
    }
    std::printf("render: secs=%.3f static_secs=%.3f ratio=%.1f\n", renderedSecs, staticSecs,
                renderedSecs / staticSecs);
    return 0;
}
