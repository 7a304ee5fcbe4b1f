// The mixer's options: help, version, and any other argument that begins with
// "-" refused before a file is read or written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/testutil.h"

using testutil::RunIn;
using testutil::TempDir;

namespace {

int Entries(const std::string& dir) { return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {})); }

}  // namespace

TEST(Options, HelpAndVersionTouchNoFile)
{
    for (const char* opt : {"--help", "-h", "tracks.txt --help"}) {
        TempDir dir;
        const testutil::RunResult r = RunIn(dir.path(), std::string("'" CORVALE_BIN "' ") + opt);
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.out.rfind("Usage: corvale", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("TRACKLIST"), std::string::npos);
        EXPECT_NE(r.out.find("Exit status"), std::string::npos);
        EXPECT_NE(r.out.find("README"), std::string::npos);
        EXPECT_EQ(Entries(dir.path()), 0) << "nothing is read or written: " << opt;
    }
    TempDir dir;
    const testutil::RunResult r = RunIn(dir.path(), "'" CORVALE_BIN "' --version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("corvale ") + PROJECT_VERSION_STRING + "\n");
    EXPECT_EQ(Entries(dir.path()), 0);
}

TEST(Options, AnUnknownOptionIsNeverTakenForAFileName)
{
    for (const char* opt : {"--chek", "-x", "tracks.txt -", "--"}) {
        TempDir dir;
        testutil::WriteText(dir / "prefs.txt", "begin\nend\n");
        const testutil::RunResult r = RunIn(dir.path(), std::string("'" CORVALE_BIN "' ") + opt);
        EXPECT_EQ(r.status, 2) << opt;
        EXPECT_NE(r.out.find("Usage: corvale"), std::string::npos) << r.out;
        EXPECT_EQ(Entries(dir.path()), 1) << opt;
        EXPECT_EQ(testutil::ReadBytes(dir / "prefs.txt"), "begin\nend\n");
    }
}
