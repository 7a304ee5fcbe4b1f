#include <gtest/gtest.h>

#include "corvale/run/control_file.h"
#include "corvale/run/prefs.h"
#include "corvale/run/tracklist.h"
#include "tests/audio/wav_files.h"

using namespace testwav;

namespace {

ControlFile List(const std::string& body)
{
    ControlFile f;
    f.text = "begin\n" + body;
    f.bodyStart = 6;
    f.loaded = true;
    return f;
}

// A short 16-bit stereo file at the given rate with the given frame count.
Bytes Wav(uint32_t rate = 48000, int frames = 4)
{
    WavSpec s;
    s.rate = rate;
    s.samples.assign(static_cast<size_t>(frames) * 4, 0);
    return Build(s);
}

// Counts and decodes a list whose files live in dir (given as the wavdir prefix).
Tracks Decode(const std::string& body, Prefs prefs, const TempDir& dir)
{
    prefs.wavdir = dir.path() + "/";
    Tracks t;
    const ControlFile f = List(body);
    CountTracks(f, prefs, t);
    DecodeTrackList(f, prefs, t);
    return t;
}

std::vector<int> Active(const Tracks& t)
{
    std::vector<int> a;
    for (int ch = 1; ch <= t.channels(); ++ch)
        if (t.active[ch]) a.push_back(ch);
    return a;
}

}  // namespace

TEST(CountTracks, CountsLinesUpToEndSkippingEmptyOnes)
{
    Prefs prefs;
    Tracks t;
    {
        Console con;
        CountTracks(List("1 kick.wav +\n\n\n2 snare.wav -\n3 vox.wav +\nend\n4 more.wav +\n"), prefs, t);
        EXPECT_EQ(t.count, 3);
        EXPECT_EQ(con.Text(), "Counted 3 tracks\n");
    }
    {
        Console con;
        CountTracks(List("1 kick.wav +\nend\n"), prefs, t);
        EXPECT_EQ(t.count, 1);
        EXPECT_EQ(con.Text(), "Counted 1 track\n");
    }
    {
        Console con;
        CountTracks(List("a\nb\n"), prefs, t);  // no "end": the text's end stops it
        EXPECT_EQ(t.count, 2);
    }
    for (int verbo : {0, 1, 3}) {
        Console con;
        prefs.verbo = verbo;
        CountTracks(List("a\nb\nend\n"), prefs, t);
        EXPECT_EQ(t.count, 2);
        EXPECT_EQ(con.Text(), "") << verbo;
    }
}

TEST(CountTracks, AListWithoutTracksOrWithTooManyIsReported)
{
    Prefs prefs;
    Tracks t;
    for (const char* body : {"end\nkick.wav\n", "", "\n\n"}) {
        Console con;
        t.count = 5;
        CountTracks(List(body), prefs, t);
        EXPECT_EQ(t.count, 0) << body;
        EXPECT_EQ(t.channels(), 0);
        EXPECT_NE(con.Text(), "") << body;
        EXPECT_EQ(con.Text().find("Counted"), std::string::npos);
    }
    std::string many;
    for (int i = 1; i <= 130; ++i) many += std::to_string(i) + " t.wav +\n";
    Console con;
    CountTracks(List(many + "end\n"), prefs, t);
    EXPECT_EQ(t.count, 130);
    EXPECT_EQ(t.channels(), 127);
    EXPECT_EQ(con.Text().rfind("Counted 130 tracks\n", 0), 0u);
    EXPECT_NE(con.Text().find("127"), std::string::npos);
}

TEST(DecodeTrackList, MarkersChooseWhichChannelsPlay)
{
    TempDir dir;
    for (const char* n : {"kick.wav", "snare.wav", "vox.wav"}) dir.Write(n, Wav());
    Prefs prefs;
    Console con;
    Tracks t = Decode("1 kick.wav +\n2 snare.wav -\n3 vox.wav +\nend\n", prefs, dir);
    EXPECT_EQ(t.count, 3);
    EXPECT_EQ(Active(t), (std::vector<int>{1, 3}));
    EXPECT_EQ(t.names[0], "kick.wav");
    EXPECT_EQ(t.names[1], "snare.wav");
    EXPECT_EQ(t.names[2], "vox.wav");
    EXPECT_EQ(t.paths[3], dir.path() + "/vox.wav");
    EXPECT_EQ(t.headerOk[1], 1);
    EXPECT_EQ(t.headerOk[2], 0);
    EXPECT_EQ(t.headerOk[3], 1);
    EXPECT_EQ(t.info[3].frames, 4);

    // A solo marker silences every "+" channel.
    t = Decode("1 kick.wav +\n2 snare.wav ++\n3 vox.wav +\nend\n", prefs, dir);
    EXPECT_EQ(Active(t), (std::vector<int>{2}));
    EXPECT_EQ(t.headerOk[1], 0);

    // The marker is the whole rest of the line: a trailing space makes it differ.
    t = Decode("1 kick.wav + \n2 snare.wav +\n3 vox.wav x\nend\n", prefs, dir);
    EXPECT_EQ(Active(t), (std::vector<int>{2}));
}

TEST(DecodeTrackList, EachLayoutTakesItsNameFromItsOwnField)
{
    TempDir dir;
    for (const char* n : {"my kick.wav", "kick.wav", "snare.wav"}) dir.Write(n, Wav());
    Prefs prefs;
    Console con;

    prefs.tlist = 0;  // whole lines, spaces included, all active
    Tracks t = Decode("my kick.wav\n\nsnare.wav\nend\n", prefs, dir);
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.names[0], "my kick.wav");
    EXPECT_EQ(t.names[1], "snare.wav");
    EXPECT_EQ(Active(t), (std::vector<int>{1, 2}));

    prefs.tlist = 1;  // name and marker; runs of separators count as one
    t = Decode("kick.wav    +\n\nsnare.wav -\nend\n", prefs, dir);
    EXPECT_EQ(t.names[0], "kick.wav");
    EXPECT_EQ(t.names[1], "snare.wav");
    EXPECT_EQ(Active(t), (std::vector<int>{1}));

    prefs.tlist = 2;
    prefs.tlistTab = true;  // tabs separate, so names may hold spaces
    t = Decode("Kick drum\t\tmy kick.wav\t+\n2\tsnare.wav\t\t++\nend\n", prefs, dir);
    EXPECT_EQ(t.names[0], "my kick.wav");
    EXPECT_EQ(t.names[1], "snare.wav");
    EXPECT_EQ(Active(t), (std::vector<int>{2}));
}

TEST(DecodeTrackList, UnusableTracksAreLeftOutWithAMessage)
{
    TempDir dir;
    dir.Write("ok.wav", Wav());
    Prefs prefs;
    const std::string longName(256, 'n');
    const std::string longPath(127 - dir.path().size(), 'p');  // with the '/' one too many
    Console con;
    Tracks t = Decode("1 missing.wav +\n2 ok.wav +\n3 " + longName + " +\n4 " + longPath + " +\nend\n", prefs, dir);
    EXPECT_EQ(t.count, 4);
    EXPECT_EQ(Active(t), (std::vector<int>{2}));
    EXPECT_EQ(t.headerOk[1], 0);
    EXPECT_EQ(t.headerOk[3], 0);
    EXPECT_EQ(t.headerOk[4], 0);
    const std::string out = con.Text();
    EXPECT_NE(out.find("Cannot find file in track list called " + dir.path() + "/missing.wav!!\n"), std::string::npos);
    EXPECT_NE(out.find("track 3"), std::string::npos);
    EXPECT_NE(out.find("track 4"), std::string::npos);
    EXPECT_LE(t.names[2].size(), 255u);

    // The longest path allowed still reaches the header reader.
    const std::string fits(126 - dir.path().size(), 'q');
    dir.Write(fits, Wav());
    t = Decode("1 " + fits + " +\nend\n", prefs, dir);
    EXPECT_EQ(t.paths[1].size(), 127u);
    EXPECT_EQ(t.headerOk[1], 1);
}

TEST(DecodeTrackList, OnlyTheFirst127TracksTakePart)
{
    TempDir dir;
    dir.Write("t.wav", Wav());
    Prefs prefs;
    prefs.tlist = 0;
    std::string body;
    for (int i = 0; i < 130; ++i) body += "t.wav\n";
    Console con;
    Tracks t = Decode(body + "end\n", prefs, dir);
    EXPECT_EQ(t.count, 130);
    EXPECT_EQ(Active(t).size(), 127u);
    EXPECT_EQ(t.headerOk[127], 1);
    EXPECT_EQ(t.headerOk[0], 0);
}

TEST(CheckSampleRates, TheFirstActiveChannelSetsTheRate)
{
    Tracks t;
    t.count = 4;
    t.info[1].sampleRate = 96000;  // inactive: not compared
    t.active[2] = t.active[4] = 1;
    t.info[2].sampleRate = t.info[4].sampleRate = 48000;
    {
        Console con;
        EXPECT_EQ(CheckSampleRates(t), 0);
        EXPECT_EQ(t.sampleRate, 48000.0);
        EXPECT_EQ(con.Text(), "");
    }
    t.info[4].sampleRate = 44100;
    t.paths[2] = "drums.wav";
    t.paths[4] = "vox.wav";
    {
        Console con;
        EXPECT_EQ(CheckSampleRates(t), 1);
        EXPECT_EQ(con.Text(), "The sample rate appears to be 48000\nThe file assigned to channel 4 has a different rate!\n"
                              "  vox.wav is at 44100 Hz; drums.wav, the first track, is at 48000 Hz\n");
    }
    Tracks none;
    none.count = 2;
    none.sampleRate = 0;
    EXPECT_EQ(CheckSampleRates(none), 0);
    EXPECT_EQ(none.sampleRate, 44100.0);
}

TEST(PlaceTracks, TstampLinesComeBeforeSstampNudges)
{
    Tracks t;
    t.count = 3;
    t.sampleRate = 48000;
    t.headerOk[1] = t.headerOk[2] = 1;
    t.info[1].frames = 1000;
    t.info[2].frames = 500;
    t.info[3].frames = 999999999;  // no header: not part of the song length
    Console con;
    PlaceTracks("sstamp\t1\t-100\ntstamp\t1\t0\t1\t500\nend\ntstamp\t2\t9\t0\t0\n", t);
    EXPECT_EQ(t.offset[1], 71900);
    EXPECT_EQ(t.offset[2], 0);  // after "end"
    EXPECT_EQ(t.songLength, 72900);
    EXPECT_EQ(con.Text(), "");

    // A later tstamp replaces an earlier one; sstamps add up.
    PlaceTracks("tstamp\t2\t0\t0\t0.5\ntstamp\t2\t1\t0\t0\nsstamp\t2\t7\nsstamp\t2\t3\nend\n", t);
    EXPECT_EQ(t.offset[2], 60 * 48000 + 10);
    EXPECT_EQ(t.songLength, 60 * 48000 + 10 + 500);
}

TEST(PlaceTracks, TimesAreSinglePrecisionAndTruncated)
{
    Tracks t;
    t.count = 1;
    t.sampleRate = 44100;
    Console con;
    PlaceTracks("tstamp\t1\t0\t0.1\t0\nend\n", t);
    // 0.1 held as a float, then scaled in double and truncated.
    EXPECT_EQ(t.offset[1], static_cast<int64_t>(static_cast<double>(0.1f) * 44100.0));
    EXPECT_EQ(t.offset[1], 4410);
    PlaceTracks("tstamp\t1\t0\t0\t-0.5\nend\n", t);
    EXPECT_EQ(t.offset[1], -22);  // -22.05 toward zero
}

TEST(PlaceTracks, ChannelsOutsideTheTablesAreIgnoredWithAMessage)
{
    Tracks t;
    t.count = 2;
    t.sampleRate = 48000;
    Console con;
    PlaceTracks("tstamp\t0\t0\t1\t0\ntstamp\t128\t0\t1\t0\nsstamp\t-3\t5\nsstamp\t200\t5\ntstamp\nend\n", t);
    for (int64_t off : t.offset) EXPECT_EQ(off, 0);
    const std::string out = con.Text();
    EXPECT_NE(out.find("128"), std::string::npos);
    EXPECT_NE(out.find("-3"), std::string::npos);
    EXPECT_NE(out.find("200"), std::string::npos);
    EXPECT_EQ(t.songLength, 0);

    // Huge numbers saturate instead of overflowing.
    t.headerOk[1] = 1;
    t.info[1].frames = 10;
    PlaceTracks("tstamp\t1\t1e30\t0\t0\nsstamp\t1\t2000000000\nend\n", t);
    EXPECT_EQ(t.offset[1], INT64_MAX);
    EXPECT_EQ(t.songLength, INT64_MAX);
}
