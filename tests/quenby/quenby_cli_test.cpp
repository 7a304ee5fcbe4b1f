// The program's options, its files and its standard descriptors, run as built.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <utility>
#include <string>

#include "tests/quenby/quenby_testing.h"

using qtest::Quenby;
using testutil::Exists;
using testutil::ReadBytes;
using testutil::TempDir;
using testutil::WriteText;

namespace {

// Every file of a directory with its bytes.
std::map<std::string, std::string> Snapshot(const TempDir& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files[entry.path().filename().string()] =
            entry.is_directory() ? std::string("<dir>") : ReadBytes(entry.path().string());
    return files;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A cue sheet whose saved block is a few kilobytes long.
std::string LongSheet()
{
    std::string text = "mix\n";
    for (int i = 0; i < 100; ++i) text += "t\t0\t" + std::to_string(i) + "\t0\nv\t" + std::to_string(1 + i % 9) + "\t-6\n";
    return text;
}

}  // namespace

TEST(QuenbyOptions, HelpAndVersionPrintAndTouchNothing)
{
    TempDir dir;
    WriteText(dir / "faders.txt", "mix\nt\t0\t1\t0\nv\t1\t-6\n");
    const auto before = Snapshot(dir);
    const auto help = Quenby(dir, "--help", "pf\nout.txt\nx\n");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: quenby [CUESHEET [TIMEFIELDS]]\n", 0), 0u) << help.out;
    for (const char* part : {"default: faders.txt", "(default: 3)", "--version", "Exit status:", "  2  an unknown option",
                             "README.md"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    EXPECT_EQ(help.out.find("Quenby 1.0"), std::string::npos);
    EXPECT_EQ(Quenby(dir, "-h", "").out, help.out);
    EXPECT_EQ(Quenby(dir, "faders.txt 2 --help", "").out, help.out);

    const auto version = Quenby(dir, "--version", "x\n");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quenby " PROJECT_VERSION_STRING "\n");
    EXPECT_EQ(Snapshot(dir), before);
}

TEST(QuenbyOptions, AnUnknownOptionPrintsTheUsageAndEndsWithStatus2)
{
    TempDir dir;
    WriteText(dir / "faders.txt", "mix\nt\t0\t1\t0\nv\t1\t-6\n");
    const auto before = Snapshot(dir);
    const std::string usage = Quenby(dir, "--help", "").out;
    const std::pair<const char*, const char*> cases[] = {
        {"--chek", "--chek"}, {"-x faders.txt", "-x"}, {"faders.txt -1", "-1"}, {"--help --verbose", "--verbose"}, {"--", "--"}};
    for (const auto& [args, bad] : cases) {
        const auto r = Quenby(dir, args, "pf\nout.txt\nx\n");
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, std::string("Error: unknown option ") + bad + "\n" + usage) << args;
    }
    EXPECT_EQ(Snapshot(dir), before);
}

TEST(QuenbyFiles, ACueSheetThatCannotBeOpenedOrReadIsNamedWithTheReason)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "adir");
    auto r = Quenby(dir, "adir", "x\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\nQuenby 1.0\nError: cannot read adir: nothing was loaded.\n  adir: Is a directory\n");
    r = Quenby(dir, "adir/none.txt", "x\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("\nQuenby 1.0\nFile adir/none.txt not found\n  adir/none.txt: No such file or directory\n"
                          "\nHelp:\n", 0), 0u) << r.out;
}

TEST(QuenbyFiles, ASavedFileReplacesTheOldOneWithItsModeAndLeavesNoTemporary)
{
    TempDir dir;
    WriteText(dir / "faders.txt", "mix\nt\t0\t1\t0\nv\t2\t-6\n");
    const std::string block = "mix\n\n\nt\t0\t1\t0\nv\t2\t-6.00\n";
    WriteText(dir / "old.txt", "keep");
    ::chmod((dir / "old.txt").c_str(), 0640);
    auto r = Quenby(dir, "", "pf\nold.txt\no\nx\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(dir / "old.txt"), block);
    EXPECT_EQ(ModeOf(dir / "old.txt"), 0640u);
    // New files: 0666 less the umask.
    r = Quenby(dir, "", "pf\nnew1.txt\nx\n", "umask 027; ");
    EXPECT_EQ(ModeOf(dir / "new1.txt"), 0640u);
    r = Quenby(dir, "", "pf\nnew2.txt\nx\n", "umask 0; ");
    EXPECT_EQ(ModeOf(dir / "new2.txt"), 0666u);
    EXPECT_EQ(ReadBytes(dir / "new2.txt"), block);
    // A file in another directory.
    std::filesystem::create_directory(dir / "sub");
    r = Quenby(dir, "", "pf\nsub/new3.txt\nx\n");
    EXPECT_EQ(ReadBytes(dir / "sub/new3.txt"), block);
    EXPECT_EQ(std::filesystem::hard_link_count(dir / "sub"), 2u);
    size_t inSub = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir / "sub")) ++inSub;
    EXPECT_EQ(inSub, 1u);
    const auto files = Snapshot(dir);
    EXPECT_EQ(files.size(), 5u);   // faders.txt, old.txt, new1.txt, new2.txt, sub
}

TEST(QuenbyFiles, AFailedSaveLeavesTheOldFileAndNoTemporaryAndEndsWithStatus1)
{
    TempDir dir;
    WriteText(dir / "faders.txt", LongSheet());
    WriteText(dir / "old.txt", "keep");
    ::chmod((dir / "old.txt").c_str(), 0604);
    std::filesystem::create_directory(dir / "adir");
    const auto before = Snapshot(dir);

    // A file size limit stops the write part way.
    auto r = Quenby(dir, "", "pf\nold.txt\no\npf\nnew.txt\nx\n", "trap '' XFSZ; ulimit -f 2; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: cannot write old.txt: nothing was written; the file already there is unchanged.\n"
                         "  old.txt: File too large\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Error: cannot write new.txt: nothing was written.\n  new.txt: File too large\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("Write complete"), std::string::npos);
    EXPECT_EQ(Snapshot(dir), before);
    EXPECT_EQ(ModeOf(dir / "old.txt"), 0604u);

    // A directory cannot be replaced; a missing directory cannot hold the file.
    r = Quenby(dir, "", "pf\nadir\no\npf\nnone/out.txt\nx\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: cannot write adir: nothing was written; the file already there is unchanged.\n"
                         "  adir: Is a directory\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Error: cannot create none/out.txt: nothing was written.\n"
                         "  none/out.txt: No such file or directory\n"),
              std::string::npos);
    EXPECT_EQ(Snapshot(dir), before);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "adir"));

    // A later save that works does not hide the failure.
    r = Quenby(dir, "", "pf\nnone/out.txt\npf\nfine.txt\nx\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Exists(dir / "fine.txt"));
}

TEST(QuenbyFiles, WindowsLineEndsAndAByteOrderMarkGiveTheSameSession)
{
    TempDir dir;
    const std::string lf = "begin\nmix\nt\t0\t1\t500\nv\t1\t-6\nrmp\t2\nt\t0\t3\t0\nv\t2\t-3\nshape\t2\nvca\t1\t0\nend\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    WriteText(dir / "lf.txt", lf);
    WriteText(dir / "crlf.txt", "\xEF\xBB\xBF" + crlf);
    const auto a = Quenby(dir, "lf.txt", "ps\npf\nlf.out\nx\n");
    const auto b = Quenby(dir, "crlf.txt", "ps\npf\ncrlf.out\nx\n");
    EXPECT_EQ(b.out, a.out);
    EXPECT_NE(a.out.find("\nbegin\n\n\nt\t0\t1\t500\nv\t1\t-6.00\nrmp\t2.000\n"), std::string::npos) << a.out;
    EXPECT_EQ(ReadBytes(dir / "crlf.out"), ReadBytes(dir / "lf.out"));
}

// With a standard descriptor closed, the next file opened would take its number.
TEST(QuenbyFiles, ClosedStandardDescriptorsAreOpenedOnDevNull)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(0);
        ::close(2);
        const auto openCount = [] {
            size_t n = 0;
            for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
            return n;
        };
        const size_t before = openCount();
        if (!quenby::OpenClosedStandardDescriptors()) ::_exit(10);
        struct stat null, st;
        if (::stat("/dev/null", &null) != 0) ::_exit(11);
        for (int fd = 0; fd <= 2; ++fd)
            if (::fstat(fd, &st) != 0 || (fd != 1 && st.st_rdev != null.st_rdev)) ::_exit(12 + fd);
        // Nothing more was left open.
        if (openCount() != before + 2) ::_exit(15);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // The program saves what it should with standard output closed.
    TempDir dir;
    WriteText(dir / "faders.txt", "mix\nt\t0\t1\t0\nv\t2\t-6\n");
    const auto r = Quenby(dir, ">&-", "pf\nout.txt\nx\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "mix\n\n\nt\t0\t1\t0\nv\t2\t-6.00\n");
}
