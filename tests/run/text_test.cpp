#include <gtest/gtest.h>

#include <cstring>

#include "corvale/run/prefs_keywords.h"
#include "corvale/run/text.h"

TEST(Tokens, ReadLikeStrtokWithChangingDelimiters)
{
    Tokens t("v\t3\t-6.5\nrmp\t2\n");
    EXPECT_STREQ(t.Next("\t\n"), "v");
    EXPECT_STREQ(t.Next("\t"), "3");
    EXPECT_STREQ(t.Next("\n"), "-6.5");
    EXPECT_STREQ(t.Next("\t\n"), "rmp");
    EXPECT_STREQ(t.Next("\t\n"), "2");
    EXPECT_EQ(t.Next("\t\n"), nullptr);
    EXPECT_EQ(t.Next("\t\n"), nullptr);
}

TEST(Tokens, AFieldCutAtATabTakesTheNextLineWhenTheRowIsShort)
{
    Tokens t("comp\t1\t-6\ncomp\t2\n");
    t.Next("\t\n");
    EXPECT_STREQ(t.Next("\t"), "1");
    EXPECT_STREQ(t.Next("\t"), "-6\ncomp");
}

TEST(Text, RemoveExtraStringCollapsesRuns)
{
    std::string s = "a  b   c d";
    EXPECT_EQ(RemoveExtraString(s, ' '), 3);
    EXPECT_EQ(s, "a b c d");
}

TEST(Text, PointToLinesCountsLineFeeds)
{
    char buf[] = "a\nb\n\nc";
    std::vector<char*> lines;
    EXPECT_EQ(pointToLines(buf, lines), 3);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_STREQ(lines[1], "b");
    EXPECT_STREQ(lines[2], "");
    EXPECT_STREQ(lines[3], "c");
}

TEST(Text, CodetoIntSeesPastEndAndLastWins)
{
    int v = 24;
    CodetoInt("outbits\t20\nend\noutbits\t16\n", "outbits", v);
    EXPECT_EQ(v, 16);
    int w = 7;
    CodetoInt("nothing\there\n", "outbits", w);
    EXPECT_EQ(w, 7);
}

TEST(Text, ScanKeywordStopsAtEnd)
{
    int hits = 0;
    ScanKeyword("verbo\t1\nverbo\t3\nend\nverbo\t0\n", "verbo", [&](Tokens& t) {
        hits = hits * 10 + std::atoi(t.Next("\t\n"));
        return true;
    });
    EXPECT_EQ(hits, 13);
}
