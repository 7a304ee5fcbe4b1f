#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "console_capture.h"
#include "corvale/run/prefs_keywords.h"

namespace {

// Every value the scan hands to onHit for key, each read as the rest of its line
// ("(none)" for an empty stream).
std::vector<std::string> Values(const char* text, const char* key, PrefsScan scan = {})
{
    std::vector<std::string> out;
    ScanPrefs(
        text, key,
        [&](Tokens& t) {
            const char* v = t.Next("\n");
            out.emplace_back(v ? v : "(none)");
            return true;
        },
        scan);
    return out;
}

using V = std::vector<std::string>;

std::string Warning(const char* key)
{
    return std::string(">> Warning: ") + key + " has no value on its line of the preferences; it is left unset.\n";
}

}  // namespace

TEST(TokensLine, MoreOnLineLooksPastTabsAndSpacesToTheLineEnd)
{
    Tokens t("a\t \t\nb\t x\nc\nd");
    t.Next("\t\n");
    EXPECT_FALSE(t.MoreOnLine());  // only blanks after "a"
    t.Next("\t\n");                // " "
    t.Next("\t\n");                // "b"
    EXPECT_TRUE(t.MoreOnLine());
    t.Next("\t\n");                // " x"
    t.Next("\t\n");                // "c", ended by the line feed
    EXPECT_FALSE(t.MoreOnLine());
    t.Next("\t\n");                // "d", at the end of the text
    EXPECT_FALSE(t.MoreOnLine());
}

TEST(PrefsScan, TheTokenAfterAKeywordOnItsLineIsItsValueNeverAKeyword)
{
    ConsoleCapture out;
    EXPECT_EQ(Values("oname\tmono\n", "mono"), V{});
    EXPECT_EQ(Values("oname\tmono\n", "oname"), V{"mono"});
    EXPECT_EQ(Values("oname\ttempo\ntempo\n", "tempo"), V{"(none)"});  // only the second line's
    // Blank fields before the value do not hide it.
    EXPECT_EQ(Values("oname\t \tmono\n", "mono"), V{});
    // A value that is a keyword taking a value does not protect the token after it.
    EXPECT_EQ(Values("oname\tdither\t5\n", "dither"), V{});
    // Nor is a value "end": the scan goes on past it.
    EXPECT_EQ(Values("oname\tend\nverbo\t1\n", "verbo"), V{"1"});
    EXPECT_EQ(out.Take(), "");

    // Every keyword that takes a value, in the value place of another one.
    for (const PrefsKeyword& k : kPrefsKeywords) {
        if (k.value == PrefsValue::kNone) continue;
        const std::string other = std::strcmp(k.name, "oname") == 0 ? "wavdir" : "oname";
        const std::string text = other + "\t" + k.name + "\t7\n";
        EXPECT_EQ(Values(text.c_str(), k.name), V{}) << k.name;
        const std::string own = std::string(k.name) + "\t" + k.name + "\t7\n";
        EXPECT_EQ(Values(own.c_str(), k.name), V{std::string(k.name) + "\t7"}) << k.name;
    }
}

TEST(PrefsScan, SeveralKeywordsOnOneLineReadAsBefore)
{
    std::vector<std::string> fields;
    auto field = [&](const char* text, const char* key) {
        ScanPrefs(text, key, [&](Tokens& t) {
            fields.emplace_back(t.Next("\t\n"));
            return true;
        });
    };
    field("head\t0.5\ttail\t1\n", "head");
    field("head\t0.5\ttail\t1\n", "tail");
    EXPECT_EQ(fields, V({"0.5", "1"}));
    // dither takes the rest of its line; outbits is still found on it.
    EXPECT_EQ(Values("dither\t0\toutbits\t16\n", "dither"), V{"0\toutbits\t16"});
    int bits = 24;
    CodetoInt("dither\t0\toutbits\t16\n", "outbits", bits);
    EXPECT_EQ(bits, 16);
}

TEST(PrefsScan, AKeywordWithNothingOnItsLineIsSkippedWithAWarning)
{
    ConsoleCapture out;
    // The next line's keyword is neither the value nor lost.
    EXPECT_EQ(Values("oname\npre\toff\n", "oname"), V{});
    EXPECT_EQ(Values("oname\npre\toff\n", "pre"), V{"off"});
    EXPECT_EQ(out.Take(), Warning("oname"));
    // Tabs and spaces are nothing; at the end of the text there is nothing either.
    EXPECT_EQ(Values("launch\t \t\nmono\n", "launch"), V{});
    EXPECT_EQ(Values("x\tdbps", "dbps"), V{});
    EXPECT_EQ(out.Take(), Warning("launch") + Warning("dbps"));
    // An empty outbits does not take the next line's number, also past "end".
    int bits = 24;
    CodetoInt("end\noutbits\n16\n", "outbits", bits);
    EXPECT_EQ(bits, 24);
    EXPECT_EQ(out.Take(), Warning("outbits"));
    // Keywords that take no value stand alone as before.
    EXPECT_EQ(Values("tempo\n", "tempo"), V{"(none)"});
    EXPECT_EQ(out.Take(), "");
}

TEST(PrefsScan, WhereTheFirstOccurrenceCountsAnEmptyOneIsSkipped)
{
    ConsoleCapture out;
    std::string first;
    ScanPrefs("pan\npan\t\npan\t2\npan\t4\n", "pan", [&](Tokens& t) {
        first = t.Next("\n");
        return false;
    });
    EXPECT_EQ(first, "2");
    EXPECT_EQ(out.Take(), Warning("pan") + Warning("pan"));
}

TEST(PrefsScan, MonoAloneCountsAndDoesNotReadTheNextLine)
{
    ConsoleCapture out;
    EXPECT_EQ(Values("mono\n-6\n", "mono"), V{"(none)"});
    EXPECT_EQ(Values("mono", "mono"), V{"(none)"});
    EXPECT_EQ(Values("mono\t-6\n", "mono"), V{"-6"});
    EXPECT_EQ(out.Take(), "");
}

TEST(PrefsScan, EachEmptyOccurrenceWarnsOnceHoweverOftenItIsScanned)
{
    ConsoleCapture out;
    const char* text = "verbo\nverbo\t1\nverbo\n";
    PrefsNotes notes;
    EXPECT_EQ(Values(text, "verbo", {&notes}), V{"1"});
    EXPECT_EQ(Values(text, "verbo", {&notes}), V{"1"});
    EXPECT_EQ(out.Take(), Warning("verbo") + Warning("verbo"));  // two occurrences, once each
    notes.Clear();
    Values(text, "verbo", {&notes});
    EXPECT_EQ(out.Take(), Warning("verbo") + Warning("verbo"));
}

TEST(PrefsScan, ATimeValueShortOfFieldsTakesTheRestFromTheNextLine)
{
    // Three fields asked for, two on the line: the seconds field runs into the
    // next line up to its tab, the milliseconds come from there.
    float fields[3] = {-1, -1, -1};
    ScanPrefs("xin\t0\t1\nxout\t0\t3\t0\n", "xin", [&](Tokens& t) {
        fields[0] = std::stof(t.Next("\t"));
        fields[1] = std::stof(t.Next("\t"));
        fields[2] = std::stof(t.Next("\n"));
        return true;
    });
    EXPECT_EQ(fields[0], 0.0f);
    EXPECT_EQ(fields[1], 1.0f);  // "1\nxout"
    EXPECT_EQ(fields[2], 0.0f);  // "0\t3\t0"
    // The line it ran into is still read by its own keyword.
    EXPECT_EQ(Values("xin\t0\t1\nxout\t0\t3\t0\n", "xout"), V{"0\t3\t0"});
}
