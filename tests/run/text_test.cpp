#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "corvale/run/limits.h"
#include "corvale/run/prefs_keywords.h"
#include "corvale/run/text.h"
#include "tests/console_capture.h"

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

namespace {

int Slot(const char* fields, bool* master = nullptr)
{
    Tokens tokens(fields);
    return ReadSlotField(tokens, master);
}

SlotField OrderSlot(const char* fields)
{
    Tokens tokens(fields);
    return ReadSlot(tokens, SlotLine::kOrderLine);
}

}  // namespace

TEST(SlotField, NumbersSubmixesAndMaster)
{
    ConsoleCapture console;
    bool master = false;
    EXPECT_EQ(Slot("12\t-6\n", &master), 12);
    EXPECT_FALSE(master);
    EXPECT_EQ(Slot("G\t2\t-6\n", &master), 129);
    EXPECT_EQ(Slot("G\t8\t-6\n"), 135);
    EXPECT_EQ(Slot("G"), 127);                 // submix number missing at the end
    EXPECT_EQ(Slot("junk\t0\n"), 0);
    EXPECT_FALSE(master);
    EXPECT_EQ(Slot("M\t0\n", &master), 0);
    EXPECT_TRUE(master);
    EXPECT_EQ(Slot(""), 0);
    EXPECT_EQ(console.Text(), "");
}

TEST(SlotField, OutOfRangeLandsInSlot135WithItsMessage)
{
    ConsoleCapture console;
    EXPECT_EQ(Slot("G\t9\t0\n"), 135);
    EXPECT_EQ(Slot("136\t0\n"), 135);
    EXPECT_EQ(Slot("-5\t0\n"), 135);
    EXPECT_EQ(Slot("99999999999\t0\n"), 135);
    EXPECT_EQ(Slot("G\t99999999999\t0\n"), 135);
    EXPECT_EQ(Slot("G\t-200\t0\n"), 135);
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += ">>Channel number out of range or not specified!\n";
    EXPECT_EQ(console.Text(), expected);
}

TEST(SlotField, NumbersBeyondAnIntAreOutOfRangeInsteadOfWrapping)
{
    // 4294967303 is 2^32 + 7, 4294967297 is 2^32 + 1: cut to an int they would be 7 and 1.
    ConsoleCapture console;
    EXPECT_EQ(Slot("4294967303\t-6\n"), 135);
    EXPECT_EQ(Slot("G\t4294967297\t-6\n"), 135);
    EXPECT_EQ(Slot("-4294967289\t-6\n"), 135);
    EXPECT_EQ(console.Text(), ">>Channel number out of range or not specified!\n"
                              ">>Channel number out of range or not specified!\n"
                              ">>Channel number out of range or not specified!\n");
    for (const char* field : {"4294967303\t3\n", "G\t4294967297\t3\n"}) {
        const SlotField f = OrderSlot(field);
        EXPECT_TRUE(f.complete) << field;
        EXPECT_EQ(f.slot, kNoSlot) << field;
    }
    EXPECT_GT(OrderSlot("G\t2147483647\t3\n").slot, kSlots);  // the largest int is no small slot either
}

TEST(SlotField, OrderLinesKnowMasterAndSubmixByTheirFirstLetterAndEndFieldsAtLineFeeds)
{
    const SlotField master = OrderSlot("Mx\t3\n");
    EXPECT_TRUE(master.master && master.complete);
    EXPECT_EQ(master.slot, 0);
    EXPECT_EQ(OrderSlot("Gx\t2\t3\n").slot, 129);
    EXPECT_EQ(OrderSlot("G\n2\t3\n").slot, 129);
    EXPECT_EQ(OrderSlot("12\n3\n").slot, 12);

    // On a row the same text is a number field: "Gx" reads as 0, and the field
    // runs on to the tab.
    ConsoleCapture console;
    EXPECT_EQ(Slot("Gx\t2\t3\n"), 0);
    EXPECT_EQ(Slot("G\n2\t3\n"), 0);
    EXPECT_EQ(console.Text(), "");
}

TEST(SlotField, SaysWhenTheTextEndsBeforeTheFieldOrTheSubmixNumber)
{
    const SlotField none = OrderSlot("");
    EXPECT_FALSE(none.present || none.complete);
    const SlotField submix = OrderSlot("G\n");
    EXPECT_TRUE(submix.present);
    EXPECT_FALSE(submix.complete);
    EXPECT_EQ(submix.slot, 127);  // which a row takes as submix 0
}
