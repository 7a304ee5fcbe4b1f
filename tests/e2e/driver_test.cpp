// Runs the built mixer in a fresh directory and checks what the start of a run
// prints, writes and returns.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class Corvale : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/corvale_e2e_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    void Write(const char* name, const std::string& text) const
    {
        std::FILE* f = std::fopen(Path(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }

    std::string Read(const char* name) const
    {
        std::string out;
        std::FILE* f = std::fopen(Path(name).c_str(), "rb");
        if (f == nullptr) return out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
    }

    bool Exists(const char* name) const { return std::filesystem::exists(dir_ / name); }

    // Runs the program with args and the given standard input; returns the exit
    // status and leaves standard output (and any standard error) in out_/err_.
    int Run(const std::string& args = "", const std::string& input = "")
    {
        Write("stdin.in", input);
        const std::string cmd = "cd '" + dir_.string() + "' && '" CORVALE_BIN "' " + args +
                                " < stdin.in > stdout.out 2> stderr.out";
        const int rc = std::system(cmd.c_str());
        out_ = Read("stdout.out");
        err_ = Read("stderr.out");
        std::filesystem::remove(dir_ / "stdin.in");
        std::filesystem::remove(dir_ / "stdout.out");
        std::filesystem::remove(dir_ / "stderr.out");
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    static bool EndsWith(const std::string& s, const std::string& tail)
    {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    }

    std::filesystem::path dir_;
    std::string out_, err_;
};

const char kDefaultPrefs[] = "begin\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n";
const char kPrompt[] = "faders.txt file was not found\nEnter the default fader value or -999 to exit.\n";

}  // namespace

TEST_F(Corvale, AnEmptyDirectoryGetsDefaultPreferencesThenStopsWithoutATrackList)
{
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(out_,
              "\nWarning: prefs.txt file was not found...\n"
              "...created one for you.\n"
              "Corvale version 1.164 (w20e)\n"
              "tracks.txt file was not found.\n"
              "Create the file and run again.\n"
              "Exiting...\n"
              "  tracks.txt: No such file or directory\n");
    EXPECT_EQ(err_, "");
    EXPECT_EQ(Read("prefs.txt"), kDefaultPrefs);
    EXPECT_FALSE(Exists("faders.txt"));
}

TEST_F(Corvale, AMissingThirdArgumentCreatesPrefsTxtWhateverTheName)
{
    EXPECT_EQ(Run("list.txt cues.txt settings.txt"), 2);
    EXPECT_EQ(Read("prefs.txt"), kDefaultPrefs);
    EXPECT_FALSE(Exists("settings.txt"));
    // The fixed message names the default file even for another name; the
    // reason after it names the file asked for.
    EXPECT_TRUE(EndsWith(out_, "tracks.txt file was not found.\nCreate the file and run again.\nExiting...\n"
                               "  list.txt: No such file or directory\n"));
}

TEST_F(Corvale, VerbosityZeroPrintsNoBanner)
{
    Write("prefs.txt", "begin\nverbo\t0\nend\n");
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(out_, "tracks.txt file was not found.\nCreate the file and run again.\nExiting...\n"
                    "  tracks.txt: No such file or directory\n");
}

TEST_F(Corvale, TheFirstArgumentNamesTheTrackList)
{
    Write("prefs.txt", kDefaultPrefs);
    Write("list.txt", "a.wav\n");
    EXPECT_EQ(Run("list.txt", "-999\n"), 1);
    // The list was found: the run went on to the cue-sheet prompt.
    EXPECT_TRUE(EndsWith(out_, kPrompt));
}

TEST_F(Corvale, TrackListLineChecksFollowTheLayoutAtLevelTwo)
{
    Write("prefs.txt", kDefaultPrefs);
    Write("tracks.txt", "begin\na\tb.wav\nc  d.wav\n");
    Run("", "-999\n");
    EXPECT_NE(out_.find("\n>>>  Warning: Tab found on line 2 of tracks file:\n"), std::string::npos);
    EXPECT_EQ(out_.find("Extra space found"), std::string::npos);

    Write("prefs.txt", "begin\ntlist=tab\nend\n");
    Run("", "-999\n");
    EXPECT_NE(out_.find("\n>>>  Warning: Extra space found on line 3 of tracks file.\n"), std::string::npos);
    EXPECT_EQ(out_.find("Tab found"), std::string::npos);

    Write("prefs.txt", "begin\nverbo\t1\nend\n");
    Run("", "-999\n");
    EXPECT_EQ(out_.find("Warning"), std::string::npos);
}

TEST_F(Corvale, MinusNineNineNineAtThePromptEndsWithStatusOneAndWritesNothing)
{
    Write("prefs.txt", kDefaultPrefs);
    Write("tracks.txt", "one.wav\ntwo.wav\n");
    EXPECT_EQ(Run("", "-999\n"), 1);
    EXPECT_TRUE(EndsWith(out_, kPrompt));
    EXPECT_FALSE(Exists("faders.txt"));
}

TEST_F(Corvale, AnAnswerAtThePromptWritesTheDefaultCueSheetWithOneDecimal)
{
    Write("prefs.txt", kDefaultPrefs);
    Write("tracks.txt", "one.wav\ntwo.wav\n");
    Run("tracks.txt my_cues.txt", "12.34\n");
    EXPECT_NE(out_.find(kPrompt), std::string::npos);
    EXPECT_FALSE(Exists("my_cues.txt"));
    const std::string text = Read("faders.txt");
    const std::string head = "begin\ntest_mix\n\nt\t0\t0\t0\n";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    ASSERT_TRUE(EndsWith(text, "end\n")) << text;
    // One level line per counted channel, numbered from 1, each at 12.3.
    std::string rest = text.substr(head.size(), text.size() - head.size() - 4);
    int channel = 0;
    while (!rest.empty()) {
        ++channel;
        const std::string line = "v\t" + std::to_string(channel) + "\t12.3\n";
        ASSERT_EQ(rest.compare(0, line.size(), line), 0) << text;
        rest.erase(0, line.size());
    }
    EXPECT_LE(channel, 2);
}

TEST_F(Corvale, AnErrorExitNeverRunsTheLaunchCommand)
{
    // No channel takes part, so the song is empty and the render window fails.
    Write("prefs.txt", "begin\npre\toff\nlaunch\ttouch launched\nend\n");
    Write("tracks.txt", "");
    Write("faders.txt", "begin\nsong\nend\n");
    EXPECT_EQ(Run(), 2);
    EXPECT_TRUE(EndsWith(out_, "Head or tail set incorrectly in preferences!\n")) << out_;
    EXPECT_FALSE(Exists("launched"));
}
