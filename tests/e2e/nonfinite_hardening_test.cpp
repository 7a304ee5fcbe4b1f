// Numbers the C library reads as not finite ("nan", "inf", "-inf", "1e999") in
// every numeric field of the three control files: the run ends with a defined
// status, no value of the run state is left non-finite, and a run that goes on
// writes its whole output file. The sanitizer build turns any undefined
// conversion on the way into a failure as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/session_harness.h"
#include "tests/testutil.h"

namespace {

using Fields = std::map<std::string, std::string>;

// Replaces every "{name}" of text by the value of field name.
std::string Fill(std::string text, const Fields& fields)
{
    for (const auto& [name, value] : fields) {
        const std::string key = "{" + name + "}";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    }
    return text;
}

// A session template: the three texts with "{field}" holes and a valid value
// for every hole.
struct Template {
    const char* name;
    std::string prefs, tracks, cue;
    Fields defaults;
};

const char* kCue =
    "begin\nmix\n"
    "tstamp\t{ts_ch}\t{ts_m}\t{ts_s}\t{ts_ms}\n"
    "sstamp\t{ss_ch}\t{ss_n}\n"
    "sub\t{sub_n}\t{sub_ch},2\n"
    "submu\t{submu}\n"
    "subso\t{subso}\n"
    "VCA:\t{vca_n}\t{vca_slot}\n"
    "{tmap}"
    "t\t{t_1}\t{t_2}\t{t_3}\n"
    "v\t{v_slot}\t{v_level}\n"
    "rmp\t{rmp}\n"
    "ofs\t{ofs}\n"
    "shape\t{shape}\n"
    "vca\t{vca_id}\t{vca_level}\n"
    "rmp\t{vca_rmp}\n"
    "v\tG\t{g_n}\t{g_level}\n"
    "v\tM\t{m_level}\n"
    "p\t{p_slot}\t{p_val}\n"
    "pol\t{pol_slot}\t{pol_val}\n"
    "dp\t{dp_ch}\t{dp_val}\n"
    "trim\t{trim_slot}\t{trim_val}\n"
    "scale\t{scale}\n"
    "mtrim\t{mtrim}\n"
    "fxg\t{fxg_slot}\t{fxg_val}\n"
    "inc\t{inc}\n"
    "v\t2\t{v2_level}\n"
    "comp\t1\t{comp_thr}\t{comp_att}\t{comp_rel}\t{comp_ratio}\n"
    "rms\t2\t{rms_thr}\t{rms_att}\t{rms_rel}\t{rms_ratio}\n"
    "nlc\t1\t{nlc_thr}\t{nlc_win}\t{nlc_ratio}\n"
    "lim\tM\t{lim}\n"
    "hp\t2\t{hp}\n"
    "band1\t1\t{b1_f}\t{b1_g}\t{b1_q}\n"
    "band2\t1\t{b2_f}\t{b2_g}\t{b2_q}\n"
    "band3\t2\t{b3_f}\t{b3_g}\t{b3_q}\n"
    "band4\tG\t1\t{b4_f}\t{b4_g}\t{b4_q}\n"
    "hshelf\t2\t{hs_f}\t{hs_g}\t{hs_q}\n"
    "lshelf\t1\t{ls_f}\t{ls_g}\t{ls_q}\n"
    "rev\t1\t{rev}\n"
    "trev\t2\t{trev}\n"
    "rtn\t{rtn_l}\t{rtn_s}\n"
    "trtn\t{trtn_l}\t{trtn_s}\t{trtn_taps}\n"
    "pos\t{pos_x}\t{pos_y}\t{pos_z}\n"
    "width\t{width}\n"
    "rhp\t{rhp}\n"
    "rlp\t{rlp}\n"
    "ocomp\t1\t{order}\n"
    "end\n";

Fields CueDefaults()
{
    return {{"ts_ch", "2"}, {"ts_m", "0"}, {"ts_s", "0"}, {"ts_ms", "1"}, {"ss_ch", "1"}, {"ss_n", "10"},
            {"sub_n", "1"}, {"sub_ch", "1"}, {"vca_slot", "2"}, {"submu", "3"}, {"subso", "4"},
            {"vca_n", "1"}, {"tmap", ""},
            {"t_1", "0"}, {"t_2", "0"}, {"t_3", "0"}, {"v_slot", "1"}, {"v_level", "-3"}, {"rmp", "0.01"},
            {"ofs", "0.001"}, {"shape", "2"}, {"vca_id", "1"}, {"vca_level", "-2"}, {"vca_rmp", "0.01"},
            {"g_n", "1"}, {"g_level", "0"}, {"m_level", "-1"}, {"p_slot", "1"}, {"p_val", "20"},
            {"pol_slot", "2"}, {"pol_val", "-1"}, {"dp_ch", "2"}, {"dp_val", "30"}, {"trim_slot", "1"},
            {"trim_val", "2"}, {"scale", "1.2"}, {"mtrim", "-1"}, {"fxg_slot", "1"}, {"fxg_val", "1"},
            {"inc", "0.02"}, {"v2_level", "-6"}, {"comp_thr", "-12"}, {"comp_att", "5"},
            {"comp_rel", "100"}, {"comp_ratio", "3"}, {"rms_thr", "-10"}, {"rms_att", "5"},
            {"rms_rel", "100"}, {"rms_ratio", "2"}, {"nlc_thr", "-12"}, {"nlc_win", "200"},
            {"nlc_ratio", "3"}, {"lim", "-1"}, {"hp", "40"}, {"b1_f", "3000"}, {"b1_g", "3"},
            {"b1_q", "1.5"}, {"b2_f", "500"}, {"b2_g", "-3"}, {"b2_q", "1"}, {"b3_f", "200"},
            {"b3_g", "2"}, {"b3_q", "0.7"}, {"b4_f", "8000"}, {"b4_g", "1"}, {"b4_q", "2"},
            {"hs_f", "10000"}, {"hs_g", "2"}, {"hs_q", "1"}, {"ls_f", "100"}, {"ls_g", "2"},
            {"ls_q", "1"}, {"rev", "-10"}, {"trev", "-12"}, {"rtn_l", "-6"}, {"rtn_s", "30"},
            {"trtn_l", "-9"}, {"trtn_s", "25"}, {"trtn_taps", "4"}, {"pos_x", "50"}, {"pos_y", "40"},
            {"pos_z", "30"}, {"width", "80"}, {"rhp", "100"}, {"rlp", "8000"}, {"order", "2"}};
}

const char* kTracks = "{tr_n} a.wav +\n2 b.wav +\nend\n";

// Clock time, decibel levels, an export window.
Template Export()
{
    Template t{"export",
               "begin\nverbo\t{verbo}\nmixdir\t{dir}/\nwavdir\t{dir}/\ntlist\t{tlist}\noname\tout\n"
               "sfields\t{sfields}\nxfields\t{xfields}\nhead\t{head}\ntail\t{tail}\n"
               "xin\t{xin_m}\t{xin_s}\t{xin_ms}\nxout\t{xout_m}\t{xout_s}\t{xout_ms}\nmono\t{mono}\n"
               "dbps\t{dbps}\ndither\t{dither}\noutbits\t{outbits}\noffset\t{off_m}\t{off_s}\t{off_ms}\n"
               "tfields\t{tfields}\npan\t{pan}\ntap\trtn\nend\n",
               kTracks, kCue, CueDefaults()};
    const Fields prefs = {{"verbo", "2"}, {"tlist", "2"}, {"sfields", "3"}, {"xfields", "3"},
                          {"head", "0.0005"}, {"tail", "0.0005"}, {"xin_m", "0"}, {"xin_s", "0"},
                          {"xin_ms", "1"}, {"xout_m", "0"}, {"xout_s", "0"}, {"xout_ms", "90"},
                          {"mono", "-3"}, {"dbps", "40"}, {"dither", "1"}, {"outbits", "16"},
                          {"off_m", "0"}, {"off_s", "0"}, {"off_ms", "0"}, {"tfields", "3"}, {"pan", "3"},
                          {"tr_n", "1"}};
    t.defaults.insert(prefs.begin(), prefs.end());
    return t;
}

// Preview mode with percent levels.
Template Preview()
{
    Template t{"preview",
               "begin\nmixdir\t{dir}/\nwavdir\t{dir}/\nv=percent\npre\ton\nstart\t{st_m}\t{st_s}\t{st_ms}\n"
               "length\t{plen}\nend\n",
               kTracks, kCue, CueDefaults()};
    const Fields percent = {{"st_m", "0"}, {"st_s", "0"}, {"st_ms", "5"}, {"plen", "0.05"},
                            {"tr_n", "1"}, {"v_level", "80"}, {"vca_level", "90"}, {"g_level", "100"},
                            {"m_level", "95"}, {"trim_val", "110"}, {"v2_level", "50"}, {"comp_thr", "40"},
                            {"rms_thr", "50"}, {"nlc_thr", "30"}, {"lim", "90"}, {"rev", "30"},
                            {"trev", "20"}, {"rtn_l", "60"}, {"trtn_l", "50"}};
    for (const auto& [k, v] : percent) t.defaults[k] = v;
    return t;
}

// Musical time against a tempo map.
Template Tempo()
{
    Template t{"tempo", "begin\nmixdir\t{dir}/\nwavdir\t{dir}/\ntempo\npre\toff\nend\n", kTracks, kCue,
               CueDefaults()};
    t.defaults["tmap"] = "tmap\t{tm_tempo}\t{tm_beats}\t{tm_bars}\n";
    t.defaults["tm_tempo"] = "6000";
    t.defaults["tm_beats"] = "4";
    t.defaults["tm_bars"] = "8";
    t.defaults["t_1"] = "1";
    t.defaults["t_2"] = "2";
    t.defaults["t_3"] = "0";
    t.defaults["tr_n"] = "1";
    return t;
}

std::vector<std::string> FieldNames(const Template& t)
{
    std::vector<std::string> names;
    for (const auto& [k, v] : t.defaults)
        if (k != "tmap") names.push_back(k);
    return names;
}

// The data size a WAV header announces.
uint32_t AnnouncedData(const std::string& wav)
{
    if (wav.size() < 44) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(wav[40 + i])) << (8 * i);
    return v;
}

// Every field of t with every value; the runs with a value of mixValues go on to
// mix (the mix needs its block buffers for every run and is the slow part).
void RunEveryField(const Template& t, const std::vector<std::string>& values,
                   const std::vector<std::string>& mixValues)
{
    testutil::TempDir dir;
    std::vector<int32_t> stereo(2 * 4410), mono(4410);
    for (size_t i = 0; i < stereo.size(); ++i) stereo[i] = static_cast<int32_t>((i * 7919) % 20001) - 10000;
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<int32_t>((i * 104729) % 2000001) - 1000000;
    testutil::WriteText(dir / "a.wav", testutil::MakeWav(2, 16, 44100, stereo));
    testutil::WriteText(dir / "b.wav", testutil::MakeWav(1, 24, 44100, mono));

    Fields base = t.defaults;
    base["dir"] = dir.path();
    // Field values that hold holes themselves are filled first.
    const std::string cueBase = Fill(t.cue, {{"tmap", base["tmap"]}});

    // The untouched template mixes: every case below starts from a working session.
    {
        harness::Console console;
        auto run = std::make_unique<Run>();
        const harness::Outcome o = harness::SetUpAndMix(*run, Fill(t.prefs, base), Fill(t.tracks, base),
                                                        Fill(cueBase, base));
        ASSERT_EQ(o.status, 0) << t.name << " template:\n" << console.Text();
    }

    for (const std::string& field : FieldNames(t)) {
        for (const std::string& value : values) {
            SCOPED_TRACE(std::string(t.name) + ": " + field + " = " + value);
            Fields f = base;
            f[field] = value;
            std::remove((dir / "out.wav").c_str());
            std::remove((dir / "preview.wav").c_str());
            harness::Console console;
            auto run = std::make_unique<Run>();
            const bool mix = std::find(mixValues.begin(), mixValues.end(), value) != mixValues.end();
            const harness::Outcome o =
                harness::SetUpAndMix(*run, Fill(t.prefs, f), Fill(t.tracks, f), Fill(cueBase, f), mix);
            EXPECT_TRUE(harness::DefinedStatus(o.status)) << "status " << o.status;
            // A set-up that passed leaves nothing non-finite for the mix.
            if (o.setUp) {
                const std::vector<std::string> bad = harness::NonFiniteState(*run);
                EXPECT_TRUE(bad.empty()) << "not finite: " << bad.front();
            }
            if (o.mixed && o.status == 0) {
                const std::string out = testutil::ReadBytes(dir / run->prefs.outName.substr(dir.path().size() + 1));
                ASSERT_GE(out.size(), 44u);
                EXPECT_EQ(out.size() - 44, AnnouncedData(out)) << "the output is not as long as its header says";
            }
        }
    }
}

const std::vector<std::string> kNonFinite = {"nan", "inf", "-inf", "1e999"};

}  // namespace

TEST(NonFiniteNumbers, EveryFieldOfAnExportSessionEndsDefinedAndFinite)
{
    RunEveryField(Export(), kNonFinite, {"nan", "inf", "-inf"});
}

TEST(NonFiniteNumbers, EveryFieldOfAPercentPreviewSessionEndsDefinedAndFinite)
{
    RunEveryField(Preview(), kNonFinite, {"nan"});
}

TEST(NonFiniteNumbers, EveryFieldOfATempoSessionEndsDefinedAndFinite)
{
    RunEveryField(Tempo(), kNonFinite, {});   // musical times are all set-up work
}

// Huge finite values overflow the arithmetic after the read rather than the read.
TEST(NonFiniteNumbers, HugeFiniteValuesInEveryFieldEndDefinedAndFinite)
{
    RunEveryField(Export(), {"3e38", "-3e38", "1e300", "9223372036854775807", "-2147483649"},
                  {"3e38", "-3e38"});
}

namespace {

// The mix file of a session of a.wav (channel 1) plus the given extra track
// lines and cue lines, with the console text.
std::string MixWith(const testutil::TempDir& dir, const std::string& moreTracks, const std::string& cueLines,
                    std::string* said)
{
    harness::Console console;
    auto run = std::make_unique<Run>();
    const std::string prefs = "begin\nmixdir\t" + dir.path() + "/\nwavdir\t" + dir.path() + "/\ndither\t0\nend\n";
    const harness::Outcome o = harness::SetUpAndMix(*run, prefs, "1 a.wav +\n" + moreTracks + "end\n",
                                                    "begin\nplace\n" + cueLines + "t\t0\t0\t0\nv\t1\t0\nv\t2\t0\nend\n");
    EXPECT_EQ(o.status, 0) << console.Text();
    *said = console.Text();
    return testutil::ReadBytes(dir / "place.wav");
}

}  // namespace

// A track placed so far before the song that the distance to it does not fit
// in 64 bits plays nothing; one whose time is not finite keeps its place.
TEST(NonFiniteNumbers, TracksPlacedBeyondTheIntegerRangeOrAtNoFiniteTimeMixDefined)
{
    testutil::TempDir dir;
    std::vector<int32_t> samples(2 * 3000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i % 2001) - 1000;
    testutil::WriteText(dir / "a.wav", testutil::MakeWav(2, 16, 44100, samples));
    std::string said;
    const std::string alone = MixWith(dir, "", "", &said);
    ASSERT_EQ(alone.size(), 44u + 3000u * 6u);

    const std::string farBefore = MixWith(dir, "2 a.wav +\n", "tstamp\t2\t0\t-1e30\t0\n", &said);
    EXPECT_EQ(farBefore, alone);

    const std::string notFinite = MixWith(dir, "2 a.wav +\n", "tstamp\t2\t-inf\t0\t0\n", &said);
    EXPECT_NE(said.find(">> Warning: tstamp for channel 2 ignored; its time is not a finite number.\n"),
              std::string::npos)
        << said;
    const std::string atZero = MixWith(dir, "2 a.wav +\n", "", &said);
    EXPECT_EQ(notFinite, atZero);
    EXPECT_NE(atZero, alone);
}
