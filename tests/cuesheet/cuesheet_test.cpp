#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "corvale/run/run.h"
#include "corvale/run/text.h"
#include "tests/console_capture.h"

namespace {

// A control file as the loader leaves it: the body starts at the line feed after "begin".
ControlFile FileOf(const std::string& text)
{
    ControlFile f;
    f.text = text;
    f.loaded = true;
    const size_t begin = text.find("begin");
    if (begin != std::string::npos) {
        const size_t lf = text.find('\n', begin);
        f.bodyStart = lf == std::string::npos ? text.size() : lf;
    }
    return f;
}

}  // namespace

TEST(PrepareCueSheet, TitleIsTheFirstNonEmptyLineAfterBegin)
{
    CueSheet cue;
    cue.file = FileOf("free notes\nbegin of the sheet\n\n\nMy First Mix\nv\t1 \t-6\nend\nmore notes\n");
    PrepareCueSheet(0, cue);
    EXPECT_EQ(cue.title, "MyFirstMix");
    EXPECT_EQ(cue.body, "\n\n\nMyFirstMix\nv\t1\t-6\nend\nmorenotes\n");
}

TEST(PrepareCueSheet, WithoutBeginTheFirstLineIsTheTitleAndTextWithoutSpacesIsKept)
{
    CueSheet cue;
    cue.file = FileOf("song_a\nt\t0\t0\t0\nv\t1\t0\n");
    PrepareCueSheet(0, cue);
    EXPECT_EQ(cue.title, "song_a");
    EXPECT_EQ(cue.body, "song_a\nt\t0\t0\t0\nv\t1\t0\n");

    CueSheet empty;
    empty.file = FileOf("begin");
    PrepareCueSheet(0, empty);
    EXPECT_EQ(empty.title, "");
    EXPECT_EQ(empty.body, "");
}

TEST(ReadCueSheet, RoutingAndOffsetComeBeforeTheMissingTempoMapExit)
{
    auto run = std::make_unique<::Run>();
    run->prefs.verbo = 1;
    run->prefs.tempo = true;
    run->tracks.count = 2;
    run->tracks.active[1] = run->tracks.active[2] = 1;
    run->tracks.sampleRate = 48000.0;
    run->tracks.songLength = 480000;
    run->prefsFile = FileOf("begin\noffset\t0\t1\t0\nend\n");
    run->cue.body = "\ntitle\nsub\t2\t1\nsubmu\t2\nt\t1\t1\t0\nv\t1\t0\nend\n";
    ConsoleCapture console;
    EXPECT_EQ(ReadCueSheet(*run), 2);
    EXPECT_EQ(console.Text(), "Automation offset by 48000 samples.\n"
                              "Tempo mode is on, but no tempos or meters have been entered!\n");
    EXPECT_EQ(run->tracks.active[1], 0);
    EXPECT_EQ(run->tracks.active[2], 1);
    EXPECT_EQ(run->automation.count[1], 0);   // the cue pass never ran
}

TEST(ReadCueSheet, TimeFieldsAndOffsetApplyToTheCuePass)
{
    auto run = std::make_unique<::Run>();
    run->prefs.verbo = 1;
    run->tracks.count = 1;
    run->tracks.active[1] = 1;
    run->tracks.sampleRate = 44100.0;
    run->tracks.songLength = 441000;
    run->prefsFile = FileOf("begin\ntfields\t1\noffset\t0\t1\t0\nend\n");
    run->cue.body = "\ntitle\nVCA:\t2\t1\nt\t2.5\nv\t1\t0\nt\t9.1\nv\t1\t0\nend\n";
    ConsoleCapture console;
    EXPECT_EQ(ReadCueSheet(*run), 2);
    // 9.1 s + 1 s of offset is past the 10-second song.
    EXPECT_EQ(console.Text(), "Automation offset by 44100 samples.\nError:  Time entry 2 exceeds song length\n"
                              "  the entry is at 10.100000 s (frame 445410); the song ends at 10.000000 s (frame 441000)\n");
    EXPECT_EQ(run->automation.count[1], 1);
    EXPECT_EQ(run->automation.time[0][1], 110250 + 44100);
    EXPECT_EQ(run->routing.vcaAssign[1], 2);
}
