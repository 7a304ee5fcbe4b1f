#include <gtest/gtest.h>

#include <string>

#include "console_capture.h"
#include "corvale/run/text.h"

TEST(Text, RemoveSpacesJoinsThePiecesBetweenSpaces)
{
    std::string s = " v\t1 2\t- 6 .5  \n";
    RemoveSpaces(s);
    EXPECT_EQ(s, "v\t12\t-6.5\n");
}

TEST(Clamps, ChannelNumbersOutsideTheSlotsBecome135WithAMessage)
{
    ConsoleCapture out;
    EXPECT_EQ(checkValI(0, 1), 0);
    EXPECT_EQ(checkValI(135, 1), 135);
    EXPECT_EQ(out.Take(), "");
    EXPECT_EQ(checkValI(-1, 1), 135);
    EXPECT_EQ(checkValI(136, 1), 135);
    EXPECT_EQ(out.Take(),
              ">>Channel number out of range or not specified!\n"
              ">>Channel number out of range or not specified!\n");
    EXPECT_EQ(checkValI(500, 2), 500);  // unknown code
}

TEST(Clamps, IntegerCountsClampLowFirstThenAgainstTheReference)
{
    EXPECT_EQ(checkValL(0, 10, 100.0), 1);
    EXPECT_EQ(checkValL(500, 10, 100.75), 201);  // 2 x 100.75 truncated
    EXPECT_EQ(checkValL(150, 10, 100.0), 150);
    EXPECT_EQ(checkValL(3, 11, 100.0), 10);
    EXPECT_EQ(checkValL(9, 11, 1.0), 5);  // raised to 10, then held at 5 x ref
    EXPECT_EQ(checkValL(1000, 11, 20.5), 102);
    EXPECT_EQ(checkValL(-7, 3, 1.0), -7);
}

TEST(Clamps, RealValuesClampToTheirCodeRanges)
{
    EXPECT_EQ(checkValD(0.5, 12, 0.0), 1.0);
    EXPECT_EQ(checkValD(60.0, 12, 0.0), 50.0);
    EXPECT_EQ(checkValD(30000.0, 20, 44100.0), 22050.0);
    EXPECT_EQ(checkValD(0.2, 20, 44100.0), 1.0);
    EXPECT_EQ(checkValD(5.0, 20, 1.5), 1.0);  // ref / 2 below 1 gives 1
    EXPECT_EQ(checkValD(-20.0, 21, 0.0), -15.0);
    EXPECT_EQ(checkValD(16.0, 21, 0.0), 15.0);
    EXPECT_EQ(checkValD(0.0, 22, 0.0), 0.01);
    EXPECT_EQ(checkValD(101.0, 22, 0.0), 100.0);
    EXPECT_EQ(checkValD(-3.25, 99, 0.0), -3.25);
    EXPECT_EQ(checkValF(-1.0f, 100), 0.0f);
    EXPECT_EQ(checkValF(100.5f, 100), 100.0f);
    EXPECT_EQ(checkValF(42.25f, 100), 42.25f);
    EXPECT_EQ(checkValF(142.0f, 1), 142.0f);
}
