// The PATH search that finds the browser and xdg-open: the first folder that holds a program
// of that name, where only runnable regular files count and an empty entry is no folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/program_search.h"
#include "scratch.h"

namespace {

TEST(ProgramSearch, TakesTheFirstRunnableFileAndNeverTheCurrentFolder) {
    ScratchFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    for (const char* sub : {"plain", "folder", "runnable", "later", "here"})
        ASSERT_TRUE(platform::FolderCreate(dir / sub));
    // Not runnable; a folder of the name; the one to find; a second one further on.
    ASSERT_TRUE(ScratchFolder::Write(dir / "plain/tool", "#!/bin/sh\n"));
    ASSERT_TRUE(platform::FolderCreate(dir / "folder/tool"));
    for (const char* p : {"runnable/tool", "later/tool", "here/tool"}) {
        ASSERT_TRUE(ScratchFolder::Write(dir / p, "#!/bin/sh\n"));
        ASSERT_EQ(chmod((dir / p).c_str(), 0755), 0);
    }
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {dir / "plain" + ":" + dir / "folder" + ":" + dir / "runnable" + ":" + dir / "later",
         dir / "runnable/tool"},
        {dir / "later" + ":" + dir / "runnable", dir / "later/tool"},
        // The current folder holds one, but an empty entry (leading, doubled, trailing) is
        // not searched.
        {":" + dir / "plain" + "::", ""},
        {dir / "folder", ""},
    };
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir((dir / "here").c_str()), 0);
    for (const Case& c : cases) {
        EnvOverride path("PATH", c.path.c_str());
        EXPECT_EQ(platform::FindProgramOnPath("tool"), c.expected) << c.path;
    }
    EXPECT_EQ(chdir(old), 0);
    std::free(old);
}

}  // namespace
