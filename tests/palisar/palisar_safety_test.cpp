// The generator never loses or half-writes a cue sheet: answers it cannot use
// end the dialogue before anything is written, a complete dialogue replaces
// faders.txt through a temporary file after keeping the earlier one, and the
// command line is read before anything else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "palisar/palisar.h"
#include "tests/testutil.h"

using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

const char kOneChannel[] = "2\n1\n0\n3\n";
const char kOneChannelText[] =
    "MixFilename\n"
    "\nPan\ncode\tchan\t%\np\t1\t0\n"
    "\nCue Times and Fader Levels\ncode\tmin\tsec\tmsec\nt\t0\t0\t0\nv\t1\t0.0\n"
    "\nend\n";
const char kEarlier[] = "begin\nmy mix\nt\t0\t0\t0\nv\t1\t-6.0\nend\n";

unsigned ModeOf(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
}

// Every entry of a directory: its name, its mode and, for a regular file, its bytes.
std::map<std::string, std::string> Snapshot(const TempDir& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        files[name] = std::to_string(ModeOf(e.path().string())) + ":" +
                      (e.is_regular_file() ? ReadBytes(e.path().string()) : "(not a file)");
    }
    return files;
}

std::string LastLine(const std::string& out)
{
    const size_t end = out.size() > 0 && out.back() == '\n' ? out.size() - 1 : out.size();
    const size_t start = out.rfind('\n', end == 0 ? 0 : end - 1);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

std::string Bin(const std::string& args = "") { return std::string(PALISAR_BIN) + args; }

}  // namespace

TEST(PalisarSafety, AnswersItCannotUseEndTheDialogueAndLeaveTheEarlierFile)
{
    struct Case {
        const char* answers;
        const char* prompt;   // the question the refused answer was given to
        const char* message;
    };
    const Case cases[] = {
        {"", "4. Exit.", "Error: the input ended before the question was answered; nothing was written."},
        {"2abc\n", "4. Exit.", "Error: the answer \"2abc\" is not a number; the dialogue ends and nothing was written."},
        {"4abc\n", "4. Exit.", "Error: the answer \"4abc\" is not a number; the dialogue ends and nothing was written."},
        {"2\ny\n", "Number of channels (1-127)?",
         "Error: the answer \"y\" is not a number; the dialogue ends and nothing was written."},
        {"2\n2 3\n", "Number of channels (1-127)?",
         "Error: the answer \"2 3\" is not a number; the dialogue ends and nothing was written."},
        {"2\n2\n-10dB\n", "What should the default fader value be?",
         "Error: the answer \"-10dB\" is not a number; the dialogue ends and nothing was written."},
        {"1\n2\n0\n2\n1\n", "Add parametric EQ band1? (1=yes, 2=no)",
         "Error: the input ended before the question was answered; nothing was written."},
        {"1\n1\n0\n1\n2\n12,5\n", "cut off frequency (Hz)?",
         "Error: the answer \"12,5\" is not a number; the dialogue ends and nothing was written."},
        {"9\n", "4. Exit.", "Error: there is no model 9 (the models are 1 to 4); nothing was written."},
        {"99999999999\n", "4. Exit.", "Error: there is no model 2147483647 (the models are 1 to 4); nothing was written."},
        {"2\n-5\n", "Number of channels (1-127)?",
         "Error: the channel count must be at least 1 (the answer was -5); nothing was written."},
        {"3\n0\n", "Number of channels (1-127)?",
         "Error: the channel count must be at least 1 (the answer was 0); nothing was written."},
        {"2\n2\n0\n4\n", "3. Don't add effects",
         "Error: there is no effects choice 4 (the choices are 1 to 3); nothing was written."},
        {"2\n2\n0\n0\n", "3. Don't add effects",
         "Error: there is no effects choice 0 (the choices are 1 to 3); nothing was written."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers);
        TempDir dir;
        WriteText(dir / "faders.txt", kEarlier);
        ::chmod((dir / "faders.txt").c_str(), 0640);
        const auto before = Snapshot(dir);
        const auto r = RunIn(dir.path(), Bin(), c.answers);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(std::string(c.prompt) + "\n" + c.message + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(LastLine(r.out), c.message);
        EXPECT_EQ(r.out.find("has been created"), std::string::npos);
        EXPECT_EQ(Snapshot(dir), before);   // faders.txt byte for byte, nothing new
    }
    // Without an earlier file none is created.
    TempDir dir;
    EXPECT_EQ(RunIn(dir.path(), Bin(), "2\n2\n0\n4\n").status, 1);
    EXPECT_TRUE(Snapshot(dir).empty());
}

TEST(PalisarSafety, AnswersWithBlanksAroundANumberOrNonFiniteValuesAreTaken)
{
    TempDir dir;
    // Blank lines first, blanks and a carriage return after the number, a sign,
    // a fader value beyond the float range (it stays 0), no line feed at the end.
    const auto r = RunIn(dir.path(), Bin(), "\n\n  2 \r\n+1\t\n-1e999\n3");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), kOneChannelText);

    // Yes/no answers other than 1 and a values choice other than 2 are still
    // "no" and "defaults".
    TempDir dir2;
    const auto r2 = RunIn(dir2.path(), Bin(), "2\n1\n0\n2\n1\n7\n0\n2\n2\n2\n2\n2\n2\n2\n2\n5\n");
    EXPECT_EQ(r2.status, 0) << r2.out;
    EXPECT_EQ(ReadBytes(dir2 / "faders.txt"),
              "MixFilename\n\nHigh Pass Filter\ncode\tchan\tfreq\n(hp)\t1\t100\n"
              "\nPan\ncode\tchan\t%\np\t1\t0\n"
              "\nCue Times and Fader Levels\ncode\tmin\tsec\tmsec\nt\t0\t0\t0\nv\t1\t0.0\n\nend\n");
}

TEST(PalisarSafety, ANewFileTakesTheUmaskAndAReplacedOneItsModeAfterABackup)
{
    TempDir dir;
    auto r = RunIn(dir.path(), "umask 027; " + Bin(), kOneChannel);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ModeOf(dir / "faders.txt"), 0640u);
    EXPECT_EQ(r.out.find("was kept as"), std::string::npos);
    EXPECT_EQ(Snapshot(dir).size(), 1u);

    WriteText(dir / "faders.txt", kEarlier);
    ::chmod((dir / "faders.txt").c_str(), 0604);
    r = RunIn(dir.path(), "umask 077; " + Bin(), kOneChannel);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("3. Don't add effects\nThe previous faders.txt was kept as faders.txt.bak.\n"
                         "The fader file has been created!\nRemove parenthesis around codes to activate effects.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), kOneChannelText);
    EXPECT_EQ(ModeOf(dir / "faders.txt"), 0604u);
    EXPECT_EQ(ReadBytes(dir / "faders.txt.bak"), kEarlier);
    EXPECT_EQ(ModeOf(dir / "faders.txt.bak"), 0604u);
    EXPECT_EQ(Snapshot(dir).size(), 2u);   // no temporary file left
}

TEST(PalisarSafety, TheBackupTakesTheFirstFreeNameAndLeavesOlderBackups)
{
    TempDir dir;
    WriteText(dir / "faders.txt", kEarlier);
    WriteText(dir / "faders.txt.bak", "first\n");
    WriteText(dir / "faders.txt.bak.1", "second\n");
    std::filesystem::create_symlink("nowhere", dir / "faders.txt.bak.2");   // a dangling link is taken too
    const auto r = RunIn(dir.path(), Bin(), kOneChannel);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("The previous faders.txt was kept as faders.txt.bak.3.\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir / "faders.txt.bak"), "first\n");
    EXPECT_EQ(ReadBytes(dir / "faders.txt.bak.1"), "second\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "faders.txt.bak.2"));
    EXPECT_EQ(ReadBytes(dir / "faders.txt.bak.3"), kEarlier);
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), kOneChannelText);
    EXPECT_EQ(Snapshot(dir).size(), 5u);
}

TEST(PalisarSafety, ALinkedCueSheetIsReplacedWhereItLivesAndTheLinkStays)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "shared");
    WriteText(dir / "shared/faders.txt", kEarlier);
    std::filesystem::create_symlink("shared/faders.txt", dir / "faders.txt");
    const auto r = RunIn(dir.path(), Bin(), kOneChannel);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "faders.txt"));
    EXPECT_EQ(ReadBytes(dir / "shared/faders.txt"), kOneChannelText);
    EXPECT_EQ(ReadBytes(dir / "faders.txt.bak"), kEarlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "shared"), {}), 1);
}

// The earlier file stays byte-identical and nothing is left behind, whichever
// step fails; each failure names the file and the system's reason.
TEST(PalisarSafety, AFailedWriteLeavesTheEarlierFileAndNoTemporary)
{
    struct Case {
        const char* command;   // "%" stands for the program
        size_t earlierSize;    // bytes of the earlier faders.txt
        const char* first;
        const char* reasonStart;
        const char* reasonEnd;
    };
    const Case cases[] = {
        // A file-size limit: the temporary file cannot be written.
        {"(ulimit -f 0; exec %)", 64, "Error writing faders.txt: the fader file was not written.\n",
         "Error: faders.txt.tmp", " could not be written: File too large.\n"},
        // Room for the new text but not for the copy of a large earlier file.
        {"(ulimit -f 20; exec %)", 100000, "Cannot create faders.txt: the fader file was not written.\n",
         "Error: faders.txt could not be kept as faders.txt.bak: ", "File too large.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        TempDir dir;
        WriteText(dir / "faders.txt", std::string(c.earlierSize, 'x'));
        const auto before = Snapshot(dir);
        std::string command = c.command;
        command.replace(command.find('%'), 1, PALISAR_BIN);
        const auto r = RunIn(dir.path(), command, kOneChannel);
        EXPECT_EQ(r.status, 1);
        const size_t at = r.out.find(std::string("3. Don't add effects\n") + c.first + c.reasonStart);
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.reasonEnd, at), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("has been created"), std::string::npos);
        EXPECT_EQ(Snapshot(dir), before);
    }
}

TEST(PalisarSafety, TargetsThatCannotBeReplacedAreReportedWithTheirReason)
{
    {   // A link into a directory that does not exist: no temporary file can be made there.
        TempDir dir;
        std::filesystem::create_symlink("missing/faders.txt", dir / "faders.txt");
        const auto r = RunIn(dir.path(), Bin(), kOneChannel);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("Cannot create faders.txt: the fader file was not written.\n"
                             "Error: the temporary file missing/faders.txt.tmpXXXXXX could not be created: "
                             "No such file or directory.\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(Snapshot(dir).size(), 1u);
    }
    {   // A device is written directly, and a full one says so.
        TempDir dir;
        std::filesystem::create_symlink("/dev/full", dir / "faders.txt");
        const auto r = RunIn(dir.path(), Bin(), kOneChannel);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("Error writing faders.txt: the fader file was not written.\n"
                             "Error: faders.txt could not be written: No space left on device.\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(Snapshot(dir).size(), 1u);
        EXPECT_EQ(RunIn(dir.path(), "ln -sf /dev/null faders.txt && " + Bin(), kOneChannel).status, 0);
        EXPECT_EQ(Snapshot(dir).size(), 1u);   // no backup of a device
    }
}

// A write-protected faders.txt is not replaced behind the user's back by the
// rename: the run stops as opening it for writing would. Root may write
// anything, so the program then runs as "nobody".
TEST(PalisarSafety, AWriteProtectedCueSheetIsNotReplaced)
{
    std::string runAs;
    if (::geteuid() == 0) {
        if (!testutil::Exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs setpriv to drop root";
        runAs = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);   // the directory itself is writable
    WriteText(dir / "faders.txt", kEarlier);
    ::chmod((dir / "faders.txt").c_str(), 0444);
    const auto before = Snapshot(dir);
    const auto r = RunIn(dir.path(), runAs + Bin(), kOneChannel);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Cannot create faders.txt: the fader file was not written.\n"
                         "Error: faders.txt could not be opened for writing: Permission denied.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Snapshot(dir), before);
}

// The program never prints while one of its files is open, so closed console
// descriptors are checked end to end for their outcome and, in process, for
// the start-up step that fills them.
TEST(PalisarSafety, ClosedStandardDescriptorsNeverReceiveTheCueSheet)
{
    TempDir dir;
    WriteText(dir / "faders.txt", kEarlier);
    // Console and error output closed: the files take other descriptors and
    // hold exactly their own bytes.
    auto r = RunIn(dir.path(), "sh -c 'exec " + Bin() + " >&- 2>&-'", kOneChannel);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), kOneChannelText);
    EXPECT_EQ(ReadBytes(dir / "faders.txt.bak"), kEarlier);
    // Input closed: the end of the input at the first question.
    const auto before = Snapshot(dir);
    r = RunIn(dir.path(), "sh -c 'exec " + Bin() + " <&-'", kOneChannel);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(LastLine(r.out), "Error: the input ended before the question was answered; nothing was written.");
    EXPECT_EQ(Snapshot(dir), before);

    // In process: a closed descriptor is given /dev/null.
    const int saved = ::dup(0);
    ASSERT_GE(saved, 0);
    ::close(0);
    const bool ok = palisar::OpenStandardDescriptors();
    struct stat got, null;
    const bool open0 = ::fstat(0, &got) == 0;
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_TRUE(ok);
    ASSERT_TRUE(open0);
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_TRUE(S_ISCHR(got.st_mode));
    EXPECT_EQ(got.st_rdev, null.st_rdev);
}

TEST(PalisarOptions, HelpAndVersionReadAndWriteNothing)
{
    for (const char* option : {" --help", " -h", " --version", " --version --help"}) {
        SCOPED_TRACE(option);
        TempDir dir;
        WriteText(dir / "faders.txt", kEarlier);
        const auto before = Snapshot(dir);
        const auto r = RunIn(dir.path(), Bin(option), kOneChannel);
        EXPECT_EQ(r.status, 0);
        if (std::string(option) == " --version") {
            EXPECT_EQ(r.out, std::string("palisar ") + PROJECT_VERSION_STRING + "\n");
        } else {
            EXPECT_EQ(r.out.rfind("Usage: palisar", 0), 0u) << r.out;
            for (const char* part : {"Arguments: none.", "-h, --help", "--version", "Exit status:", "  1  nothing was written",
                                     "  2  an unknown option", "README.md"})
                EXPECT_NE(r.out.find(part), std::string::npos) << part;
        }
        EXPECT_EQ(r.out.find("Palisar (v"), std::string::npos);   // no dialogue
        EXPECT_EQ(Snapshot(dir), before);
    }
}

TEST(PalisarOptions, UnknownOptionsPrintTheUsageWithStatus2AndOtherArgumentsAreIgnored)
{
    for (const char* option : {" --chek", " -x", " -", " --help --bogus", " faders2.txt -v"}) {
        SCOPED_TRACE(option);
        TempDir dir;
        WriteText(dir / "faders.txt", kEarlier);
        const auto before = Snapshot(dir);
        const auto r = RunIn(dir.path(), Bin(option), kOneChannel);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.rfind("Error: unknown option \"", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("\".\nUsage: palisar"), std::string::npos) << r.out;
        EXPECT_EQ(Snapshot(dir), before);
    }
    TempDir dir;
    const auto r = RunIn(dir.path(), Bin(" faders2.txt"), kOneChannel);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(">> Warning: palisar takes no arguments; \"faders2.txt\" is ignored.\n"
                          "\n-------",
                          0),
              0u);
    EXPECT_EQ(ReadBytes(dir / "faders.txt"), kOneChannelText);
    EXPECT_FALSE(testutil::Exists(dir / "faders2.txt"));
}
