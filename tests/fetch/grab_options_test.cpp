// The options of a grab from the values of the settings store: the defaults, what each value
// sets, and values that are out of bounds or not numbers.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "packager/fetch/grab_options.h"

namespace {

// A settings section as a table: integers and strings, as the registry keeps them apart.
class CTableSettings : public CSettingsSource {
  public:
    std::map<std::string, int> ints;
    std::map<std::string, std::string> texts;

    int ReadInt(const char* name, int fallback) const override {
        auto it = ints.find(name);
        return it == ints.end() ? fallback : it->second;
    }
    std::string ReadString(const char* name) const override {
        auto it = texts.find(name);
        return it == texts.end() ? "" : it->second;
    }
};

TEST(GrabOptions, DefaultsWhenNothingIsSet) {
    CGrabOptions options = ReadGrabOptions(CTableSettings());
    EXPECT_EQ(16, options.nMaxConnections);
    EXPECT_EQ(6, options.nMaxPerServer);
    EXPECT_EQ(256ull << 20, options.nMaxResourceBytes);
    EXPECT_EQ(2ull << 30, options.nMaxGrabBytes);
    EXPECT_EQ(64ull << 20, options.nMaxPageBytes);
    EXPECT_EQ(1ull << 30, options.nMaxDownloadBytes);
    EXPECT_EQ(20, options.nMaxRedirects);
    EXPECT_TRUE(options.bKeepStyles);
    EXPECT_FALSE(options.bRender);
    EXPECT_EQ(20, options.nRenderTimeoutSeconds);
    EXPECT_EQ(20000, options.timeouts.connectMs);
    EXPECT_EQ(60000, options.timeouts.readMs);
    EXPECT_EQ(300000, options.timeouts.requestMs);
}

TEST(GrabOptions, EachValueSetsItsOption) {
    CTableSettings settings;
    settings.ints = {{"MaxConnections", 3},    {"MaxConnectionsPerServer", 2},
                     {"KeepStyles", 0},        {"Render", 1},
                     {"RenderTimeout", 45},    {"MaxResourceBytes", 4096},
                     {"RequestTimeout", 86399}};
    // A byte count past what an integer value holds is written as text.
    settings.texts = {{"MaxGrabBytes", "4294967296"}};
    CGrabOptions options = ReadGrabOptions(settings);
    EXPECT_EQ(3, options.nMaxConnections);
    EXPECT_EQ(2, options.nMaxPerServer);
    EXPECT_FALSE(options.bKeepStyles);
    EXPECT_TRUE(options.bRender);
    EXPECT_EQ(45, options.nRenderTimeoutSeconds);
    EXPECT_EQ(4096u, options.nMaxResourceBytes);
    EXPECT_EQ(4294967296ull, options.nMaxGrabBytes);
    EXPECT_EQ(86399000, options.timeouts.requestMs);
    EXPECT_EQ(60000, options.timeouts.readMs);
    // A registry integer is unsigned: -1 is 4 GiB - 1.
    settings.ints["MaxResourceBytes"] = -1;
    EXPECT_EQ(4294967295ull, ReadGrabOptions(settings).nMaxResourceBytes);
}

TEST(GrabOptions, NonsenseKeepsTheDefaultAndACountHasACeiling) {
    CTableSettings settings;
    settings.ints = {{"MaxConnections", 0}, {"MaxConnectionsPerServer", 1000}};
    settings.texts = {{"MaxGrabBytes", "lots"}, {"MaxResourceBytes", "0"}};
    CGrabOptions options = ReadGrabOptions(settings);
    EXPECT_EQ(16, options.nMaxConnections);
    EXPECT_EQ(64, options.nMaxPerServer);
    EXPECT_EQ(2ull << 30, options.nMaxGrabBytes);
    EXPECT_EQ(256ull << 20, options.nMaxResourceBytes);
    // A request is bounded to more than nothing and less than a day.
    for (int seconds : {0, -5, 86400, 1 << 30}) {
        settings.ints["RequestTimeout"] = seconds;
        EXPECT_EQ(300000, ReadGrabOptions(settings).timeouts.requestMs) << seconds;
    }
}

}  // namespace
