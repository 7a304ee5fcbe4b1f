#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "corvale/run/output_file.h"
#include "tests/run/console_capture.h"

namespace fs = std::filesystem;

namespace {

class OutputFiles : public TempDirTest {
protected:
    static int Entries() { return static_cast<int>(std::distance(fs::directory_iterator("."), {})); }
};

}  // namespace

TEST_F(OutputFiles, LinksAreFollowedToTheFileTheyNameEvenWhenItIsMissing)
{
    fs::create_directory("real");
    WriteFile("real/mix.wav", "old");
    fs::create_symlink("real/mix.wav", "direct");
    fs::create_symlink("direct", "chain");
    fs::create_symlink("../real/new.wav", "real2");   // dangling, relative to the link's directory
    fs::create_directory("links");
    fs::create_symlink("../real/new.wav", "links/new.wav");

    const OutputTarget chain = ResolveTarget("chain");
    EXPECT_EQ(chain.real, "real/mix.wav");
    EXPECT_EQ(chain.dir, "real");
    EXPECT_TRUE(chain.exists);
    EXPECT_TRUE(chain.regular);

    const OutputTarget dangling = ResolveTarget("links/new.wav");
    EXPECT_EQ(dangling.real, "links/../real/new.wav");
    EXPECT_FALSE(dangling.exists);
    EXPECT_EQ(CheckWritable(dangling), 0);

    fs::create_symlink("loop_b", "loop_a");
    fs::create_symlink("loop_a", "loop_b");
    EXPECT_EQ(ResolveTarget("loop_a").error, ELOOP);
    EXPECT_EQ(CheckWritable(ResolveTarget("loop_a")), ELOOP);

    const OutputTarget dev = ResolveTarget("/dev/null");
    EXPECT_TRUE(dev.exists);
    EXPECT_FALSE(dev.regular);
}

TEST_F(OutputFiles, TargetsThatCannotTakeANewFileAreFoundBeforeWriting)
{
    WriteFile("plain", "x");
    EXPECT_EQ(CheckWritable(ResolveTarget("missing/mix.wav")), ENOENT);
    EXPECT_EQ(CheckWritable(ResolveTarget("plain/mix.wav")), ENOTDIR);
    EXPECT_EQ(CheckWritable(ResolveTarget("fresh.wav")), 0);
    EXPECT_EQ(CheckWritable(ResolveTarget("plain")), 0);
}

TEST_F(OutputFiles, ACommittedFileReplacesTheTargetWholeAndKeepsItsMode)
{
    WriteFile("mix.wav", "old contents");
    ::chmod("mix.wav", 0604);
    OutputFile out;
    ASSERT_TRUE(out.Open(ResolveTarget("mix.wav"), 4096));
    EXPECT_TRUE(out.usesTemporary());
    std::fputs("new", out.stream());
    std::fflush(out.stream());
    // Until the commit the old file is untouched and the new one has its own name.
    EXPECT_EQ(ReadFile("mix.wav"), "old contents");
    EXPECT_EQ(ReadFile(out.temporaryPath().c_str()), "new");
    EXPECT_EQ(Entries(), 2);
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(ReadFile("mix.wav"), "new");
    struct stat st;
    ASSERT_EQ(::stat("mix.wav", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(Entries(), 1);
}

TEST_F(OutputFiles, DiscardedAndSignalledTemporariesLeaveNothing)
{
    WriteFile("mix.wav", "old");
    {
        OutputFile out;
        ASSERT_TRUE(out.Open(ResolveTarget("mix.wav")));
        std::fputs("half", out.stream());
    }   // dropped without a commit
    EXPECT_EQ(ReadFile("mix.wav"), "old");
    EXPECT_EQ(Entries(), 1);

    OutputFile a, b;
    ASSERT_TRUE(a.Open(ResolveTarget("mix.wav")));
    ASSERT_TRUE(b.Open(ResolveTarget("mix.wav")));
    EXPECT_NE(a.temporaryPath(), b.temporaryPath());
    EXPECT_EQ(Entries(), 3);
    RemoveTemporaries();   // what a stop signal does
    EXPECT_EQ(Entries(), 1);
    EXPECT_EQ(ReadFile("mix.wav"), "old");
}

TEST_F(OutputFiles, WholeFilesAreWrittenThroughATemporary)
{
    ASSERT_TRUE(WriteWholeFile(ResolveTarget("report.txt"), "peaks\n"));
    EXPECT_EQ(ReadFile("report.txt"), "peaks\n");
    EXPECT_EQ(Entries(), 1);
    EXPECT_FALSE(WriteWholeFile(ResolveTarget("missing/report.txt"), "x"));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(OutputFiles, NamesOfOneFileAreTheSameFile)
{
    WriteFile("a.wav", "a");
    fs::create_hard_link("a.wav", "hard.wav");
    fs::create_symlink("a.wav", "soft.wav");
    fs::create_directory("sub");
    EXPECT_TRUE(SameFile(IdentityOf("a.wav"), IdentityOf("hard.wav")));
    EXPECT_TRUE(SameFile(IdentityOf("a.wav"), IdentityOf("soft.wav")));
    EXPECT_TRUE(SameFile(IdentityOf("sub/../a.wav"), IdentityOf("./a.wav")));
    EXPECT_FALSE(SameFile(IdentityOf("a.wav"), IdentityOf("b.wav")));
    // Files that do not exist yet compare by their real directory and name.
    EXPECT_TRUE(SameFile(IdentityOf("sub/../new.wav"), IdentityOf("new.wav")));
    EXPECT_FALSE(SameFile(IdentityOf("sub/new.wav"), IdentityOf("new.wav")));
}
