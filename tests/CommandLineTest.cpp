// The pictura tool's argument parser: the grammar, and one clear message for each bad argument.
#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

TCommandLine Parse(std::vector<std::string> Args) {
    return ParseCommandLine(Args);
}

std::string ErrorOf(std::vector<std::string> Args) {
    try {
        ParseCommandLine(Args);
    } catch (const TUsageError& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(CommandLine, OperationsKeepTheirOrderAndArguments) {
    const TCommandLine line =
        Parse({"in.bmp", "--greyscale", "-o", "out.png", "--brightness", "-37", "--blur", "50,2", "--sharpen",
               "-128,0", "--red-envelop", "0=7,255=29.5", "--apply-red-envelop", "--apply-envelops",
               "--invert", "--size", "20x10", "--yes", "--time"});
    EXPECT_EQ(line.Input, "in.bmp");
    EXPECT_EQ(line.Output, "out.png");
    ASSERT_EQ(line.Operations.size(), 8u);
    EXPECT_EQ(line.Operations[7].Kind, TOperationKind::Invert);
    EXPECT_EQ(line.Operations[0].Kind, TOperationKind::GreyScale);
    EXPECT_EQ(line.Operations[1].Value, -37);
    EXPECT_EQ(line.Operations[2].Kind, TOperationKind::Blur);
    EXPECT_EQ(line.Operations[2].Value, 50);
    EXPECT_EQ(line.Operations[2].Radius, 2);
    EXPECT_EQ(line.Operations[3].Value, -128);
    EXPECT_EQ(line.Operations[4].Channel, 2);
    EXPECT_EQ(line.Operations[4].Entries, (std::vector<std::pair<int, double>>{{0, 7.0}, {255, 29.5}}));
    EXPECT_EQ(line.Operations[5].Kind, TOperationKind::ApplyEnvelop);
    EXPECT_EQ(line.Operations[6].Kind, TOperationKind::ApplyEnvelops);
    EXPECT_EQ(line.Size, (std::pair<int, int>{20, 10}));
    EXPECT_EQ(line.Convert, TConvertAnswer::Yes);
    EXPECT_TRUE(line.Time);
}

TEST(CommandLine, PrintingEnvelopesNeedsNoPictures) {
    const TCommandLine line = Parse({"--green-envelop", "3=50", "--print-envelops"});
    EXPECT_TRUE(line.PrintEnvelops);
    EXPECT_TRUE(line.Input.empty());
    EXPECT_EQ(ErrorOf({"--invert", "--print-envelops"}), "no input picture (see --help)");
}

TEST(CommandLine, BadArgumentsSayWhatIsWrong) {
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const Row rows[] = {
        {{"in.bmp", "-o", "out.bmp", "--frobnicate"}, "unknown option \"--frobnicate\" (see --help)"},
        {{"in.bmp", "--invert"}, "no output picture: give -o OUTPUT"},
        {{"-o", "out.bmp", "--invert"}, "no input picture (see --help)"},
        {{"in.bmp", "-o"}, "-o needs a value"},
        {{"a.bmp", "b.bmp", "-o", "out.bmp"}, "more than one input picture: \"b.bmp\""},
        {{"in.bmp", "-o", "out.bmp", "--brightness", "ten"}, "--brightness: \"ten\" is not a whole number"},
        {{"in.bmp", "-o", "out.bmp", "--brightness", "99999999999"},
         "--brightness: 99999999999 is out of range (-2147483648 to 2147483647)"},
        {{"in.bmp", "-o", "out.bmp", "--blur", "128,1"}, "--blur amount: 128 is out of range (-128 to 127)"},
        {{"in.bmp", "-o", "out.bmp", "--sharpen", "5,-1"},
         "--sharpen radius: -1 is out of range (0 to 2147483647)"},
        {{"in.bmp", "-o", "out.bmp", "--blur", "5"},
         "--blur: expected AMOUNT,RADIUS (for example 50,2), got \"5\""},
        {{"in.bmp", "-o", "out.bmp", "--blur", "5,2,1"},
         "--blur: expected AMOUNT,RADIUS (for example 50,2), got \"5,2,1\""},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "256=5"},
         "--red-envelop index: 256 is out of range (0 to 255)"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "3=nan"},
         "--red-envelop percent: \"nan\" is not a number"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "3=+-5"},
         "--red-envelop percent: \"+-5\" is not a number"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "3"},
         "--red-envelop: expected INDEX=PERCENT, got \"3\""},
        {{"in.bmp", "-o", "out.bmp", "--size", "10"},
         "--size: expected WIDTHxHEIGHT (for example 640x480), got \"10\""},
        {{"in.bmp", "-o", "out.bmp", "--yes", "--no"}, "--yes and --no exclude each other"},
        {{"in.bmp", "-o", "out.bmp", "--envelop-file", "purple=x"},
         "--envelop-file: unknown channel \"purple\" (use red, green or blue)"},
        {{"in.bmp", "-o", "out.bmp", "--envelop-file", "red=/no/such/file"},
         "--envelop-file: cannot read \"/no/such/file\""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ErrorOf(row.args), row.message);
}

TEST(CommandLine, EnvelopeFilesHoldExactly256Percents) {
    std::string text;
    for (int i = 0; i < 256; ++i)
        text += std::to_string(i % 101) + (i % 16 == 15 ? "\n" : " ");
    const auto entries = ParseEnvelopFile(text, "gains.txt");
    ASSERT_EQ(entries.size(), 256u);
    EXPECT_EQ(entries[200], (std::pair<int, double>{200, 99.0}));
    std::string bad = text;
    bad.replace(bad.find("17"), 2, "x7");
    try {
        ParseEnvelopFile(bad, "gains.txt");
        ADD_FAILURE();
    } catch (const TUsageError& e) {
        EXPECT_EQ(std::string(e.what()), "gains.txt, line 2: \"x7\" is not a number");
    }
    EXPECT_THROW(ParseEnvelopFile("1 2 3", "short.txt"), TUsageError);
    EXPECT_THROW(ParseEnvelopFile(text + " 5", "long.txt"), TUsageError);
}
