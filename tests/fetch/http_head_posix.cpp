// The gatherer of response heads that libcurl hands over line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/http_response.h"

namespace {

qb::HttpResponseHead::State FeedAll(qb::HttpResponseHead& head,
                                    const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        head.FeedLine(line.data(), line.size());
    }
    return head.state();
}

TEST(HttpResponseHeadTest, GathersTheFinalHeadWithCrLfLines) {
    qb::HttpResponseHead head;
    // An interim answer, the real head with a bare LF line, and a chunked body's trailer.
    ASSERT_EQ(qb::HttpResponseHead::kDone,
              FeedAll(head, {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 404 Not Found\r\n",
                             "Content-Length: 3\n", "X-A: b\r\n", "\r\n"}));
    EXPECT_EQ(404, head.status());
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nX-A: b\r\n\r\n", head.rawHeaders());
    FeedAll(head, {"X-Trailer: t\r\n", "\r\n"});
    EXPECT_EQ(qb::HttpResponseHead::kDone, head.state());
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nX-A: b\r\n\r\n", head.rawHeaders());

    qb::HttpResponseHead two;  // HTTP/2 status lines as curl writes them
    ASSERT_EQ(qb::HttpResponseHead::kDone, FeedAll(two, {"HTTP/2 200 \r\n", "\r\n"}));
    EXPECT_EQ(200, two.status());
}

TEST(HttpResponseHeadTest, MalformedOrOversizedHeadsAreRefused) {
    for (const char* line : {"HTTP/1.0 20 OK", "HTTP/1.0 2000 OK", "HTTP/ 200 OK",
                             "http/1.0 200 OK", "HTTP/1.0 099 x", "ICY 200 OK", "HTTP/1.0 2x0"}) {
        qb::HttpResponseHead head;
        EXPECT_EQ(qb::HttpResponseHead::kBad, FeedAll(head, {std::string(line) + "\r\n"})) << line;
    }
    std::string nul("X-A: a\0b\r\n", 10);
    std::string longLine = "X-Long: " + std::string(qb::HttpResponseHead::kMaxLine, 'l') + "\r\n";
    for (const std::string& bad : {nul, longLine}) {
        qb::HttpResponseHead head;
        EXPECT_EQ(qb::HttpResponseHead::kBad, FeedAll(head, {"HTTP/1.1 200 OK\r\n", bad}));
        // Once refused, always refused.
        EXPECT_EQ(qb::HttpResponseHead::kBad, FeedAll(head, {"\r\n"}));
    }
    qb::HttpResponseHead many;
    std::vector<std::string> lines = {"HTTP/1.1 200 OK\r\n"};
    lines.resize(qb::HttpResponseHead::kMaxLines + 3, "X-Filler: f\r\n");
    EXPECT_EQ(qb::HttpResponseHead::kBad, FeedAll(many, lines));
    qb::HttpResponseHead big;
    lines = {"HTTP/1.1 200 OK\r\n"};
    lines.resize(qb::HttpResponseHead::kMaxLines, "X-Filler: " + std::string(400, 'f') + "\r\n");
    EXPECT_EQ(qb::HttpResponseHead::kBad, FeedAll(big, lines));
}

}  // namespace
