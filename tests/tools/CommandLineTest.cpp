// The tools' command-line pieces: numbers taken whole and in range, pairs
// and lists, and options in their three spellings.
#include "tools/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

TEST(CommandLine, ParsesWholeNumbersInRange)
{
    const struct {
        const char* text;
        uint64_t maximum;
        bool accepted;
        uint64_t value;
    } rows[] = {
        {"0", 255, true, 0}, {"255", 255, true, 255}, {"256", 255, false, 0}, {"0xFF", 255, true, 255},
        {"0x1f", 255, true, 31}, {"0x100", 255, false, 0}, {"4294967295", 0xFFFFFFFF, true, 0xFFFFFFFF},
        {"4294967296", 0xFFFFFFFF, false, 0}, {"99999999999999999999999", 0xFFFFFFFF, false, 0}, {"", 255, false, 0},
        {"0x", 255, false, 0}, {"-1", 255, false, 0}, {"12a", 255, false, 0}, {" 1", 255, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint64_t value = 7;
        EXPECT_EQ(parseUnsigned(row.text, row.maximum, value), row.accepted);
        EXPECT_EQ(value, row.accepted ? row.value : 7);
    }
}

TEST(CommandLine, ParsesPairsAndLists)
{
    uint64_t a = 0;
    uint64_t b = 0;
    EXPECT_TRUE(parsePair("720x576", 'x', 0xFFFF, a, b));
    EXPECT_EQ(a, 720u);
    EXPECT_EQ(b, 576u);
    EXPECT_FALSE(parsePair("720x", 'x', 0xFFFF, a, b));
    EXPECT_FALSE(parsePair("720,576", 'x', 0xFFFF, a, b));
    EXPECT_FALSE(parsePair("70000x1", 'x', 0xFFFF, a, b));
    EXPECT_EQ(a, 720u);

    std::vector<uint64_t> numbers;
    EXPECT_TRUE(parseList("0,128,255,0x40", 4, 255, numbers));
    EXPECT_EQ(numbers, (std::vector<uint64_t>{0, 128, 255, 64}));
    EXPECT_FALSE(parseList("0,128,255", 4, 255, numbers));
    EXPECT_FALSE(parseList("0,128,255,1,2", 4, 255, numbers));
    EXPECT_FALSE(parseList("0,,255,1", 4, 255, numbers));
    EXPECT_FALSE(parseList("0,128,256,1", 4, 255, numbers));
    EXPECT_EQ(numbers, (std::vector<uint64_t>{0, 128, 255, 64}));
}

TEST(CommandLine, ReadsWordsInAnyCaseAndPixelLimits)
{
    EXPECT_EQ(keywordIndex("fast", {"none", "fast"}), 1);
    EXPECT_EQ(keywordIndex("FaSt", {"none", "fast"}), 1);
    EXPECT_EQ(keywordIndex("gpha", {"GPHB", "GPHA"}), 1);
    EXPECT_EQ(keywordIndex("fas", {"none", "fast"}), -1);
    EXPECT_EQ(keywordIndex("fastest", {"none", "fast"}), -1);
    const struct {
        const char* text;
        bool accepted;
        uint64_t pixels;
    } rows[] = {
        {"1", true, 1}, {"8192x8192", true, 67108864}, {"65535x65535", true, 4294836225}, {"4294836225", true, 4294836225},
        {"4294836226", false, 0}, {"0", false, 0}, {"0x5", false, 0}, {"65536x1", false, 0}, {"x", false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint64_t pixels = 7;
        EXPECT_EQ(parsePixelLimit(row.text, pixels), row.accepted);
        EXPECT_EQ(pixels, row.accepted ? row.pixels : 7);
    }
}

// What a tool that takes -o/--output with a value, the flag -q/--quiet and
// operands reads of `words` (the program's name first).
struct ReadLine {
    std::vector<std::string> outputs;
    std::vector<std::string> operands;
    std::string problem;
};

ReadLine readLine(std::vector<std::string> words)
{
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    CommandLine line(int(argv.size()), argv.data());
    ReadLine read;
    std::string text;
    while (line.more()) {
        if (line.option("output", "o")) {
            EXPECT_TRUE(line.value(text));
            read.outputs.push_back(text);
        } else if (line.operand(text)) {
            read.operands.push_back(text);
        } else if (!line.option("quiet", "q")) {
            ADD_FAILURE() << "unmatched " << line.current();
            break;
        }
    }
    read.problem = line.problem();
    return read;
}

TEST(CommandLine, ReadsOptionsInEverySpelling)
{
    const ReadLine read = readLine({"tool", "-o", "a", "--output=b", "--output", "c", "file", "--", "-dash", "--output"});
    EXPECT_EQ(read.outputs, (std::vector<std::string>{"a", "b", "c"}));
    // After "--" everything is an operand, even what looks like an option.
    EXPECT_EQ(read.operands, (std::vector<std::string>{"file", "-dash", "--output"}));
}

TEST(CommandLine, TakesAttachedValuesAndNamesWhatIsWrong)
{
    const struct {
        const char* label;
        std::vector<std::string> words;
        std::vector<std::string> outputs;
        std::string problem;
    } rows[] = {
        {"attached value", {"tool", "-ofile", "-q"}, {"file"}, ""},
        {"given twice", {"tool", "-o", "a", "--output=b"}, {"a", "b"}, "--output given twice; give it once"},
        {"flag given twice", {"tool", "-q", "--quiet"}, {}, "--quiet given twice; give it once"},
        {"value on a flag", {"tool", "-qx"}, {}, "--quiet takes no value"},
        {"value on a flag, then more", {"tool", "--quiet=yes", "-o", "a"}, {"a"}, "--quiet takes no value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ReadLine read = readLine(row.words);
        EXPECT_EQ(read.outputs, row.outputs);
        EXPECT_TRUE(read.operands.empty());
        EXPECT_EQ(read.problem, row.problem);
    }
}

} // namespace
} // namespace Qor::Tools
