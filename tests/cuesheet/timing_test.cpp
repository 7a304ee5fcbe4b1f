#include <gtest/gtest.h>

#include <string>

#include "corvale/cuesheet/timing.h"
#include "corvale/run/text.h"
#include "tests/console_capture.h"

namespace {

TimeContext Context(double rate, int64_t songLength, bool tempo = false)
{
    TimeContext ctx;
    ctx.rate = rate;
    ctx.songLength = songLength;
    ctx.tempo = tempo;
    return ctx;
}

// Reads the fields of one "t" line (the text after its code).
int TimeLine(const char* fields, const TimeContext& ctx, Timing& timing)
{
    Tokens tokens(fields);
    return ReadTimeLine(tokens, ctx, timing);
}

// A timing with the tempo map of the given "tmap" lines.
Timing MapOf(const char* body, double rate)
{
    Timing timing;
    ConsoleCapture console;
    EXPECT_EQ(ReadTempoMap(body, Context(rate, 0, true), timing), 0);
    return timing;
}

}  // namespace

TEST(ClockTime, FieldCountDecidesWhatEachFieldMeans)
{
    const TimeContext ctx = Context(48000.0, 100000000);
    Timing timing;
    ASSERT_EQ(TimeLine("1\t30\t500\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 4344000);

    timing.tfields = 2;
    ASSERT_EQ(TimeLine("2\t1.5\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, static_cast<int64_t>(121.5 * 48000.0));

    Timing one;
    one.tfields = 1;
    ASSERT_EQ(TimeLine("2.5\n", Context(44100.0, 1000000), one), 0);
    EXPECT_EQ(one.current, 110250);
    EXPECT_EQ(one.entries, 1);
}

TEST(ClockTime, MissingFieldsReadAsZero)
{
    const TimeContext ctx = Context(48000.0, 1000000);
    Timing timing;
    timing.current = 5000;
    ASSERT_EQ(TimeLine("", ctx, timing), 0);
    EXPECT_EQ(timing.current, 0);
    ASSERT_EQ(TimeLine("0\tx\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 0);
    EXPECT_EQ(timing.entries, 2);
}

TEST(TimeChecks, SongLengthIsTheLastAcceptedSample)
{
    // 1 s at 48000 Hz is sample 48000.
    ConsoleCapture console;
    Timing timing;
    timing.tfields = 1;
    ASSERT_EQ(TimeLine("1\n", Context(48000.0, 48000), timing), 0);
    EXPECT_EQ(timing.current, 48000);
    EXPECT_EQ(timing.entries, 1);

    EXPECT_EQ(TimeLine("1\n", Context(48000.0, 47999), timing), 2);
    EXPECT_EQ(console.Text(), "Error:  Time entry 2 exceeds song length\n"
                              "  the entry is at 1.000000 s (frame 48000); the song ends at 0.999979 s (frame 47999)\n");
    EXPECT_EQ(timing.current, 48000);   // the rejected time never becomes current
    EXPECT_EQ(timing.entries, 1);
}

TEST(TimeChecks, TimeBeforeTheSongEndsTheRun)
{
    ConsoleCapture console;
    Timing timing;
    EXPECT_EQ(TimeLine("0\t-1\t0\n", Context(44100.0, 1000000), timing), 2);
    EXPECT_EQ(console.Text(), "Error:  Time entry 1 is less than zero\n");
}

TEST(TimeChecks, HugeAndNonNumericValuesEndInTheChecksNotInACrash)
{
    ConsoleCapture console;
    Timing timing;
    EXPECT_EQ(TimeLine("1e38\t1e38\t1e38\n", Context(48000.0, 1000), timing), 2);
    EXPECT_EQ(TimeLine("-1e38\t0\t0\n", Context(48000.0, 1000), timing), 2);
    EXPECT_EQ(TimeLine("nan\tnan\tnan\n", Context(48000.0, 1000), timing), 0);
    EXPECT_EQ(timing.current, 0);
    const std::string out = console.Text();
    EXPECT_EQ(out.rfind("Error:  Time entry 1 exceeds song length\n  the entry is at ", 0), 0u) << out;
    EXPECT_NE(out.find("(frame 9223372036854775807); the song ends at 0.020833 s (frame 1000)\n"
                       "Error:  Time entry 1 is less than zero\n"),
              std::string::npos)
        << out;
}

TEST(Offset, AddsToEveryTimeAndTheLastLineWins)
{
    ConsoleCapture console;
    TimeContext ctx = Context(44100.0, 10000000);
    ctx.xin = 777;
    Timing timing;
    ReadOffset("\noffset\t0\t1\t0\n", ctx, timing);
    EXPECT_EQ(timing.offset, 44100);
    ASSERT_EQ(TimeLine("0\t2\t0\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 3 * 44100);
    EXPECT_EQ(console.Text(), "Automation offset by 44100 samples.\n");

    Timing linked;
    ReadOffset("\noffset\t0\t2\t0\noffset\txlink\nend\noffset\t0\t9\t0\n", ctx, linked);
    EXPECT_EQ(linked.offset, 777);
    EXPECT_EQ(console.Text(), "Automation offset by 44100 samples.\n"
                              "Automation offset by 88200 samples.\n"
                              "Automation offset by 777 samples.\n");
}

TEST(Offset, OnlyOffsetLinesWithTheirValueCount)
{
    ConsoleCapture console;
    TimeContext ctx = Context(44100.0, 10000000);
    ctx.xin = 777;
    Timing timing;
    // "offset" as the value of oname is no offset line; an empty one is skipped
    // and does not take the next line's fields.
    ReadOffset("oname\toffset\t0\t1\t0\noffset\n0\t2\t0\n", ctx, timing);
    EXPECT_EQ(timing.offset, 0);
    ReadOffset("offset\t \nxin\t0\t1\t0\noffset\txlink\n", ctx, timing);
    EXPECT_EQ(timing.offset, 777);
    EXPECT_EQ(console.Text(),
              ">> Warning: offset has no value on its line of the preferences; it is left unset.\n"
              ">> Warning: offset has no value on its line of the preferences; it is left unset.\n"
              "Automation offset by 777 samples.\n");
}

TEST(Offset, SumIsFormedInSinglePrecision)
{
    // 60.01 s: the float sum is 60.0099983..., the double one 60.01.
    ConsoleCapture console;
    Timing timing;
    ReadOffset("offset\t1\t0.01\t0\n", Context(44100.0, 0), timing);
    const float sum = 1.0f * 60.0f + 0.01f + 0.0f / 1000.0f;
    const int64_t expected = static_cast<int64_t>(static_cast<double>(sum) * 44100.0);
    EXPECT_EQ(timing.offset, expected);
    EXPECT_NE(expected, static_cast<int64_t>(60.01 * 44100.0));
}

TEST(TimeFields, OutOfRangeCountBecomesThreeAndIsAnnounced)
{
    ConsoleCapture console;
    TimeContext ctx = Context(44100.0, 0);
    ctx.announce = true;
    Timing timing;
    ReadTimeFields("tfields\t1\n", ctx, timing);
    EXPECT_EQ(timing.tfields, 1);
    ReadTimeFields("tfields\t2\ntfields\t7\n", ctx, timing);
    EXPECT_EQ(timing.tfields, 3);
    EXPECT_EQ(console.Text(), "Using 1 time field\nUsing 2 time fields\nUsing 3 time fields\n");

    Timing quiet;
    quiet.tfields = 2;
    ctx.announce = false;
    ReadTimeFields("nothing here\n", ctx, quiet);
    EXPECT_EQ(quiet.tfields, 2);
    ReadTimeFields("tfields\t1\n", ctx, quiet);
    EXPECT_EQ(quiet.tfields, 1);
    EXPECT_EQ(console.Text(), "Using 1 time field\nUsing 2 time fields\nUsing 3 time fields\n");
}

TEST(TimeFields, AnEmptyTfieldsKeepsTheCountAndANamedOneIsNoLine)
{
    ConsoleCapture console;
    TimeContext ctx = Context(44100.0, 0);
    Timing timing;
    ReadTimeFields("tfields\n1\noname\ttfields\t2\n", ctx, timing);
    EXPECT_EQ(timing.tfields, 3);
    EXPECT_EQ(console.Text(), ">> Warning: tfields has no value on its line of the preferences; it is left unset.\n");
}

TEST(TempoMap, SectionLengthsFollowTempoAndMeter)
{
    ConsoleCapture console;
    TimeContext ctx = Context(48000.0, 0, true);
    ctx.announce = true;
    Timing timing;
    ASSERT_EQ(ReadTempoMap("tmap\t120\t4\t8\ntmap\t60\t3\t4\n", ctx, timing), 0);
    ASSERT_EQ(timing.map.size(), 2u);
    EXPECT_EQ(timing.map[0].samplesPerBeat, 24000.0);
    EXPECT_EQ(timing.map[0].length, 768000);
    EXPECT_EQ(timing.map[1].samplesPerBeat, 48000.0);
    EXPECT_EQ(timing.map[1].length, 576000);
    EXPECT_EQ(console.Text(), "Constructing tempo map...\n");
}

TEST(TempoMap, MissingOrUnusableTempoEndsTheRun)
{
    ConsoleCapture console;
    Timing timing;
    EXPECT_EQ(ReadTempoMap("t\t1\t1\t0\nend\ntmap\t120\t4\t4\n", Context(48000.0, 0, true), timing), 2);
    EXPECT_EQ(console.Text(), "Tempo mode is on, but no tempos or meters have been entered!\n");

    for (const char* bad : {"tmap\t120\t4\t4\ntmap\t0\t4\t4\n", "tmap\t120\t4\t4\ntmap\t-90\t4\t4\n",
                            "tmap\t120\t4\t4\ntmap\tnan\t4\t4\n", "tmap\t120\t4\t4\ntmap\tinf\t4\t4\n",
                            "tmap\t120\t4\t4\ntmap\t1e-320\t4\t4\n"}) {
        ConsoleCapture inner;
        Timing t;
        EXPECT_EQ(ReadTempoMap(bad, Context(48000.0, 0, true), t), 2) << bad;
        EXPECT_NE(inner.Text().find("tempo map line 2"), std::string::npos) << inner.Text();
    }
}

TEST(MusicalTime, BarsBeatsAndTicksInOneSection)
{
    const Timing timing = MapOf("tmap\t120\t4\t8\n", 48000.0);
    EXPECT_EQ(MusicalTime(timing, 1, 1, 0), 0);
    EXPECT_EQ(MusicalTime(timing, 2, 1, 0), 96000);
    EXPECT_EQ(MusicalTime(timing, 2, 3, 240), 156000);
    EXPECT_EQ(MusicalTime(timing, 2, 0, 0), 96000);        // beat 0 adds nothing
    EXPECT_EQ(MusicalTime(timing, 2, -1, 0), 72000);       // one beat before the bar
    // Past the map the last section goes on: bar 10 is 9 bars of 96000.
    EXPECT_EQ(MusicalTime(timing, 10, 1, 0), 864000);
}

TEST(MusicalTime, SectionsAddUpAndLaterSectionsAddNothing)
{
    const Timing two = MapOf("tmap\t120\t4\t2\ntmap\t60\t3\t4\n", 48000.0);
    EXPECT_EQ(MusicalTime(two, 3, 1, 0), 192000);
    EXPECT_EQ(MusicalTime(two, 4, 2, 0), 384000);

    const Timing three = MapOf("tmap\t120\t4\t2\ntmap\t60\t3\t4\ntmap\t90\t4\t4\n", 48000.0);
    EXPECT_EQ(MusicalTime(three, 4, 1, 0), 336000);
    // Bar 7 is the first bar of the third section: 192000 + 4 x 144000.
    EXPECT_EQ(MusicalTime(three, 7, 1, 0), 768000);
    EXPECT_EQ(MusicalTime(three, 7, 2, 0), 768000 + 32000);
}

TEST(MusicalTime, FirstBarUsesTheFirstSectionEvenWhenItIsEmpty)
{
    // A first section of 0 bars would be passed by the walk; bar 1 beat 1 stays at 0.
    const Timing timing = MapOf("tmap\t120\t4\t0\ntmap\t60\t4\t4\n", 48000.0);
    EXPECT_EQ(MusicalTime(timing, 1, 1, 0), 0);
    EXPECT_EQ(MusicalTime(timing, 1, 2, 0), 48000);   // walk: second section, 1 beat of 48000
}

TEST(MusicalTime, TimeLinesByFieldCountWithOffset)
{
    Timing timing = MapOf("tmap\t120\t4\t8\n", 48000.0);
    const TimeContext ctx = Context(48000.0, 10000000, true);

    // One field is a beat counted from the first bar: beat 5 is four beats in.
    timing.tfields = 1;
    ASSERT_EQ(TimeLine("5\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 96000);
    ASSERT_EQ(TimeLine("1\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 0);

    timing.tfields = 2;
    ASSERT_EQ(TimeLine("2\t3\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 144000);

    timing.tfields = 3;
    timing.offset = 10;
    ASSERT_EQ(TimeLine("2\t3\t240\n", ctx, timing), 0);
    EXPECT_EQ(timing.current, 156010);
    EXPECT_EQ(timing.entries, 4);
}

TEST(Inc, MovesTheTimeWithoutChecksOrCount)
{
    const TimeContext ctx = Context(48000.0, 100);
    Timing timing;
    timing.current = 1000;
    Tokens tokens("0.7\n-1\nnan\n");
    ReadIncLine(tokens, ctx, timing);
    // The seconds stay in double precision: 0.7 in float would give 33599.
    EXPECT_EQ(timing.current, 1000 + 33600);
    ReadIncLine(tokens, ctx, timing);
    EXPECT_EQ(timing.current, 1000 + 33600 - 48000);
    ReadIncLine(tokens, ctx, timing);
    EXPECT_EQ(timing.current, 1000 + 33600 - 48000);
    EXPECT_EQ(timing.entries, 0);
}

TEST(AnnounceTimeEntries, CountsInWords)
{
    ConsoleCapture console;
    TimeContext ctx;
    ctx.announce = true;
    Timing timing;
    AnnounceTimeEntries(ctx, timing);
    timing.entries = 1;
    AnnounceTimeEntries(ctx, timing);
    timing.entries = 12;
    AnnounceTimeEntries(ctx, timing);
    ctx.announce = false;
    AnnounceTimeEntries(ctx, timing);
    EXPECT_EQ(console.Text(), "No time entries found!\nCounted 1 time entry.\nCounted 12 time entries.\n");
}
