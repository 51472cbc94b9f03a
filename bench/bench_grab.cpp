// A page of 40 distinct pictures, 20 of them shown twice, behind a server that answers every
// request after 100 ms (the fixture server's held answers), grabbed by quillbox's grab driver
// and by `wget -p -k` in the same run. Each is run twice and its faster run counts. The
// server counts the requests and the connections they came on. The last line is
//   grab: secs_vs_wget=X connections=N requests=N
// (quillbox's figures; requests should equal the 41 distinct addresses).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_server.h"
#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"
#include "platform/files.h"
#include "platform/internet.h"

namespace {

const int kDistinct = 40;
const int kRepeats = 20;
const char kHold[] = "0.1";

using Clock = std::chrono::steady_clock;

struct Stats {
    int requests = -1, connections = -1;
};

// The server's counts since the last reset, and a reset.
Stats TakeStats(const Server& server, const std::string& scratch) {
    CGrabber fetcher(platform::CreateInternetService());
    std::string file = scratch + "/stats.txt";
    Stats stats;
    int max = 0;
    if (fetcher.DownloadFile(server.Base() + "/_/held-stats?reset=1", file, false, false)) {
        std::sscanf(ReadText(file).c_str(), "max=%d requests=%d connections=%d", &max,
                    &stats.requests, &stats.connections);
    }
    std::remove(file.c_str());
    return stats;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int Run(const std::string& scratch, bool written) {
    Server server;
    if (!written || !server.Start(scratch, scratch)) {
        std::fprintf(stderr, "cannot start the fixture server\n");
        return 1;
    }
    std::string address = server.Base() + "/_/held/site/index.htm?s=" + kHold;
    std::printf("page: %s (%d pictures, %d shown again, %s s per request)\n", address.c_str(),
                kDistinct, kRepeats, kHold);

    double quillbox = 1e9;
    Stats ours;
    size_t files = 0;
    for (int run = 0; run < 2; ++run) {
        TakeStats(server, scratch);
        CGrabber grabber(platform::CreateInternetService());
        GrabJob job;
        Clock::time_point start = Clock::now();
        std::string error = grabber.Grab(address, job);
        double secs = Seconds(Clock::now() - start);
        Stats stats = TakeStats(server, scratch);
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::string folder = platform::FolderOf(job.strMainPage);
        // Less ".", ".." and the run's lock.
        files = platform::ListFolder(platform::JoinPath(folder, "*.*")).size() - 3;
        grabber.RemoveFolder(folder);
        std::printf("quillbox run %d: secs=%.3f connections=%d requests=%d files=%zu\n", run + 1,
                    secs, stats.connections, stats.requests, files);
        if (secs < quillbox) {
            quillbox = secs;
            ours = stats;
        }
    }
    CGrabber(nullptr).SweepWorkFolders();

    double wget = 1e9;
    for (int run = 0; run < 2; ++run) {
        std::string out = scratch + "/wget" + std::to_string(run);
        std::string command = "wget -q -p -k -P " + out + " '" + address + "'";
        TakeStats(server, scratch);
        Clock::time_point start = Clock::now();
        int rc = std::system(command.c_str());
        double secs = Seconds(Clock::now() - start);
        Stats stats = TakeStats(server, scratch);
        if (rc != 0) {
            std::fprintf(stderr, "wget failed (%d): is it installed?\n", rc);
            return 1;
        }
        std::printf("wget -p -k run %d: secs=%.3f connections=%d requests=%d\n", run + 1, secs,
                    stats.connections, stats.requests);
        wget = std::min(wget, secs);
    }
    std::printf("grab: secs_vs_wget=%.3f connections=%d requests=%d\n", quillbox / wget,
                ours.connections, ours.requests);
    return 0;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string scratch = "/tmp/qb-bench-grab-" + std::to_string(getpid());
    std::string site = scratch + "/site";
    if (!platform::FolderCreate(scratch) || !platform::FolderCreate(site)) {
        std::fprintf(stderr, "cannot make %s\n", site.c_str());
        return 1;
    }
    std::string page = "<html><head><title>Pictures</title></head><body>\n";
    for (int i = 0; i < kDistinct + kRepeats; ++i) {
        int n = i % kDistinct;
        page += "<p>Picture " + std::to_string(i) + ": <img src=\"p" + std::to_string(n) +
                ".png?s=" + kHold + "\" width=64 height=64></p>\n";
    }
    page += "</body></html>\n";
    bool written = WriteText(site + "/index.htm", page);
    for (int n = 0; n < kDistinct && written; ++n) {
        std::string bytes(4096 + 97 * n, static_cast<char>('A' + n % 26));
        written = WriteText(site + "/p" + std::to_string(n) + ".png", bytes);
    }
    int status = Run(scratch, written);
    std::system(("rm -rf '" + scratch + "'").c_str());
    return status;
}
