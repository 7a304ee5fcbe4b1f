#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "console_capture.h"
#include "corvale/run/control_file.h"

namespace {

ControlFile LoadText(const std::string& text)
{
    ControlFile file;
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    EXPECT_TRUE(LoadControlStream(f, file));
    std::fclose(f);
    return file;
}

std::string Checks(const std::string& body, LineCheck kind)
{
    ConsoleCapture out;
    CheckLines(body.c_str(), kind);
    return out.Take();
}

}  // namespace

TEST(ControlFileBody, StartsAtTheLineFeedAfterTheFirstBeginAndTheTextAtItsFirstNul)
{
    ControlFile f = LoadText("free notes\nbegin here\nverbo\t1\nbegin\nend\n");
    EXPECT_STREQ(f.body(), "\nverbo\t1\nbegin\nend\n");
    EXPECT_TRUE(f.loaded);

    // A word that merely contains "begin" also starts the body.
    EXPECT_STREQ(LoadText("xbeginx\tjunk\nv\t1\t0\n").body(), "\nv\t1\t0\n");

    // Without "begin" the body is the whole text.
    EXPECT_STREQ(LoadText("verbo\t0\nend\n").body(), "verbo\t0\nend\n");
    EXPECT_STREQ(LoadText("").body(), "");

    // The text ends at the first NUL byte.
    const ControlFile cut = LoadText(std::string("begin\npre\ton\n\0outbits\t16\n", 25));
    EXPECT_EQ(cut.text, "begin\npre\ton\n");
    EXPECT_STREQ(cut.body(), "\npre\ton\n");
}

TEST(ControlFileLoad, CrLfPairsAndALeadingByteOrderMarkReadAsTheirPlainTwin)
{
    const std::string plain = "notes\nbegin\npre\toff\noname\tmix\nend\n";
    const std::string crlf = "notes\r\nbegin\r\npre\toff\r\noname\tmix\r\nend\r\n";
    for (const std::string& text : {crlf, "\xEF\xBB\xBF" + plain, "\xEF\xBB\xBF" + crlf}) {
        const ControlFile f = LoadText(text);
        EXPECT_EQ(f.text, plain);
        EXPECT_STREQ(f.body(), "\npre\toff\noname\tmix\nend\n");
    }
    // A mark before the first keyword of a file without "begin" no longer hides it.
    EXPECT_STREQ(LoadText("\xEF\xBB\xBFverbo\t0\r\n").body(), "verbo\t0\n");
    EXPECT_STREQ(LoadText("begin\r\n+\r\n").body(), "\n+\n");
}

TEST(ControlFileLoad, LoneCarriageReturnsAndMarksElsewhereStay)
{
    EXPECT_EQ(LoadText("begin\na\rb\n\r").text, "begin\na\rb\n\r");
    // Of "\r\r\n" only the return right before the line feed goes.
    EXPECT_EQ(LoadText("a\r\r\nb").text, "a\r\nb");
    EXPECT_EQ(LoadText("a\xEF\xBB\xBF\n").text, "a\xEF\xBB\xBF\n");
    // Only one leading mark is dropped.
    EXPECT_EQ(LoadText("\xEF\xBB\xBF\xEF\xBB\xBFx").text, "\xEF\xBB\xBFx");
}

TEST(ControlFileBody, BeginWithoutALineBreakLeavesAnEmptyBodyWithAWarning)
{
    ConsoleCapture out;
    ControlFile file;
    std::FILE* f = std::tmpfile();
    std::fputs("notes begin verbo 0", f);
    EXPECT_TRUE(LoadControlStream(f, file, "prefs.txt"));
    std::fclose(f);
    EXPECT_STREQ(file.body(), "");
    EXPECT_NE(out.Take().find("\"begin\" in prefs.txt is not followed by a line break"), std::string::npos);
}

TEST(LineChecks, PreferencesWarnOfTabPairsTrailingTabsAndTabSpaces)
{
    // Line 1 is the line holding "begin"; the body starts with its line feed.
    const std::string body = "\nverbo\t\t2\nmixdir\tout/\t\nwavdir\t x/\nplain\tline\n";
    EXPECT_EQ(Checks(body, LineCheck::kPreferences),
              "\n>>>  Warning: extra tab on line 2 of preferences file.\n"
              "\n>>>  Warning: extra tab on line 3 of preferences file.\n"
              "\n>>>  Warning: extra space on line 4 of preferences file.\n");
}

TEST(LineChecks, EachTestPrintsOnceForItsLine)
{
    // Two tab pairs draw one warning; a line ending in a tab pair draws both tab warnings.
    EXPECT_EQ(Checks("\na\t\tb\t\tc\n", LineCheck::kPreferences),
              "\n>>>  Warning: extra tab on line 2 of preferences file.\n");
    EXPECT_EQ(Checks("\na\t\t\n", LineCheck::kFader),
              "\n>>>  Warning: extra tab on line 2 of fader file.\n"
              "\n>>>  Warning: extra tab on line 2 of fader file.\n");
    EXPECT_EQ(Checks("\nv\t \n", LineCheck::kFader), "\n>>>  Warning: extra space on line 2 of fader file.\n");
}

TEST(LineChecks, TheLastLineWithoutALineFeedIsNotChecked)
{
    EXPECT_EQ(Checks("\nok\nbad\t\tx", LineCheck::kPreferences), "");
    EXPECT_EQ(Checks("\nok\nbad\t\tx\n", LineCheck::kPreferences),
              "\n>>>  Warning: extra tab on line 3 of preferences file.\n");
    // Without "begin" line 1 is the file's first line.
    EXPECT_EQ(Checks("a\t\tb\n", LineCheck::kPreferences),
              "\n>>>  Warning: extra tab on line 1 of preferences file.\n");
}

TEST(LineChecks, TrackListsWarnByTheirLayout)
{
    const std::string body = "\none.wav\ntwo\t.wav\nthree  four.wav\n";
    EXPECT_EQ(Checks(body, LineCheck::kTracksSpace), "\n>>>  Warning: Tab found on line 3 of tracks file:\n");
    EXPECT_EQ(Checks(body, LineCheck::kTracksTab),
              "\n>>>  Warning: Extra space found on line 4 of tracks file.\n");
}

class DefaultFiles : public TempDirTest {};

TEST_F(DefaultFiles, MissingPreferencesWriteTheDefaultUnderTheDefaultName)
{
    ConsoleCapture out;
    ControlFile file;
    ASSERT_TRUE(LoadPreferences("my_prefs.txt", file));
    EXPECT_EQ(out.Take(), "\nWarning: prefs.txt file was not found...\n...created one for you.\n");
    const std::string expected = "begin\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n";
    EXPECT_EQ(ReadFile("prefs.txt"), expected);
    EXPECT_FALSE(std::filesystem::exists("my_prefs.txt"));
    EXPECT_EQ(file.text, expected);
    EXPECT_STREQ(file.body(), "\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n");
}

TEST_F(DefaultFiles, PresentPreferencesAreLoadedAndAlwaysLineChecked)
{
    WriteFile("p.txt", "begin\nverbo\t\t0\nend\n");
    ConsoleCapture out;
    ControlFile file;
    ASSERT_TRUE(LoadPreferences("p.txt", file));
    EXPECT_EQ(out.Take(), "\n>>>  Warning: extra tab on line 2 of preferences file.\n");
    EXPECT_STREQ(file.body(), "\nverbo\t\t0\nend\n");
    EXPECT_FALSE(std::filesystem::exists("prefs.txt"));
}

TEST_F(DefaultFiles, ADefaultThatCannotBeCreatedStops)
{
    // A working directory that was removed takes no new file, not even root's.
    std::filesystem::create_directory("gone");
    std::filesystem::current_path("gone");
    std::filesystem::remove(std::filesystem::current_path());
    ConsoleCapture out;
    ControlFile file;
    EXPECT_FALSE(LoadPreferences("missing.txt", file));
    EXPECT_NE(out.Take().find("Error: prefs.txt could not be created"), std::string::npos);

    std::FILE* in = StreamOf("3\n");
    EXPECT_EQ(LoadFaderFile("missing.txt", 2, file, in), 2);
    std::fclose(in);
    EXPECT_NE(out.Take().find("Error: faders.txt could not be created"), std::string::npos);
}

// A mistyped name must not replace the user's own default-named file: it is
// kept byte for byte, the run stops, and the prompt is not asked.
TEST_F(DefaultFiles, AnExistingDefaultFileIsNeverReplacedForAMissingName)
{
    WriteFile("prefs.txt", "begin\noname\tmine\nend\n");
    WriteFile("faders.txt", "begin\nmy_mix\nend\n");
    ConsoleCapture out;
    ControlFile file;
    EXPECT_FALSE(LoadPreferences("prefz.txt", file));
    EXPECT_EQ(out.Take(), "Error: prefz.txt was not found; the existing prefs.txt is kept.\n");
    EXPECT_EQ(ReadFile("prefs.txt"), "begin\noname\tmine\nend\n");

    std::FILE* in = StreamOf("3\n");
    EXPECT_EQ(LoadFaderFile("fadrs.txt", 2, file, in), 2);
    EXPECT_EQ(std::fgetc(in), '3') << "the prompt's answer is not read";
    std::fclose(in);
    EXPECT_EQ(out.Take(), "Error: fadrs.txt was not found; the existing faders.txt is kept.\n");
    EXPECT_EQ(ReadFile("faders.txt"), "begin\nmy_mix\nend\n");

    // Even a default-named file that cannot be read is kept as it is.
    std::filesystem::remove("prefs.txt");
    std::filesystem::create_directory("prefs.txt");
    std::filesystem::create_symlink("nowhere/prefs.txt", "link.txt");
    EXPECT_FALSE(LoadPreferences("link.txt", file));
    EXPECT_EQ(out.Take(), "Error: link.txt was not found; the existing prefs.txt is kept.\n");
    EXPECT_TRUE(std::filesystem::is_directory("prefs.txt"));
}

TEST_F(DefaultFiles, AFileThatOpensButCannotBeReadCountsAsEmpty)
{
    std::filesystem::create_directory("adir");
    ConsoleCapture out;
    ControlFile file;
    file.text = "stale";
    EXPECT_EQ(LoadControlFile("adir", file), 0);
    EXPECT_STREQ(file.body(), "");
    EXPECT_EQ(out.Take(), ">> Warning: the file adir could not be read; it is taken as empty.\n");
    EXPECT_EQ(LoadControlFile("nothing_here.txt", file), 1);
}

TEST_F(DefaultFiles, MissingFaderFilePromptsAndWritesOneDecimalLevels)
{
    ConsoleCapture out;
    ControlFile file;
    std::FILE* in = StreamOf("12.34\n");
    ASSERT_EQ(LoadFaderFile("cues.txt", 3, file, in), 0);
    std::fclose(in);
    EXPECT_EQ(out.Take(), "faders.txt file was not found\nEnter the default fader value or -999 to exit.\n");
    const std::string expected =
        "begin\ntest_mix\n\nt\t0\t0\t0\nv\t1\t12.3\nv\t2\t12.3\nv\t3\t12.3\nend\n";
    EXPECT_EQ(ReadFile("faders.txt"), expected);
    EXPECT_EQ(file.text, expected);
    EXPECT_STREQ(file.body(), "\ntest_mix\n\nt\t0\t0\t0\nv\t1\t12.3\nv\t2\t12.3\nv\t3\t12.3\nend\n");
}

TEST_F(DefaultFiles, DefaultFaderFileHasAtMost127LevelLines)
{
    ControlFile file;
    std::FILE* in = StreamOf("-6");
    ConsoleCapture out;
    ASSERT_EQ(LoadFaderFile("faders.txt", 130, file, in), 0);
    std::fclose(in);
    const std::string text = ReadFile("faders.txt");
    size_t lines = 0;
    for (size_t p = text.find("\nv\t"); p != std::string::npos; p = text.find("\nv\t", p + 1)) ++lines;
    EXPECT_EQ(lines, 127u);
    EXPECT_NE(text.find("\nv\t127\t-6.0\nend\n"), std::string::npos);
    EXPECT_EQ(text.find("v\t128"), std::string::npos);
}

TEST_F(DefaultFiles, MinusNineNineNineEndsTheDialogueWithoutWriting)
{
    ControlFile file;
    ConsoleCapture out;
    std::FILE* in = StreamOf("-999\n");
    EXPECT_EQ(LoadFaderFile("faders.txt", 2, file, in), 1);
    std::fclose(in);
    EXPECT_FALSE(std::filesystem::exists("faders.txt"));
    EXPECT_EQ(out.Take(), "faders.txt file was not found\nEnter the default fader value or -999 to exit.\n");
}

TEST_F(DefaultFiles, NothingNumericAtThePromptMeansLevelZero)
{
    for (const char* answer : {"abc\n", "", "nan\n"}) {
        std::filesystem::remove("faders.txt");
        ControlFile file;
        ConsoleCapture out;
        std::FILE* in = StreamOf(answer);
        ASSERT_EQ(LoadFaderFile("faders.txt", 1, file, in), 0) << answer;
        std::fclose(in);
        EXPECT_EQ(ReadFile("faders.txt"), "begin\ntest_mix\n\nt\t0\t0\t0\nv\t1\t0.0\nend\n") << answer;
    }
}

TEST_F(DefaultFiles, AnExistingFaderFileIsReadWithoutAPrompt)
{
    WriteFile("cues.txt", "begin\nsong\nend\n");
    ControlFile file;
    ConsoleCapture out;
    EXPECT_EQ(LoadFaderFile("cues.txt", 2, file, nullptr), 0);
    EXPECT_EQ(out.Take(), "");
    EXPECT_STREQ(file.body(), "\nsong\nend\n");
}
