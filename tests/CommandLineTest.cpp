// The pictura tool's argument parser: the grammar, and one clear message for each bad argument; the
// envelope curves the tool and the viewer share; messages that echo input.
#include "CommandLine.h"
#include "EnvelopeLines.h"
#include "MessageText.h"

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
    EXPECT_EQ(line.Inputs, std::vector<std::string>{"in.bmp"});
    EXPECT_EQ(line.Output, "out.png");
    ASSERT_EQ(line.Operations.size(), 8u);
    const auto row = [&](size_t Index) { return std::string(line.Operations[Index].Spec->Name); };
    EXPECT_EQ(row(7), "invert");
    EXPECT_EQ(row(0), "greyscale");
    EXPECT_EQ(line.Operations[1].Values, std::vector<double>{-37});
    EXPECT_EQ(row(2), "blur");
    EXPECT_EQ(line.Operations[2].Values, (std::vector<double>{50, 2}));
    EXPECT_EQ(line.Operations[3].Values, (std::vector<double>{-128, 0}));
    EXPECT_EQ(line.Operations[4].Channel, TChannel::Red);
    EXPECT_EQ(line.Operations[4].Points(), (std::vector<std::pair<int, double>>{{0, 7.0}, {255, 29.5}}));
    EXPECT_EQ(row(5), "apply-{channel}-envelop");
    EXPECT_EQ(row(6), "apply-envelops");
    EXPECT_EQ(line.Size, (std::pair<int, int>{20, 10}));
    EXPECT_EQ(line.Convert, TConvertAnswer::Yes);
    EXPECT_TRUE(line.Time);
}

TEST(CommandLine, PrintingEnvelopesNeedsNoPictures) {
    const TCommandLine line = Parse({"--green-envelop", "3=50", "--print-envelops"});
    EXPECT_TRUE(line.PrintEnvelops);
    EXPECT_TRUE(line.Inputs.empty());
    EXPECT_EQ(ErrorOf({"--invert", "--print-envelops"}), "no input picture (see --help)");
}

TEST(CommandLine, BadArgumentsSayWhatIsWrong) {
    struct Row {
        std::vector<std::string> args;
        std::string message;
    };
    const Row rows[] = {
        {{"in.bmp", "-o", "out.bmp", "--frobnicate"}, "unknown option \"--frobnicate\" (see --help)"},
        {{"in.bmp", "-o", "out.bmp", "--greyscle"},
         "unknown option \"--greyscle\"; did you mean --greyscale? (see --help)"},
        {{"in.bmp", "-o", "out.bmp", "--bleu-curve=0=1"},
         "unknown option \"--bleu-curve=0=1\"; did you mean --blue-curve? (see --help)"},
        {{"in.bmp", "-o", "out.bmp", "--ouput", "x"},
         "unknown option \"--ouput\"; did you mean --output? (see --help)"},
        {{"in.bmp", "-o", "out.bmp", "-0"}, "-0 is for the names of --files-from FILE"},
        {{"in.bmp", "--invert"}, "no output picture: give -o OUTPUT"},
        {{"-o", "out.bmp", "--invert"}, "no input picture (see --help)"},
        {{"in.bmp", "-o"}, "-o needs a value"},
        {{"a.bmp", "b.bmp", "-o", "out.bmp"},
         "several input pictures need --out-dir DIR or an output pattern such as -o 'out/{stem}.{ext}'"},
        {{"-", "-o", "-", "--invert"}, "-o - needs --format EXT to name the format of standard output"},
        {{"-", "b.bmp", "--out-dir", "d"}, "standard input (-) can only be the one input picture"},
        {{"a.bmp", "-o", "-", "--format", "png", "--print-envelops"},
         "--print-envelops and -o - both write to standard output"},
        {{"a.bmp", "-o", "x.png", "--out-dir", "d"}, "-o and --out-dir exclude each other"},
        {{"a.bmp", "-o", "x.png", "--invert=1"}, "--invert takes no value"},
        {{"a.bmp", "-o", "x.png", "-j", "0"}, "-j: 0 is out of range (1 to 256)"},
        {{"a.bmp", "-o", "x.png", "--quality=101"}, "--quality: 101 is out of range (0 to 100)"},
        {{"in.bmp", "-o", "out.bmp", "--brightness", "ten"}, "--brightness: \"ten\" is not a whole number"},
        {{"in.bmp", "-o", "out.bmp", "--brightness", "99999999999"},
         "--brightness: 99999999999 is out of range (-100 to 100)"},
        {{"in.bmp", "-o", "out.bmp", "--brightness", "200"},
         "--brightness: 200 is out of range (-100 to 100)"},
        {{"in.bmp", "-o", "out.bmp", "--blur", "128,1"}, "--blur amount: 128 is out of range (-128 to 127)"},
        {{"in.bmp", "-o", "out.bmp", "--sharpen", "5,-1"},
         "--sharpen radius: -1 is out of range (0 to 2147483647)"},
        {{"in.bmp", "-o", "out.bmp", "--blur", "5"},
         "--blur: expected AMOUNT,RADIUS (for example 50,2), got \"5\""},
        {{"in.bmp", "-o", "out.bmp", "--blur", "5,2,1"},
         "--blur: expected AMOUNT,RADIUS (for example 50,2), got \"5,2,1\""},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "256=5"},
         "--red-envelop level: 256 is out of range (0 to 255)"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "128=150"},
         "--red-envelop percent: 150 is out of range (0 to 100)"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "5=1e400"},
         "--red-envelop percent: 1e400 is out of range (0 to 100)"},
        {{"in.bmp", "-o", "out.bmp", "--green-curve", "5=1,5=2"},
         "--green-curve: level 5 comes after level 5; give the points by rising level"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "3=nan"},
         "--red-envelop percent: \"nan\" is not a number"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "3=+-5"},
         "--red-envelop percent: \"+-5\" is not a number"},
        {{"in.bmp", "-o", "out.bmp", "--red-envelop", "3"},
         "--red-envelop: expected I=P[,I=P...] (for example 0=50,255=100), got \"3\""},
        {{"in.bmp", "-o", "out.bmp", "--blur", "+-5,1"}, "--blur amount: \"+-5\" is not a whole number"},
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

TEST(CommandLine, OptionHabits) {
    const TCommandLine line = Parse({"--brightness=+20", "--blur=+5,2", "-j3", "--format=.PNG", "--out-dir=d",
                                     "a.png", "--red-envelop", "1=+1e-400", "--", "-b.png", "--invert"});
    EXPECT_EQ(line.Inputs, (std::vector<std::string>{"a.png", "-b.png", "--invert"}));
    ASSERT_EQ(line.Operations.size(), 3u);
    EXPECT_EQ(line.Operations[0].Values, std::vector<double>{20});
    EXPECT_EQ(line.Operations[1].Values, (std::vector<double>{5, 2}));
    EXPECT_EQ(line.Operations[2].Points(), (std::vector<std::pair<int, double>>{{1, 0.0}})); // underflow is 0
    EXPECT_EQ(line.Jobs, 3);
    EXPECT_EQ(line.Format, "png");
    EXPECT_EQ(line.OutDir, "d");
    const TCommandLine piped = Parse({"-", "-o", "-", "--format", "jpg", "--curve", "0=0,255=50"});
    EXPECT_EQ(piped.Inputs, std::vector<std::string>{"-"});
    EXPECT_FALSE(piped.Operations[0].Channel);
}

TEST(CommandLine, MessagesEscapeWhatTheyEcho) {
    EXPECT_EQ(ErrorOf({"a.png", "-o", "b.png", "--\x1b]0;owned\x07"}),
              "unknown option \"--\\x1b]0;owned\\x07\" (see --help)");
    EXPECT_EQ(Printable("tab\there\xc2\x9b\xff\n"), "tab\\there\\xc2\\x9b\\xff\\n");
    EXPECT_EQ(Printable("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(Printable(std::string(1000, 'x'), 5), "xxxxx...");
    std::string text(255 * 2, ' ');
    text += std::string(5000, '7') + "\x1b[2J";
    try {
        ParseEnvelopFile(text, "\"gains.txt\"");
        ADD_FAILURE();
    } catch (const TUsageError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "\"gains.txt\", line 1: \"" + std::string(64, '7') + "...\" is not a number");
    }
}

// The curve between points that the tool's --curve options and the viewer's Envelopes dialog share.
TEST(EnvelopeLines, StraightLinesBetweenThePoints) {
    const auto table = [](std::vector<TEnvelopePoint> Points) { return EnvelopeLines(Points); };
    const TEnvelopeTable down = table({{0, 100}, {255, 50}});
    for (int level = 0; level < 256; ++level)
        EXPECT_EQ(down[size_t(level)], 100 + (50.0 - 100) * level / 255) << level;
    const TEnvelopeTable bent = table({{0, 0}, {100, 100}, {200, 0}, {255, 30}});
    EXPECT_EQ(bent[50], 50);
    EXPECT_EQ(bent[100], 100);
    EXPECT_EQ(bent[150], 50);
    EXPECT_EQ(bent[255], 30);
    const TEnvelopeTable inner = table({{10, 20}, {20, 40}});
    EXPECT_EQ(inner[0], 20); // flat before the first point
    EXPECT_EQ(inner[15], 30);
    EXPECT_EQ(inner[255], 40); // and after the last
    EXPECT_EQ(table({{7, 33}})[200], 33);
    EXPECT_EQ(table({})[0], 100);
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
