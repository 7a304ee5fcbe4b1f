#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "console_capture.h"
#include "corvale/run/control_file.h"
#include "corvale/run/prefs.h"

namespace {

ControlFile Body(const std::string& body)
{
    ControlFile f;
    f.text = "begin\n" + body;
    f.bodyStart = 5;
    f.loaded = true;
    return f;
}

constexpr int64_t kTenSeconds = 441000;

std::string Warning(const std::string& key)
{
    return ">> Warning: " + key + " has no value on its line of the preferences; it is left unset.\n";
}

struct Late {
    Prefs prefs;
    int status = -1;
    std::string out;
};

// Reads the late keywords of body at 44100 Hz for a song of songLength frames.
Late ReadLate(const std::string& body, int64_t songLength = kTenSeconds, const std::string& title = "test_mix",
              int verbo = 2)
{
    Late r;
    r.prefs.verbo = verbo;
    ConsoleCapture out;
    const ControlFile f = Body(body);
    ReadEarlyPrefs(f, r.prefs);
    r.prefs.verbo = verbo;
    r.status = ReadLatePrefs(f, title, songLength, 44100.0, r.prefs);
    r.out = out.Take();
    return r;
}

}  // namespace

TEST(EarlyPrefs, LastOccurrenceWinsAndNothingAfterEndIsSeen)
{
    Prefs p;
    ReadEarlyPrefs(Body("\nverbo\t0\nverbo\t3\nmixdir\tout/\nend\nverbo\t1\nwavdir\tlate/\n"), p);
    EXPECT_EQ(p.verbo, 3);
    EXPECT_EQ(p.mixdir, "out/");
    EXPECT_FALSE(p.wavdirSet);
    EXPECT_EQ(ReadVerbo(Body("\nverbo\t\t1\n")), 1);  // a doubled tab still yields the value
}

TEST(EarlyPrefs, AnEmptyVerboWarnsOnceThoughItIsReadTwice)
{
    ConsoleCapture out;
    Prefs p;
    const ControlFile f = Body("\nverbo\nmixdir\tverbo\n");
    p.verbo = ReadVerbo(f);
    ReadEarlyPrefs(f, p);
    EXPECT_EQ(p.verbo, 2);
    EXPECT_EQ(p.mixdir, "verbo");
    EXPECT_EQ(out.Take(), Warning("verbo"));
}

TEST(EarlyPrefs, DirectoriesTakeTheRestOfTheLine)
{
    Prefs p;
    ReadEarlyPrefs(Body("\nmixdir\tmy mixes/a\tb/\npredir\tpre/\nbakdir\tbak/\nwavdir\t../wavs/\n"), p);
    EXPECT_EQ(p.mixdir, "my mixes/a\tb/");
    EXPECT_EQ(p.predir, "pre/");
    EXPECT_EQ(p.bakdir, "bak/");
    EXPECT_EQ(p.wavdir, "../wavs/");
    EXPECT_TRUE(p.mixdirSet && p.predirSet && p.bakdirSet && p.wavdirSet);
}

TEST(EarlyPrefs, APrefixLongerThan127CharactersIsRejected)
{
    Prefs p;
    ConsoleCapture out;
    EXPECT_EQ(ReadEarlyPrefs(Body("\nwavdir\t" + std::string(127, 'w') + "\n"), p), 0);
    EXPECT_EQ(p.wavdir.size(), 127u);
    EXPECT_EQ(ReadEarlyPrefs(Body("\nbakdir\t" + std::string(128, 'b') + "\n"), p), 2);
    EXPECT_EQ(out.Take(), "Error: bakdir in preferences file is longer than 127 characters.\n");
}

TEST(EarlyPrefs, TrackListLayoutKeywords)
{
    Prefs p;
    ReadEarlyPrefs(Body("\ntlist\t1\ntlist\t5\n"), p);
    EXPECT_EQ(p.tlist, 1);  // 5 leaves the value before it
    ReadEarlyPrefs(Body("\ntlist\t0\ntlist=tab\n"), p);
    EXPECT_EQ(p.tlist, 0);
    EXPECT_TRUE(p.tlistTab);
    Prefs q;
    ReadEarlyPrefs(Body("\nend\ntlist=tab\n"), q);
    EXPECT_FALSE(q.tlistTab);
}

TEST(LatePrefs, TheDefaultFileRendersTheWholeSongIn24BitStereo)
{
    const std::string text = kDefaultPrefsText;
    const Late r = ReadLate(text.substr(5));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Checking Preferences...\n");
    EXPECT_FALSE(r.prefs.preview);
    EXPECT_EQ(r.prefs.outbits, 24);
    EXPECT_FALSE(r.prefs.mono);
    EXPECT_EQ(r.prefs.dither, 1);
    EXPECT_EQ(r.prefs.renderStart, 0);
    EXPECT_EQ(r.prefs.renderCount, kTenSeconds);
    EXPECT_EQ(r.prefs.outName, "test_mix.wav");
    EXPECT_EQ(r.prefs.mixName, "test_mix");
}

TEST(LatePrefs, WithoutPreThePreviewIsOffWithAMessageAtEveryLevel)
{
    const Late r = ReadLate("\n", kTenSeconds, "song", 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Preview mode not specified.\n");
    EXPECT_FALSE(r.prefs.preview);
    EXPECT_EQ(r.prefs.renderCount, kTenSeconds);
}

TEST(LatePrefs, OutputNameFromOnameOrTitleAndTheDirectoryPrefixes)
{
    EXPECT_EQ(ReadLate("\npre\toff\nmixdir\tmix/\n").prefs.outName, "mix/test_mix.wav");
    const Late r = ReadLate("\npre\toff\nmixdir\tmix/\noname\tfinal take\n");
    EXPECT_EQ(r.prefs.outName, "mix/final take.wav");
    EXPECT_EQ(r.prefs.mixName, "final take");
    // Preview names: predir, else mixdir, else none.
    EXPECT_EQ(ReadLate("\npre\ton\n").prefs.outName, "preview.wav");
    EXPECT_EQ(ReadLate("\nmixdir\tm/\npre\ton\n").prefs.outName, "m/preview.wav");
    const Late p = ReadLate("\nmixdir\tm/\npredir\tp/\noname\tx\npre\ton\n");
    EXPECT_EQ(p.prefs.outName, "p/preview.wav");
    EXPECT_EQ(p.prefs.mixName, "x");
    EXPECT_EQ(p.out, "Checking Preferences...\nRunning in Preview Mode\n");
}

TEST(LatePrefs, NamesLongerThan127CharactersAreRejected)
{
    const Late a = ReadLate("\npre\toff\noname\t" + std::string(128, 'n') + "\n");
    EXPECT_EQ(a.status, 2);
    EXPECT_EQ(a.out, "Error: oname in preferences file is longer than 127 characters.\n");
    const Late b = ReadLate("\npre\toff\n", kTenSeconds, std::string(128, 't'));
    EXPECT_EQ(b.status, 2);
    EXPECT_EQ(ReadLate("\npre\toff\noname\tok\n", kTenSeconds, std::string(128, 't')).status, 0);
}

TEST(LatePrefs, PreviewStartReadsTheFieldsThatSfieldsSays)
{
    // (60 + 0 + 30) seconds at 44100 Hz.
    const Late three = ReadLate("\npre\ton\nstart\t1\t0\t30000\nlength\t1\n", 10000000);
    EXPECT_EQ(three.prefs.renderStart, 3969000);
    EXPECT_EQ(three.prefs.renderCount, 44100);
    const Late one = ReadLate("\nsfields\t1\npre\ton\nstart\t1\t0\t30000\n", 10000000);
    EXPECT_EQ(one.prefs.renderStart, 44100);
    const Late two = ReadLate("\nsfields\t2\npre\ton\nstart\t1\t0.5\n", 10000000);
    EXPECT_EQ(two.prefs.renderStart, 60 * 44100 + 22050);
    // Values out of 1..3 fall back to three fields.
    EXPECT_EQ(ReadLate("\nsfields\t7\npre\ton\nstart\t1\t0\t30000\n", 10000000).prefs.renderStart, 3969000);
}

TEST(LatePrefs, StartAndLengthCountOnlyAfterThePreLine)
{
    const Late r = ReadLate("\nstart\t0\t1\t0\nlength\t2\npre\ton\n");
    EXPECT_EQ(r.prefs.renderStart, 0);
    EXPECT_EQ(r.prefs.renderCount, kTenSeconds);
    // Only the first pre line counts.
    EXPECT_FALSE(ReadLate("\npre\toff\npre\ton\n").prefs.preview);
    // Nor are they seen after end.
    EXPECT_EQ(ReadLate("\npre\ton\nend\nstart\t0\t1\t0\n").prefs.renderStart, 0);
}

TEST(LatePrefs, PreviewLengthIsSecondsInDoublePrecision)
{
    // 0.01 s is 441 frames; a single-precision 0.01 would give 440.
    EXPECT_EQ(ReadLate("\npre\ton\nlength\t0.01\n").prefs.renderCount, 441);
    const Late zero = ReadLate("\npre\ton\nstart\t0\t2\t0\nlength\t0\n");
    EXPECT_EQ(zero.status, 0);
    EXPECT_EQ(zero.prefs.renderStart, 88200);
    EXPECT_EQ(zero.prefs.renderCount, 0);
}

TEST(LatePrefs, PreviewStartMustLieWithinTheSong)
{
    const Late after = ReadLate("\npre\ton\nstart\t0\t10\t1\n");
    EXPECT_EQ(after.status, 2);
    EXPECT_EQ(after.out,
              "Checking Preferences...\nRunning in Preview Mode\n"
              "Error: Preview start time in preferences file exceeds song length\n");
    const Late before = ReadLate("\npre\ton\nstart\t0\t-1\t0\n");
    EXPECT_EQ(before.status, 2);
    EXPECT_NE(before.out.find("Error: Preview start time in preferences is less than zero.\n"), std::string::npos);
    // A start equal to the song length is accepted and renders what length says.
    const Late atEnd = ReadLate("\npre\ton\nstart\t0\t10\t0\nlength\t0\n");
    EXPECT_EQ(atEnd.status, 0);
    EXPECT_EQ(atEnd.prefs.renderStart, kTenSeconds);
}

TEST(LatePrefs, HeadAndTailTrimTheRender)
{
    const Late head = ReadLate("\npre\toff\nhead\t1.0\n");
    EXPECT_EQ(head.prefs.renderStart, 44100);
    EXPECT_EQ(head.prefs.renderCount, kTenSeconds - 44100);
    const Late both = ReadLate("\npre\toff\nhead\t1.0\ntail\t2\n");
    EXPECT_EQ(both.prefs.renderStart, 44100);
    EXPECT_EQ(both.prefs.renderCount, kTenSeconds - 3 * 44100);
    // One frame (below 2) and a whole song (not below the length) count as 0.
    const Late oneFrame = ReadLate("\npre\toff\nhead\t0.0000227\ntail\t10\n");
    EXPECT_EQ(oneFrame.prefs.renderStart, 0);
    EXPECT_EQ(oneFrame.prefs.renderCount, kTenSeconds);
    // Preview mode ignores them.
    const Late preview = ReadLate("\npre\ton\nhead\t1\ntail\t1\n");
    EXPECT_EQ(preview.prefs.renderStart, 0);
    EXPECT_EQ(preview.prefs.renderCount, kTenSeconds);
}

TEST(LatePrefs, ExportWindowFromXinAndXout)
{
    const Late r = ReadLate("\npre\toff\nxfields\t1\nxin\t10\nxout\t20\n", 30 * 44100);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.prefs.renderStart, 441000);
    EXPECT_EQ(r.prefs.renderCount, 441000);
    EXPECT_EQ(r.prefs.xinPoint, 441000);
    // Without xout the render runs to the song end; three fields by default.
    const Late open = ReadLate("\npre\toff\nxin\t0\t1\t500\n");
    EXPECT_EQ(open.prefs.renderStart, 66150);
    EXPECT_EQ(open.prefs.renderCount, kTenSeconds - 66150);
    // Ignored in preview mode.
    EXPECT_EQ(ReadLate("\npre\ton\nxfields\t1\nxin\t5\n").prefs.xinPoint, 0);
}

TEST(LatePrefs, AWindowWithoutFramesOrOutsideTheSongIsAnError)
{
    const char* bad[] = {
        "\npre\toff\nxfields\t1\nxin\t5\nxout\t4\n",   // negative count
        "\npre\toff\nxfields\t1\nxin\t10\n",           // starts at the song end
        "\npre\toff\nxfields\t1\nxin\t-1\nxout\t2\n",  // starts before frame 0
        "\npre\toff\nxfields\t1\nxin\t8\nhead\t1.5\ntail\t1\n",
    };
    for (const char* body : bad) {
        const Late r = ReadLate(body);
        EXPECT_EQ(r.status, 2) << body;
        EXPECT_EQ(r.out, "Checking Preferences...\nHead or tail set incorrectly in preferences!\n") << body;
    }
    // Positions far outside any song end in the same error, not in overflow.
    EXPECT_EQ(ReadLate("\npre\toff\nxfields\t1\nxin\t-1e30\nxout\t1e30\n").status, 2);
    EXPECT_EQ(ReadLate("\npre\toff\nxfields\t1\nxin\t1e30\nhead\t1\n").status, 2);
    // No song at all outside preview mode.
    EXPECT_EQ(ReadLate("\npre\toff\n", 0).status, 2);
    EXPECT_EQ(ReadLate("\npre\toff\nxfields\t1\nxin\t8\nhead\t1\ntail\t1\n").status, 0);
}

TEST(LatePrefs, LevelAndTempoModesAnnounceThemselvesAtLevelTwo)
{
    const Late r = ReadLate("\npre\toff\nv=percent\ntempo\n");
    EXPECT_TRUE(r.prefs.percent);
    EXPECT_TRUE(r.prefs.tempo);
    EXPECT_EQ(r.out, "Checking Preferences...\nFaders using percent.\nTempo mode on.\n");
    const Late quiet = ReadLate("\npre\toff\nv=percent\ntempo\n", kTenSeconds, "t", 3);
    EXPECT_TRUE(quiet.prefs.percent && quiet.prefs.tempo);
    EXPECT_EQ(quiet.out, "");
}

TEST(LatePrefs, LaunchIsOneFieldOfAtMost255Characters)
{
    const Late r = ReadLate("\npre\toff\nlaunch\tplay mix.wav\tignored\n");
    EXPECT_TRUE(r.prefs.launchSet);
    EXPECT_EQ(r.prefs.launch, "play mix.wav");
    EXPECT_FALSE(ReadLate("\npre\toff\n").prefs.launchSet);
    const Late longer = ReadLate("\npre\toff\nlaunch\t" + std::string(256, 'c') + "\n");
    EXPECT_EQ(longer.status, 2);
    EXPECT_NE(longer.out.find("launch in preferences file is longer than 255 characters"), std::string::npos);
}

TEST(LatePrefs, MonoGainOutsideItsRangeBecomesOneHalf)
{
    const Late low = ReadLate("\npre\toff\nmono\t-30\n");
    EXPECT_TRUE(low.prefs.mono);
    EXPECT_EQ(low.prefs.monoGain, 0.5f);
    EXPECT_EQ(ReadLate("\npre\toff\nmono\t1\n").prefs.monoGain, 0.5f);
    EXPECT_EQ(ReadLate("\npre\toff\nmono\t0\n").prefs.monoGain, 1.0f);
    const float six = ReadLate("\npre\toff\nmono\t-6\n").prefs.monoGain;
    EXPECT_NEAR(six, 0.501187, 1e-6);  // 10^(-6/20)
}

TEST(LatePrefs, DitherOutOfRangeKeepsTheCurrentValueWithAMessage)
{
    const Late nine = ReadLate("\npre\toff\ndither\t9\n");
    EXPECT_EQ(nine.prefs.dither, 1);
    EXPECT_EQ(nine.out, "Checking Preferences...\nDither is set out of range (0-8)\n");
    const Late kept = ReadLate("\npre\toff\ndither\t3\ndither\t-1\n", kTenSeconds, "t", 0);
    EXPECT_EQ(kept.prefs.dither, 3);
    EXPECT_EQ(kept.out, "Dither is set out of range (0-8)\n");
    EXPECT_EQ(ReadLate("\npre\toff\ndither\t8\n").prefs.dither, 8);
}

TEST(LatePrefs, OutbitsIs16Or24AndIsSeenPastEnd)
{
    EXPECT_EQ(ReadLate("\npre\toff\noutbits\t20\n").prefs.outbits, 24);
    EXPECT_EQ(ReadLate("\npre\toff\noutbits\t16\n").prefs.outbits, 16);
    EXPECT_EQ(ReadLate("\npre\toff\nend\noutbits\t16\n").prefs.outbits, 16);
    EXPECT_EQ(ReadLate("\npre\toff\noutbits\t16\noutbits\t8\n").prefs.outbits, 24);
}

TEST(LatePrefs, MissingValuesAtTheEndOfTheTextAreLeftUnsetWithAWarning)
{
    for (const char* key : {"oname", "sfields", "xfields", "head", "tail", "xin", "xout", "launch", "dbps",
                            "dither", "outbits"}) {
        const Late r = ReadLate(std::string("\npre\toff\n") + key, kTenSeconds, "t", 0);
        EXPECT_EQ(r.status, 0) << key;
        EXPECT_EQ(r.out, Warning(key)) << key;
        EXPECT_EQ(r.prefs.outName, "t.wav") << key;
        EXPECT_EQ(r.prefs.renderCount, kTenSeconds) << key;
    }
    // "1" is the minutes; the missing seconds and milliseconds read as 0.
    const Late pre = ReadLate("\npre\ton\nstart\t1", 10000000);
    EXPECT_EQ(pre.status, 0);
    EXPECT_EQ(pre.prefs.renderStart, 60 * 44100);
    // An empty pre is skipped: with no other pre line the preview is not specified.
    EXPECT_EQ(ReadLate("\npre").out,
              "Checking Preferences...\n" + Warning("pre") + "Preview mode not specified.\n");
}

TEST(LatePrefs, AKeywordAsTheValueOfAnotherNamesTheMix)
{
    const Late mono = ReadLate("\npre\toff\noname\tmono\n");
    EXPECT_EQ(mono.prefs.outName, "mono.wav");
    EXPECT_FALSE(mono.prefs.mono);
    const Late tempo = ReadLate("\npre\toff\noname\ttempo\n");
    EXPECT_EQ(tempo.prefs.outName, "tempo.wav");
    EXPECT_FALSE(tempo.prefs.tempo);
    EXPECT_EQ(tempo.out, "Checking Preferences...\n");
}

TEST(LatePrefs, KeywordsSharingALineReadAsBefore)
{
    const Late r = ReadLate("\npre\toff\ndither\t0\toutbits\t16\nhead\t0.5\ttail\t1\n");
    EXPECT_EQ(r.prefs.dither, 0);
    EXPECT_EQ(r.prefs.outbits, 16);
    EXPECT_EQ(r.prefs.renderStart, 22050);
    EXPECT_EQ(r.prefs.renderCount, kTenSeconds - 22050 - 44100);
}

TEST(LatePrefs, AnEmptyValueNeverTakesTheNextLine)
{
    // oname: no "pre<TAB>off.wav"; launch: the next keyword is not a command;
    // dither: the next line's keyword is not its value.
    const Late r = ReadLate("\noname\npre\toff\nlaunch\nmono\ndither\noutbits\t16\n", kTenSeconds, "t", 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.prefs.outName, "t.wav");
    EXPECT_FALSE(r.prefs.preview);
    EXPECT_FALSE(r.prefs.launchSet);
    EXPECT_EQ(r.prefs.dither, 1);
    EXPECT_EQ(r.prefs.outbits, 16);
    // mono alone on its line is mono output at 0 dB.
    EXPECT_TRUE(r.prefs.mono);
    EXPECT_EQ(r.prefs.monoGain, 1.0f);
    EXPECT_EQ(r.out, Warning("oname") + Warning("launch") + Warning("dither"));
    // Not -6 dB from the next line either.
    EXPECT_EQ(ReadLate("\npre\toff\nmono\n-6\n").prefs.monoGain, 1.0f);
}

TEST(LatePrefs, AnEmptyPreIsSkippedAndTheNextOneRead)
{
    const Late r = ReadLate("\npre\npre\ton\nlength\t1\npre\toff\n");
    EXPECT_TRUE(r.prefs.preview);
    EXPECT_EQ(r.prefs.renderCount, 44100);
    EXPECT_EQ(r.out, "Checking Preferences...\n" + Warning("pre") + "Running in Preview Mode\n");
    // start and length after it follow the same rules.
    const Late empty = ReadLate("\npre\ton\nstart\nlength\noname\tlength\n", kTenSeconds, "t", 0);
    EXPECT_EQ(empty.prefs.renderStart, 0);
    EXPECT_EQ(empty.prefs.renderCount, kTenSeconds);
    EXPECT_EQ(empty.out, Warning("start") + Warning("length"));
}

TEST(LatePrefs, ATimeValueShortOfFieldsStillRunsIntoTheNextLine)
{
    // xin has two of its three fields: its seconds run into the xout line, which
    // xout's own scan still reads (1 s to 3 s).
    const Late r = ReadLate("\npre\toff\nxin\t0\t1\nxout\t0\t3\t0\n");
    EXPECT_EQ(r.prefs.renderStart, 44100);
    EXPECT_EQ(r.prefs.renderCount, 2 * 44100);
}

TEST(RenderSize, DataOf4GiBOrMoreIsRefusedWithTheLongestPossibleRender)
{
    // 24-bit stereo: 6 bytes a frame; data + 36 must stay below 2^32.
    const uint64_t maxStereo24 = (4294967295ull - 36) / 6;
    Prefs p;
    p.renderCount = static_cast<int64_t>(maxStereo24);
    ConsoleCapture out;
    EXPECT_TRUE(RenderFitsWav(p, 44100.0));
    EXPECT_EQ(out.Take(), "");
    p.renderCount += 1;
    EXPECT_FALSE(RenderFitsWav(p, 44100.0));
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "Error: the render is too long for a WAV file. The longest render possible at 24 bits stereo is "
                  "%llu frames (%.2f seconds).\n",
                  static_cast<unsigned long long>(maxStereo24), static_cast<double>(maxStereo24) / 44100.0);
    EXPECT_EQ(out.Take(), expected);

    // 16-bit mono: 2 bytes a frame.
    p.outbits = 16;
    p.mono = true;
    p.renderCount = static_cast<int64_t>((4294967295ull - 36) / 2);
    EXPECT_TRUE(RenderFitsWav(p, 48000.0));
    p.renderCount += 1;
    EXPECT_FALSE(RenderFitsWav(p, 48000.0));
    EXPECT_NE(out.Take().find("16 bits mono is 2147483629 frames"), std::string::npos);
}

TEST(LatePrefs, LoudnessTruepeakAndSeedDefaultsAndValues)
{
    const Late d = ReadLate("\nend\n");
    EXPECT_TRUE(d.prefs.loudness);
    EXPECT_FALSE(d.prefs.truePeak);
    EXPECT_FALSE(d.prefs.seedSet);

    const Late on = ReadLate("\nloudness\toff\ntruepeak\ton\nseed\t0\nend\n");
    EXPECT_FALSE(on.prefs.loudness);
    EXPECT_TRUE(on.prefs.truePeak);
    EXPECT_TRUE(on.prefs.seedSet);
    EXPECT_EQ(on.prefs.seed, 0u);
    EXPECT_EQ(on.out.find("Warning"), std::string::npos);

    // Only "off" and "on" change anything; the last line decides.
    const Late other = ReadLate("\nloudness\tno\ntruepeak\tyes\nend\n");
    EXPECT_TRUE(other.prefs.loudness);
    EXPECT_FALSE(other.prefs.truePeak);
    const Late last = ReadLate("\nloudness\toff\nloudness\ton\ntruepeak\ton\ntruepeak\toff\nend\ntruepeak\ton\n");
    EXPECT_TRUE(last.prefs.loudness);
    EXPECT_FALSE(last.prefs.truePeak);

    const Late top = ReadLate("\nseed\t4294967295\tnote\nend\n");
    EXPECT_TRUE(top.prefs.seedSet);
    EXPECT_EQ(top.prefs.seed, 4294967295u);
}

TEST(LatePrefs, StemsOnlyWithExactlyOnAndTheLastLineDecides)
{
    EXPECT_FALSE(ReadLate("\nend\n").prefs.stems);
    EXPECT_TRUE(ReadLate("\nstems\ton\nend\n").prefs.stems);
    // The rest of the line is the value: anything but "on" leaves stems off.
    EXPECT_FALSE(ReadLate("\nstems\ton \nend\n").prefs.stems);
    EXPECT_FALSE(ReadLate("\nstems\tyes\nend\n").prefs.stems);
    EXPECT_FALSE(ReadLate("\nstems\ton\tdither\t0\nend\n").prefs.stems);
    EXPECT_FALSE(ReadLate("\nstems\ton\nstems\toff\nend\n").prefs.stems);
    EXPECT_FALSE(ReadLate("\nend\nstems\ton\n").prefs.stems);
    // As another keyword's value it is no keyword.
    const Late named = ReadLate("\noname\tstems\ton\nend\n");
    EXPECT_FALSE(named.prefs.stems);
}

TEST(LatePrefs, ASeedOutOfRangeWarnsAndLeavesTheClock)
{
    const std::string warning =
        ">> Warning: seed in the preferences file must be a whole number from 0 to 4294967295; "
        "the dither is seeded from the clock.\n";
    for (const char* bad : {"4294967296", "-3", "1.5", "0x10", "seven", "12345678901"}) {
        const Late r = ReadLate(std::string("\nseed\t") + bad + "\nend\n");
        EXPECT_FALSE(r.prefs.seedSet) << bad;
        EXPECT_NE(r.out.find(warning), std::string::npos) << bad << r.out;
    }
    // The last line decides: a bad value after a good one leaves the clock.
    EXPECT_FALSE(ReadLate("\nseed\t5\nseed\tx\nend\n").prefs.seedSet);
    const Late good = ReadLate("\nseed\tx\nseed\t5\nend\n");
    EXPECT_TRUE(good.prefs.seedSet);
    EXPECT_EQ(good.prefs.seed, 5u);
}
