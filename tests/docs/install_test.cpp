// `cmake --install` into a scratch DESTDIR: the programs, the manual pages and
// the guide land where a packager expects them, and the installed mixer runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/testutil.h"

using testutil::Exists;
using testutil::RunIn;
using testutil::TempDir;

TEST(Install, ProgramsManualPagesAndGuideLandUnderDestdirAndTheMixerRuns)
{
    TempDir dest;
    const auto r = RunIn(dest.path(), "DESTDIR='" + dest.path() + "' '" + CMAKE_BIN + "' --install '" + BUILD_DIR +
                                          "' --prefix /opt/cv");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string root = dest / "opt/cv";
    for (const char* file : {"bin/corvale", "bin/palisar", "bin/quenby", "share/man/man1/corvale.1",
                             "share/man/man1/palisar.1", "share/man/man1/quenby.1", "share/man/man5/corvale.5",
                             "share/doc/corvale/files.md", "share/doc/corvale/report.md"})
        EXPECT_TRUE(Exists(root + "/" + file)) << file;
    for (const char* program : {"corvale", "palisar", "quenby"}) {
        const auto perms = std::filesystem::status(root + "/bin/" + program).permissions();
        EXPECT_NE(perms & std::filesystem::perms::others_exec, std::filesystem::perms::none) << program;
    }
    // Nothing else of the build (tests, generators) is installed.
    int programs = 0;
    for (const auto& e : std::filesystem::directory_iterator(root + "/bin")) programs += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(programs, 3);

    const auto v = RunIn(dest.path(), root + "/bin/corvale --version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, std::string("corvale ") + PROJECT_VERSION_TEXT + "\n");
}
