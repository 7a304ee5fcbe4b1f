// The user's guide against the program: every block docs/files.md and
// docs/report.md quote is the file it names, and every example file renders with
// the outcome the guide states (the mix, or the visible effect of a trap).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/testutil.h"

using testutil::Exists;
using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;
using testutil::WriteText;

namespace {

const std::string kSource = SOURCE_DIR;

std::string Source(const std::string& rel) { return ReadBytes(kSource + "/" + rel); }

// A fenced block of a guide page and the file its marker names.
struct Quote {
    std::string kind;  // "file" or "report"
    std::string path;
    std::string text;
};

// Blocks announced by "<!-- file: PATH -->" or "<!-- report: PATH -->" on the line
// before their opening fence.
std::vector<Quote> QuotesOf(const std::string& page)
{
    std::vector<Quote> quotes;
    const std::regex marker(R"(^<!-- (file|report): (\S+) -->$)");
    size_t pos = 0;
    while (pos < page.size()) {
        size_t eol = page.find('\n', pos);
        if (eol == std::string::npos) eol = page.size();
        const std::string line = page.substr(pos, eol - pos);
        pos = eol + 1;
        std::smatch m;
        if (!std::regex_match(line, m, marker)) continue;
        Quote q{m[1], m[2], ""};
        const size_t fenceEnd = page.find('\n', pos);
        EXPECT_EQ(page.compare(pos, 3, "```"), 0) << "no block after the marker of " << q.path;
        const size_t close = page.find("\n```\n", fenceEnd);
        if (fenceEnd == std::string::npos || close == std::string::npos) {
            ADD_FAILURE() << "unterminated block for " << q.path;
            break;
        }
        q.text = page.substr(fenceEnd + 1, close + 1 - (fenceEnd + 1));
        pos = close + 5;
        quotes.push_back(q);
    }
    return quotes;
}

// A scratch session: the tracks make_session writes for `kind`, and control files
// copied from examples/ (the names they keep in the directory).
struct Session {
    TempDir dir;
    explicit Session(const std::string& kind)
    {
        const auto r = RunIn(dir.path(), std::string(MAKE_SESSION_BIN) + " . " + kind);
        EXPECT_EQ(r.status, 0) << r.out;
    }
    void Copy(const std::string& rel, const std::string& as = "")
    {
        const std::string name = as.empty() ? std::filesystem::path(rel).filename().string() : as;
        const std::string text = Source(rel);
        ASSERT_FALSE(text.empty()) << rel;
        WriteText(dir / name, text);
    }
    testutil::RunResult Mix(const std::string& args = "") const
    {
        return RunIn(dir.path(), std::string(CORVALE_BIN) + (args.empty() ? "" : " " + args));
    }
    std::string Read(const std::string& name) const { return ReadBytes(dir / name); }
};

// An example session, rendered in its own scratch directory.
struct Example : Session {
    explicit Example(const std::string& name) : Session(name)
    {
        for (const char* f : {"tracks.txt", "faders.txt", "prefs.txt"}) Copy("examples/" + name + "/" + f);
    }
};

// The guide's sessions: the demo's tracks with the guide's files beside them.
struct Guide : Session {
    Guide() : Session("session")
    {
        Copy("examples/session/tracks.txt");
        for (const auto& e : std::filesystem::directory_iterator(kSource + "/examples/guide"))
            Copy("examples/guide/" + e.path().filename().string());
    }
};

// The control files of the examples: examples/SESSION/*.txt (not what a render
// of them leaves in out/).
std::vector<std::string> ExampleFiles()
{
    std::vector<std::string> files;
    for (const auto& d : std::filesystem::directory_iterator(kSource + "/examples")) {
        if (!d.is_directory()) continue;
        for (const auto& e : std::filesystem::directory_iterator(d.path()))
            if (e.is_regular_file() && e.path().extension() == ".txt")
                files.push_back(std::filesystem::relative(e.path(), kSource).string());
    }
    return files;
}

uint32_t U32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}
uint16_t U16(const std::string& b, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}

struct Format {
    int channels, bits;
    uint32_t rate, frames;
};

Format FormatOf(const std::string& wav)
{
    if (wav.size() < 44) return {0, 0, 0, 0};
    const int channels = U16(wav, 22), bits = U16(wav, 34);
    return {channels, bits, U32(wav, 24), U32(wav, 40) / static_cast<uint32_t>(channels * bits / 8)};
}

// RMS in dB of full scale of a 16-bit mono file between two times.
double Rms16(const std::string& wav, uint32_t rate, double from, double to)
{
    double sum = 0.0;
    const size_t a = static_cast<size_t>(from * rate), b = static_cast<size_t>(to * rate);
    for (size_t i = a; i < b; ++i) {
        const double v = static_cast<double>(testutil::SampleAt(wav, 44 + 2 * i, 2)) / 32768.0;
        sum += v * v;
    }
    return 10.0 * std::log10(sum / static_cast<double>(b - a));
}

bool HasLine(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0 || text.find("\n" + start) != std::string::npos;
}

}  // namespace

TEST(GuidePages, EveryQuotedBlockIsItsFileAndEveryExampleFileIsQuoted)
{
    // The README and every page under docs/ may quote example files.
    std::vector<std::string> pages = {"README.md"};
    for (const auto& e : std::filesystem::directory_iterator(kSource + "/docs"))
        if (e.path().extension() == ".md") pages.push_back("docs/" + e.path().filename().string());
    ASSERT_NE(std::find(pages.begin(), pages.end(), "docs/files.md"), pages.end());
    std::set<std::string> quoted;
    for (const std::string& page : pages) {
        const std::string text = Source(page);
        ASSERT_FALSE(text.empty()) << page;
        for (const Quote& q : QuotesOf(text)) {
            if (q.kind != "file") continue;
            EXPECT_EQ(q.text, Source(q.path)) << page << " quotes " << q.path << " as it no longer is";
            quoted.insert(q.path);
        }
    }
    const std::vector<std::string> files = ExampleFiles();
    const std::set<std::string> onDisk(files.begin(), files.end());
    EXPECT_EQ(quoted, onDisk) << "every control file under examples/ is quoted in the guide";
    EXPECT_GE(quoted.size(), 20u);
}

TEST(GuidePages, NotesAboveTheStartLineNeverHoldTheStartWord)
{
    // The body starts after the first line holding "begin"; in every example that
    // line is "begin" itself, except in the trap that shows what goes wrong.
    for (const std::string& rel : ExampleFiles()) {
        const std::string text = Source(rel);
        const size_t at = text.find("begin");
        if (at == std::string::npos || rel == "examples/guide/notes.txt") continue;
        const size_t lineStart = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
        EXPECT_EQ(text.compare(lineStart, 6, "begin\n"), 0) << rel << ": a note above the start line says begin";
    }
    const std::string notes = Source("examples/guide/notes.txt");
    EXPECT_LT(notes.find("begin"), notes.find("\nbegin\n"));
}

TEST(ExampleSessions, DemoMixesWithBothReverbsASubmixAndATapFile)
{
    Example s("session");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Done!  Created the file: out/example_mix.wav"), std::string::npos);
    const Format f = FormatOf(s.Read("out/example_mix.wav"));
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.bits, 24);
    EXPECT_EQ(f.frames, 8u * 48000u);
    const std::string stats = s.Read("out/stats_example_mix.txt");
    for (const char* line : {"Ch 1\t", "Ch 4\t", "Rev\t", "Trev\t", "Sub 1\t", "RMS\t"})
        EXPECT_TRUE(HasLine(stats, line)) << line << "\n" << stats;
    EXPECT_EQ(stats.find("Over"), std::string::npos) << stats;
    EXPECT_EQ(FormatOf(s.Read("out/rtnTap.wav")).frames, 8u * 48000u);
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
}

TEST(ExampleSessions, SpokenWordIsMono16BitAndTheVcaDucksTheBedUnderTheVoice)
{
    Example s("spoken");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
    const std::string wav = s.Read("out/interview.wav");
    const Format f = FormatOf(wav);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.bits, 16);
    ASSERT_EQ(f.frames, 12u * 48000u);
    // Before the duck and in a pause of the voice (8.9 to 9.5 s) only the bed
    // plays, at the same point of its 4-second swell: 14 dB apart.
    const double open = Rms16(wav, f.rate, 0.95, 1.45);
    const double ducked = Rms16(wav, f.rate, 8.95, 9.45);
    EXPECT_NEAR(open - ducked, 14.0, 0.5) << open << " " << ducked;
    // The fade-out ends the song in silence but for the dither.
    EXPECT_LT(Rms16(wav, f.rate, 11.9, 12.0), open - 30.0);
    const std::string stats = s.Read("out/stats_interview.txt");
    EXPECT_TRUE(HasLine(stats, "Ch 1\t")) << stats;
    EXPECT_FALSE(HasLine(stats, "Rev\t")) << stats;
}

TEST(ExampleSessions, MusicalTimeMixesAsTheSameCuesInClockTime)
{
    Example s("tempo");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Tempo mode on."), std::string::npos) << r.out;
    const std::string tempoMix = s.Read("out/in_time.wav");
    ASSERT_EQ(FormatOf(tempoMix).frames, 16u * 48000u);

    // The guide's reading of the map: bars 3, 5 and 7 beat 2 tick 240 are 4, 8 and 13 s.
    std::string cues = Source("examples/tempo/faders.txt");
    std::string prefs = Source("examples/tempo/prefs.txt");
    const std::vector<std::pair<std::string, std::string>> clock = {
        {"tmap\t120\t4\t4\n", ""},           {"tmap\t90\t3\t4\n", ""},
        {"t\t1\t1\t0\n", "t\t0\t0\t0\n"},    {"t\t3\t1\t0\n", "t\t0\t4\t0\n"},
        {"t\t5\t1\t0\n", "t\t0\t8\t0\n"},    {"t\t7\t2\t240\n", "t\t0\t13\t0\n"}};
    for (const auto& [from, to] : clock) {
        const size_t at = cues.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        cues.replace(at, from.size(), to);
    }
    const size_t tempo = prefs.find("\ntempo\n");
    ASSERT_NE(tempo, std::string::npos);
    prefs.erase(tempo, 6);
    Session c("tempo");
    c.Copy("examples/tempo/tracks.txt");
    WriteText(c.dir / "faders.txt", cues);
    WriteText(c.dir / "prefs.txt", prefs);
    const auto rc = c.Mix();
    ASSERT_EQ(rc.status, 0) << rc.out;
    EXPECT_EQ(rc.out.find("Tempo mode on."), std::string::npos);
    EXPECT_TRUE(c.Read("out/in_time.wav") == tempoMix) << "musical and clock time disagree";
}

TEST(ExampleSessions, EffectsSessionUsesEveryEffectRowAndItsOrderLineCounts)
{
    const std::string cues = Source("examples/effects/faders.txt");
    for (const char* code : {"hp", "band1", "band2", "band3", "band4", "lshelf", "hshelf", "comp", "rms", "nlc",
                             "lim", "rev", "trev", "rtn", "trtn", "pos", "width", "rhp", "rlp", "o", "fxg"})
        EXPECT_NE(cues.find(std::string("\n") + code + "\t"), std::string::npos) << code;

    Example s("effects");
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Resetting"), std::string::npos) << r.out;
    const std::string stats = s.Read("out/stats_effects_mix.txt");
    for (const char* line : {"Rev\t", "Trev\t", "Sub 1\t"}) EXPECT_TRUE(HasLine(stats, line)) << line << stats;
    EXPECT_EQ(stats.find("Over"), std::string::npos) << stats;
    const Format tap = FormatOf(s.Read("out/rtnTap.wav"));
    EXPECT_EQ(tap.channels, 2);
    EXPECT_EQ(tap.bits, 24);
    EXPECT_EQ(tap.frames, 8u * 48000u);

    // Without its order line channel 4's compressor runs after the bands, and the mix differs.
    const std::string mix = s.Read("out/effects_mix.wav");
    std::string unordered = cues;
    const size_t at = unordered.find("o\tnlc\t4\t1\n");
    ASSERT_NE(at, std::string::npos);
    unordered.erase(at, 10);
    WriteText(s.dir / "faders.txt", unordered);
    ASSERT_EQ(s.Mix().status, 0);
    EXPECT_FALSE(s.Read("out/effects_mix.wav") == mix);
}

TEST(GuideSessions, TheFourTrackListLayoutsGiveTheSameMix)
{
    Guide s;
    ASSERT_EQ(s.Mix("tracks.txt faders.txt prefs.txt").status, 0);
    const std::string mix = s.Read("guide_mix.wav");
    ASSERT_EQ(FormatOf(mix).frames, 8u * 48000u);
    for (const char* layout : {"tlist1", "tlist0", "tab"}) {
        std::filesystem::remove(s.dir / "guide_mix.wav");
        const auto r = s.Mix(std::string("tracks-") + layout + ".txt faders.txt prefs-" + layout + ".txt");
        ASSERT_EQ(r.status, 0) << layout << r.out;
        EXPECT_NE(r.out.find("Counted 4 tracks"), std::string::npos) << layout;
        EXPECT_TRUE(s.Read("guide_mix.wav") == mix) << layout;
    }
}

TEST(GuideSessions, ReportPageQuotesTheGuideMixReport)
{
    Guide s;
    ASSERT_EQ(s.Mix("tracks.txt faders.txt prefs.txt").status, 0);
    std::vector<Quote> reports;
    for (const Quote& q : QuotesOf(Source("docs/report.md")))
        if (q.kind == "report") reports.push_back(q);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].path, "examples/guide/faders.txt");
    const std::regex time(R"(Processing time = [0-9.]+ sec)");
    EXPECT_EQ(std::regex_replace(reports[0].text, time, "T"), std::regex_replace(s.Read("stats_guide_mix.txt"), time, "T"));
}

TEST(GuideTraps, SpacesInsteadOfTabsSwitchTheReverbOff)
{
    Guide s;
    ASSERT_EQ(s.Mix("tracks.txt faders.txt prefs.txt").status, 0);
    const auto r = s.Mix("tracks.txt spaces.txt prefs.txt");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(HasLine(s.Read("stats_guide_mix.txt"), "Rev\t"));
    const std::string stats = s.Read("stats_spaces_mix.txt");
    EXPECT_TRUE(HasLine(stats, "Ch 4\t")) << stats;
    EXPECT_FALSE(HasLine(stats, "Rev\t")) << stats;
    EXPECT_NE(r.out.find(">> Warning: spaces.txt line 16: \"rtn -6 60\" is separated by spaces, not tabs; it is "
                         "not read as written.\n"),
              std::string::npos)
        << r.out;
}

TEST(GuideTraps, ATrailingSpaceAfterAMarkerMutesTheChannel)
{
    Guide s;
    const auto r = s.Mix("tracks-space.txt faders.txt prefs.txt");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string stats = s.Read("stats_guide_mix.txt");
    EXPECT_TRUE(HasLine(stats, "Ch 2\t")) << stats;
    EXPECT_FALSE(HasLine(stats, "Ch 3\t")) << stats;
    EXPECT_TRUE(HasLine(stats, "Ch 4\t")) << stats;
    EXPECT_NE(r.out.find("  channel 3 (pad.wav): its marker \"+ \" is neither \"+\" nor \"++\""), std::string::npos)
        << r.out;
}

TEST(GuideTraps, AShortRowTakesItsLastFieldFromTheNextLine)
{
    Guide s;
    const auto r = s.Mix("tracks.txt short-row.txt prefs.txt");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Illegal value for reverb room size"), std::string::npos) << r.out;
    EXPECT_FALSE(Exists(s.dir / "short_row_mix.wav"));
}

TEST(GuideTraps, AnEntryOutOfTimeOrderIsReported)
{
    Guide s;
    const auto r = s.Mix("tracks.txt order.txt prefs.txt");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(">> Warning: fader 3 (entry 3) is not later than the entry before it; playback may skip it"),
              std::string::npos)
        << r.out;
}

TEST(GuideTraps, AParenthesisedRowChangesNothingUntilItsParenthesesGo)
{
    Guide s;
    ASSERT_EQ(s.Mix("tracks.txt faders.txt prefs.txt").status, 0);
    ASSERT_EQ(s.Mix("tracks.txt inactive.txt prefs.txt").status, 0);
    const std::string mix = s.Read("guide_mix.wav");
    ASSERT_FALSE(mix.empty());
    EXPECT_TRUE(s.Read("inactive_mix.wav") == mix);
    std::string active = s.Read("inactive.txt");
    const size_t at = active.find("(hp)");
    ASSERT_NE(at, std::string::npos);
    active.replace(at, 4, "hp");
    WriteText(s.dir / "inactive.txt", active);
    ASSERT_EQ(s.Mix("tracks.txt inactive.txt prefs.txt").status, 0);
    EXPECT_FALSE(s.Read("inactive_mix.wav") == mix);
}

TEST(GuideTraps, TheStartWordInANoteMakesTheNextNoteTheTitle)
{
    Guide s;
    const auto r = s.Mix("tracks.txt notes.txt prefs.txt");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(Exists(s.dir / "Thecuesheetitselffollows..wav"));
    EXPECT_FALSE(Exists(s.dir / "notes_mix.wav"));
}

// The README's walk-through: its three files render without a warning and with
// the report the README shows.
TEST(Walkthrough, TheReadmeSessionRendersWithTheReportItShows)
{
    Session s("session");
    for (const char* f : {"tracks.txt", "faders.txt", "prefs.txt"}) s.Copy(std::string("examples/walkthrough/") + f);
    const auto r = s.Mix();
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Done!  Created the file: first_mix.wav"), std::string::npos) << r.out;
    std::vector<Quote> reports;
    for (const Quote& q : QuotesOf(Source("README.md")))
        if (q.kind == "report") reports.push_back(q);
    ASSERT_EQ(reports.size(), 1u);
    const std::string stats = s.Read("stats_first_mix.txt");
    EXPECT_EQ(reports[0].text, stats.substr(0, stats.find("Processing time")));
}
