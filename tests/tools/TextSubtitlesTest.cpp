// Text subtitles before and through libass: decoding by byte-order mark or
// named encoding, the SRT reader over the shapes real files come in, its
// tags as override tags, the time line worked out by hand, and what the
// renderer draws: where styles and positions put the text, and how libass's
// images blend. Nothing here depends on a font's exact glyphs: boxes are
// checked against ranges, pixels only where the shape is a drawing.
#include "tools/SubtitleScript.h"
#include "tools/TextRenderer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace Qor::Tools {
namespace {

namespace fs = std::filesystem;

const std::string samples = KELVO_SAMPLES_DIRECTORY;

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Expects the items of `actual` to be those of `expected`, in order, as
// far as the fields that `fieldsOf` ties together (a failure prints them).
template <typename Item, typename FieldsOf>
void expectItems(const std::vector<Item>& actual, const std::vector<typename std::vector<Item>::value_type>& expected,
    FieldsOf fieldsOf)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(fieldsOf(actual[i]), fieldsOf(expected[i])) << "item " << i;
}

TEST(ScriptText, DecodesByItsMarkOrTheNamedEncoding)
{
    const struct {
        const char* label;
        std::string bytes;
        std::string encoding;
        std::string text;  // expected when accepted
        std::string error; // expected refusal, whole
    } rows[] = {
        {"plain UTF-8", "1\n\xC3\xA4", "", "1\n\xC3\xA4", ""},
        {"UTF-8 mark", "\xEF\xBB\xBFx", "", "x", ""},
        {"UTF-16LE mark", std::string("\xFF\xFEh\0\xE9\0", 6), "", "h\xC3\xA9", ""},
        {"UTF-16BE mark", std::string("\xFE\xFF\0h", 4), "", "h", ""},
        {"UTF-32LE mark", std::string("\xFF\xFE\0\0a\0\0\0", 8), "", "a", ""},
        {"named 8-bit encoding", "caf\xE9 \x80", "WINDOWS-1252", "caf\xC3\xA9 \xE2\x82\xAC", ""},
        {"a mark overrides the name", "\xEF\xBB\xBF\xC3\xA9", "WINDOWS-1252", "\xC3\xA9", ""},
        {"not UTF-8 on line 3", "a\r\nb\nc\xE9" "d", "", "",
            "f.srt: line 3: byte 0xE9 at column 2 is not UTF-8; name the file's encoding with --encoding "
            "(WINDOWS-1252, say)"},
        {"overlong form", "\xC0\xAF", "", "", "f.srt: line 1: byte 0xC0 at column 1 is not UTF-8; name the file's "
            "encoding with --encoding (WINDOWS-1252, say)"},
        {"surrogate", "ok\r\xED\xA0\x80", "", "", "f.srt: line 2: byte 0xED at column 1 is not UTF-8; name the "
            "file's encoding with --encoding (WINDOWS-1252, say)"},
        // The first and last characters of every lead byte's second-byte range.
        {"UTF-8 at the edges of its ranges", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80"
            "\xF3\xBF\xBF\xBF\xF4\x8F\xBF\xBF", "", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80"
            "\xF3\xBF\xBF\xBF\xF4\x8F\xBF\xBF", ""},
        {"overlong three bytes", "\xE0\x9F\xBF", "", "", "f.srt: line 1: byte 0xE0 at column 1 is not UTF-8; name the "
            "file's encoding with --encoding (WINDOWS-1252, say)"},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", "", "", "f.srt: line 1: byte 0xF0 at column 1 is not UTF-8; name the "
            "file's encoding with --encoding (WINDOWS-1252, say)"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "", "", "f.srt: line 1: byte 0xF4 at column 1 is not UTF-8; name the "
            "file's encoding with --encoding (WINDOWS-1252, say)"},
        {"a lead byte past the table", "\xF5\x80\x80\x80", "", "", "f.srt: line 1: byte 0xF5 at column 1 is not UTF-8; name "
            "the file's encoding with --encoding (WINDOWS-1252, say)"},
        {"cut character at the end", "ok\xE2\x82", "", "", "f.srt: line 1: byte 0xE2 at column 3 is not UTF-8; "
            "name the file's encoding with --encoding (WINDOWS-1252, say)"},
        {"NUL", std::string("ab\ncd\0", 6), "", "", "f.srt: line 2: a NUL character at column 3; a subtitle file is text"},
        {"not the named encoding", "ok\n\xE9", "ASCII", "", "f.srt: line 2: byte 0xE9 at byte offset 3 is not ASCII"},
        {"UTF-16 cut in a character", "\xFF\xFE" "a", "", "", "f.srt: line 1: the file ends inside a character of UTF-16LE"},
        {"unknown encoding", "x", "NO-SUCH-ENCODING", "", "f.srt: the encoding \"NO-SUCH-ENCODING\" is not one iconv converts"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::string text = "left over";
        const std::string error = decodeScriptText(bytesOf(row.bytes), "f.srt", row.encoding, text);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(text, row.error.empty() ? row.text : "");
    }
}

TEST(ScriptText, RefusesFilesThatAreNotTextBeforeReadingThem)
{
    const std::string directory = fs::temp_directory_path() / ("kelvo-text-" + std::to_string(getpid()));
    fs::create_directories(directory);
    const std::string large = directory + "/large.srt";
    { const int fd = open(large.c_str(), O_WRONLY | O_CREAT, 0644); ASSERT_GE(fd, 0); close(fd); }
    ASSERT_EQ(truncate(large.c_str(), off_t(MaximumScriptBytes) + 1), 0); // sparse: nothing is written
    const struct {
        const char* label;
        std::string path;
        std::string encoding;
        std::string error;
    } rows[] = {
        {"endless zeros", "/dev/zero", "", "/dev/zero: line 1: a NUL byte at byte offset 0: not a text file (UTF-16 "
            "without a byte-order mark needs --encoding UTF-16LE or UTF-16BE)"},
        {"too large", large, "", large + ": 67108865 bytes, more than the 64 MiB a subtitle file may have"},
        {"a directory", directory, "", directory + ": is a directory"},
        {"missing", directory + "/none.srt", "", directory + "/none.srt: cannot open: No such file or directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::string text;
        EXPECT_EQ(readScriptFile(row.path, row.encoding, text), row.error);
        EXPECT_EQ(text, "");
    }
    fs::remove_all(directory);
}

TEST(ScriptKind, TellsSrtFromAss)
{
    const struct {
        const char* label;
        std::string text;
        ScriptKind kind;
        std::string error;
    } rows[] = {
        {"SRT after blank lines", "\n \n1\n00:00:01,000 --> 00:00:02,000\nx\n", ScriptKind::Srt, ""},
        {"SRT without numbers", "00:00:01,000 --> 00:00:02,000\nx\n", ScriptKind::Srt, ""},
        {"ASS", "[Script Info]\r\n", ScriptKind::Ass, ""},
        {"ASS in other case, comment first", "; made by hand\n  [script info]  \n", ScriptKind::Ass, ""},
        {"neither", "\nWEBVTT\n", ScriptKind::Srt,
            "f: line 2: \"WEBVTT\" begins neither an SRT file (a caption number or a time line) nor an ASS/SSA script "
            "(\"[Script Info]\")"},
        {"empty", " \n\r\n", ScriptKind::Srt, "f: no captions: the file holds no text"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ScriptKind kind = ScriptKind::Srt;
        EXPECT_EQ(detectScriptKind(row.text, "f", kind), row.error);
        if (row.error.empty()) {
            EXPECT_EQ(kind, row.kind);
        }
    }
}

TEST(Srt, ReadsCaptionsOfEveryShape)
{
    const struct {
        const char* label;
        std::string text;
        std::vector<Caption> captions;
        size_t warnings;
    } rows[] = {
        {"CRLF", "1\r\n00:00:01,000 --> 00:00:02,500\r\nOne\r\nTwo\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nThree\r\n",
            {{1000, 2500, 2, "One\\NTwo"}, {3000, 4000, 7, "Three"}}, 0},
        {"no numbers, no blank lines", "00:00:01,000 --> 00:00:02,000\nA\n7\n00:00:03,000 --> 00:00:04,000\nB\n"
            "00:00:05,000 --> 00:00:06,000\nC",
            {{1000, 2000, 1, "A"}, {3000, 4000, 4, "B"}, {5000, 6000, 6, "C"}}, 0},
        // Text after a blank line, before the next time line, stays with its caption.
        {"extra blank lines", "\n\n1\n00:00:01,000 --> 00:00:02,000\nA\n\n\nstill A\n\n\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n\n",
            {{1000, 2000, 4, "A\\Nstill A"}, {3000, 4000, 13, "B"}}, 0},
        {"hours past 99", "1\n123:00:00,000 --> 123:00:01,500\nLate\n", {{442800000, 442801500, 2, "Late"}}, 0},
        {"the latest time", "1\n1193:02:47,294 --> 1193:02:47,295\nLast\n", {{4294967294, 4294967295, 2, "Last"}}, 0},
        {"short forms", "1\n00:01.5 --> 00:02\nA\n\n2\n0:00:03.25 --> 0:00:04.7519\nB\n",
            {{1500, 2000, 2, "A"}, {3250, 4751, 6, "B"}}, 0},
        {"out of order and overlapping, kept in file order",
            "2\n00:00:05,000 --> 00:00:09,000\nsecond\n\n1\n00:00:01,000 --> 00:00:06,000\nfirst\n",
            {{5000, 9000, 2, "second"}, {1000, 6000, 6, "first"}}, 0},
        {"a position after the times", "1\n00:00:01,000 --> 00:00:02,000 X1:40 X2:600 Y1:20 Y2:50\nA\n",
            {{1000, 2000, 2, "A"}}, 0},
        {"ending before starting, and as starting", "1\n00:00:05,000 --> 00:00:04,000\nback\n\n2\n00:00:05,000 --> "
            "00:00:05,000\nnone\n\n3\n00:00:06,000 --> 00:00:07,000\nkept\n",
            {{6000, 7000, 10, "kept"}}, 2},
        {"no text", "1\n00:00:01,000 --> 00:00:02,000\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n", {{3000, 4000, 5, "B"}}, 0},
        {"no text but a tag of no effect", "1\n00:00:01,000 --> 00:00:02,000\n<font>\n", {}, 0},
        // A number alone as a caption's text, when no time line follows it.
        {"a number as text", "1\n00:00:01,000 --> 00:00:02,000\n42\n", {{1000, 2000, 2, "42"}}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<Caption> captions;
        std::vector<std::string> warnings;
        ASSERT_EQ(parseSrt(row.text, "s.srt", captions, warnings), "");
        expectItems(captions, row.captions, [](const Caption& c) { return std::tie(c.start, c.end, c.line, c.text); });
        EXPECT_EQ(warnings.size(), row.warnings);
        for (const std::string& warning : warnings)
            EXPECT_EQ(warning.rfind("s.srt: line ", 0), 0u) << warning;
    }
}

TEST(Srt, RefusesWhatCannotBeReadNamingTheLine)
{
    const struct {
        const char* label;
        std::string text;
        std::string error;
    } rows[] = {
        {"negative time", "1\n-00:00:01,000 --> 00:00:02,000\nx\n", "s.srt: line 2: \"-00:00:01,000\" is a negative time"},
        {"minutes of 75", "1\n00:00:01,000 --> 00:75:00,000\nx\n",
            "s.srt: line 2: \"00:75:00,000\": minutes and seconds are below 60"},
        {"past 32 bits", "1\n1193:02:47,296 --> 1193:02:48,000\nx\n",
            "s.srt: line 2: \"1193:02:47,296\" is past 1193:02:47.295, the latest time a 32-bit millisecond timing word "
            "holds"},
        {"absurd hours", "1\n99999999999999999999:00:00,000 --> 0:00:01\nx\n",
            "s.srt: line 2: \"99999999999999999999:00:00,000\" is past 1193:02:47.295, the latest time a 32-bit "
            "millisecond timing word holds"},
        {"no end time", "1\n00:00:01,000 -->\nx\n", "s.srt: line 2: the time line has no end time after \"-->\""},
        {"letters for a time", "1\n00:0a:01,000 --> 00:00:02,000\nx\n",
            "s.srt: line 2: \"00:0a:01,000\" is not a time ([H:]MM:SS,mmm)"},
        {"a number and no time line", "1\nHello\n",
            "s.srt: line 1: \"1\" is neither a caption number before a time line nor a time line"},
        {"10 MB of one line", "1\n00:00:01,000 --> 00:00:02,000\n" + std::string(10 << 20, 'x') + "\n",
            "s.srt: line 2: the caption has more than 65536 bytes of text (it reaches line 3)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<Caption> captions{Caption{}};
        std::vector<std::string> warnings;
        EXPECT_EQ(parseSrt(row.text, "s.srt", captions, warnings), row.error);
        EXPECT_TRUE(captions.empty());
    }
}

TEST(Srt, TagsBecomeOverrideTags)
{
    const struct {
        std::string srt;
        std::string ass;
    } rows[] = {
        {"<i>a</i> <B>b</b> <u>c</u> <s>d</s>", "{\\i1}a{\\i0} {\\b1}b{\\b0} {\\u1}c{\\u0} {\\s1}d{\\s0}"},
        {"one\ntwo", "one\\Ntwo"},
        {"<font color=\"#FF8000\">o</font>", "{\\c&H0080FF&}o{\\c}"},
        {"<font color=red>r<font color='#00ff00'>g</font>r</font>w", "{\\c&H0000FF&}r{\\c&H00FF00&}g{\\c&H0000FF&}r{\\c}w"},
        {"<font color=#abc>x</font>", "{\\c&HCCBBAA&}x{\\c}"},
        // A <font> without a colour changes nothing, nor does its end.
        {"<font color=red>r<font face=\"Serif\">f</font>r</font>", "{\\c&H0000FF&}rfr{\\c}"},
        {"a < b <c.x>y</c.x> >", "a < b <c.x>y</c.x> >"},
        {"{\\an8}top", "{\\an8}top"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(srtTextToAss(row.srt), row.ass) << row.srt;
}

TEST(Timeline, CutsAtEveryStartAndEnd)
{
    const struct {
        const char* label;
        std::vector<TimedEvent> events;
        std::vector<Interval> intervals;
    } rows[] = {
        // samples/harbour.srt, by hand: 1-4 s, 3-6.5 s, 8-10.25 s, 9.5-12 s, 12-14 s.
        {"the harbour sample", {{1000, 4000, 2}, {3000, 6500, 7}, {8000, 10250, 11}, {9500, 12000, 15}, {12000, 14000, 20}},
            {{1000, 3000, {0}, false}, {3000, 4000, {0, 1}, true}, {4000, 6500, {1}, true}, {8000, 9500, {2}, false},
                {9500, 10250, {2, 3}, true}, {10250, 12000, {3}, true}, {12000, 14000, {4}, false}}},
        {"one inside another, out of order", {{2000, 3000, 5}, {1000, 5000, 1}},
            {{1000, 2000, {1}, false}, {2000, 3000, {0, 1}, true}, {3000, 5000, {1}, true}}},
        {"the same times twice", {{1000, 2000, 1}, {1000, 2000, 2}}, {{1000, 2000, {0, 1}, false}}},
        {"never shown", {{3000, 2000, 1}, {5000, 5000, 2}, {6000, 7000, 3}}, {{6000, 7000, {2}, false}}},
        {"nothing", {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        expectItems(cutTimeline(row.events), row.intervals,
            [](const Interval& i) { return std::tie(i.start, i.end, i.events, i.continues); });
    }
}

bool contains(const TextBox& outer, const TextBox& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right
        && inner.bottom <= outer.bottom;
}

// A picture's box lies in libass's images and is tight round its pixels of some alpha.
void expectTight(const TextPicture& picture)
{
    ASSERT_FALSE(picture.box.empty());
    EXPECT_TRUE(contains(picture.reported, picture.box));
    const size_t width = size_t(picture.box.width());
    const size_t height = size_t(picture.box.height());
    ASSERT_EQ(picture.rgba.size(), width * height * 4);
    size_t top = height, bottom = 0, left = width, right = 0;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            if (picture.rgba[(y * width + x) * 4 + 3]) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_EQ(top, 0u);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(bottom, height - 1);
    EXPECT_EQ(right, width - 1);
}

class TextRendering : public ::testing::Test {
protected:
    TextRendering() : messages("t", [this](const std::string& warning) { warnings.push_back(warning); }) {}

    // Loads `text` as a script of `kind`; "" or the refusal.
    std::string load(TextRenderer& renderer, ScriptKind kind, const std::string& text,
        const std::vector<Caption>& captions = {})
    {
        TextScript script;
        script.kind = kind;
        script.name = "t";
        script.text = text;
        script.captions = captions;
        loadWarnings.clear();
        return renderer.load(script, events, loadWarnings);
    }

    TextPicture draw(TextRenderer& renderer, int64_t time)
    {
        TextPicture picture;
        EXPECT_EQ(renderer.render(time, picture), "");
        return picture;
    }

    std::vector<std::string> warnings;
    TextMessages messages;
    std::vector<TimedEvent> events;
    std::vector<std::string> loadWarnings;
};

std::string fileText(const std::string& path)
{
    std::string text;
    EXPECT_EQ(readScriptFile(path, "", text), "");
    return text;
}

int centre(const TextBox& box)
{
    return (box.left + box.right) / 2;
}

// Expects every side of `box` within `slack` pixels of `expected`'s.
void expectBoxNear(const TextBox& box, const TextBox& expected, int slack)
{
    EXPECT_NEAR(box.left, expected.left, slack);
    EXPECT_NEAR(box.top, expected.top, slack);
    EXPECT_NEAR(box.right, expected.right, slack);
    EXPECT_NEAR(box.bottom, expected.bottom, slack);
}

// samples/signs.ass: "Speech" bottom-centred 50 px up, "Sign" top-centred
// 40 px down, and a "Sign" event put at 200,300 by its top-left corner.
TEST_F(TextRendering, KeepsTheStylesAndPositionsOfAnAssScript)
{
    TextRenderer renderer(1920, 1080, messages);
    ASSERT_EQ(load(renderer, ScriptKind::Ass, fileText(samples + "/signs.ass")), "");
    ASSERT_EQ(events.size(), 3u);
    expectItems(events, {{500, 3000, 16}, {3500, 6000, 17}, {5000, 8000, 18}},
        [](const TimedEvent& e) { return std::tie(e.start, e.end, e.line); });

    const TextPicture speech = draw(renderer, 1750);
    expectTight(speech);
    EXPECT_NEAR(centre(speech.box), 960, 20);
    EXPECT_NEAR(speech.box.bottom, 1080 - 50, 16);
    EXPECT_GT(speech.box.top, 900);

    const TextPicture sign = draw(renderer, 4250);
    expectTight(sign);
    EXPECT_NEAR(centre(sign.box), 960, 20);
    EXPECT_NEAR(sign.box.top, 40, 16);
    EXPECT_LT(sign.box.bottom, 150);

    const TextPicture placed = draw(renderer, 7000);
    expectTight(placed);
    EXPECT_NEAR(placed.box.left, 200, 12);
    EXPECT_NEAR(placed.box.top, 300, 20);
    EXPECT_LT(placed.box.right, 960);

    // Shown together, each stays where it was alone.
    const TextPicture both = draw(renderer, 5500);
    TextBox united = sign.box;
    united.add(placed.box);
    expectBoxNear(both.box, united, 0);

    EXPECT_TRUE(draw(renderer, 3250).box.empty()); // the gap
    EXPECT_EQ(warnings, std::vector<std::string>{});
}

std::vector<Caption> harbourCaptions()
{
    std::vector<Caption> captions;
    std::vector<std::string> warnings;
    EXPECT_EQ(parseSrt(fileText(samples + "/harbour.srt"), "harbour.srt", captions, warnings), "");
    return captions;
}

TEST_F(TextRendering, DrawsSrtCaptionsInTheirStyle)
{
    const std::vector<Caption> captions = harbourCaptions();
    ASSERT_EQ(captions.size(), 5u);
    CaptionStyle style = defaultCaptionStyle(1080);
    EXPECT_EQ(style.size, 60);
    EXPECT_EQ(style.margin, 54);

    TextRenderer renderer(1920, 1080, messages);
    ASSERT_EQ(load(renderer, ScriptKind::Srt, srtScriptHeader(style, 1920, 1080), captions), "");
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3].line, 15u);
    // Two lines of 60 px, bottom-centred 54 px up.
    const TextPicture bottom = draw(renderer, 2000);
    expectTight(bottom);
    EXPECT_NEAR(centre(bottom.box), 960, 20);
    EXPECT_NEAR(bottom.box.bottom, 1080 - 54, 16);
    EXPECT_GT(bottom.box.height(), 80);
    EXPECT_LT(bottom.box.height(), 170);

    style.top = true;
    style.size = 30;
    style.colour = 0xFF0000;
    TextRenderer other(1920, 1080, messages);
    ASSERT_EQ(load(other, ScriptKind::Srt, srtScriptHeader(style, 1920, 1080), captions), "");
    const TextPicture top = draw(other, 2000);
    expectTight(top);
    EXPECT_NEAR(top.box.top, 54, 16);
    EXPECT_LT(top.box.height(), bottom.box.height() * 6 / 10);
    // The commonest opaque colour is the text's.
    size_t red = 0, white = 0;
    for (size_t i = 0; i < top.rgba.size(); i += 4)
        if (top.rgba[i + 3] == 255) {
            red += top.rgba[i] == 255 && top.rgba[i + 1] == 0 && top.rgba[i + 2] == 0;
            white += top.rgba[i] == 255 && top.rgba[i + 1] == 255 && top.rgba[i + 2] == 255;
        }
    EXPECT_GT(red, 500u);
    EXPECT_EQ(white, 0u);
}

// Drawings have no glyphs: a rectangle on whole pixels covers them fully
// (libass may shift it by a fraction of a pixel, a faint column each side).
TEST_F(TextRendering, BlendsLibassImagesInOrder)
{
    const std::string header = srtScriptHeader(defaultCaptionStyle(180), 320, 180);
    const std::vector<Caption> captions = {
        {1000, 2000, 1, "{\\an7\\pos(10,20)\\bord0\\shad0\\c&H0000FF&\\p1}m 0 0 l 40 0 40 30 0 30"},
        // Blue at alpha 0x80 (opacity 127) over the red's right half.
        {1000, 2000, 2, "{\\an7\\pos(30,20)\\bord0\\shad0\\c&HFF0000&\\1a&H80&\\p1}m 0 0 l 40 0 40 30 0 30"},
        {3000, 4000, 3, "{\\an7\\pos(100,100)\\bord0\\shad0\\c&H00FF00&\\1a&H80&\\p1}m 0 0 l 8 0 8 4 0 4"},
    };
    TextRenderer renderer(320, 180, messages);
    ASSERT_EQ(load(renderer, ScriptKind::Srt, header, captions), "");
    const auto pixel = [](const TextPicture& picture, int x, int y) {
        const size_t at = (size_t(y - picture.box.top) * size_t(picture.box.width()) + size_t(x - picture.box.left)) * 4;
        return std::vector<int>{picture.rgba[at], picture.rgba[at + 1], picture.rgba[at + 2], picture.rgba[at + 3]};
    };
    const TextPicture two = draw(renderer, 1500);
    expectBoxNear(two.box, TextBox{10, 20, 70, 50}, 1);
    EXPECT_EQ(pixel(two, 15, 30), (std::vector<int>{255, 0, 0, 255}));
    // Blue of 127 over opaque red: 127 of blue and 128 of red, opaque.
    EXPECT_EQ(pixel(two, 40, 30), (std::vector<int>{128, 0, 127, 255}));
    // Blue alone, translucent; its colour unchanged by the alpha.
    EXPECT_EQ(pixel(two, 60, 30), (std::vector<int>{0, 0, 255, 127}));
    const TextPicture one = draw(renderer, 3500);
    expectBoxNear(one.box, TextBox{100, 100, 108, 104}, 1);
    EXPECT_EQ(pixel(one, 103, 102), (std::vector<int>{0, 255, 0, 127}));
}

TEST_F(TextRendering, RefusesWhatLibassCannotShowNamingTheLine)
{
    const std::string head = "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
                             "Format: Name, Fontname, Fontsize, PrimaryColour, Alignment\nStyle: Default,DejaVu Sans,20,"
                             "&H00FFFFFF,2\n\n[Events]\nFormat: Layer, Start, End, Style, Text\n";
    const struct {
        const char* label;
        std::string script;
        std::string error;
        size_t warnings;
    } rows[] = {
        {"a good script", head + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,fine\n", "", 0},
        {"a line of too few fields", head + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,fine\nDialogue: 0,0:00:01.00\n",
            "t: line 11: libass cannot read this Dialogue line (do its fields follow the Format line?)", 0},
        {"before 0", head + "Dialogue: 0,-1:00:00.00,0:00:02.00,Default,early\n",
            "t: line 10: the event starts at -1:00:00.000, before 0:00:00", 0},
        {"past 32 bits", head + "Dialogue: 0,0:00:01.00,1193:02:47.30,Default,late\n",
            "t: line 10: the event ends past 1193:02:47.295, the latest time a 32-bit millisecond timing word holds", 0},
        {"too much text", head + "Dialogue: 0,0:00:01.00,0:00:02.00,Default," + std::string(MaximumEventTextBytes + 1, 'x') + "\n",
            "t: line 10: the event has more than 65536 bytes of text", 0},
        {"ending before starting", head + "Dialogue: 0,0:00:03.00,0:00:02.00,Default,back\n", "", 1},
        {"no style section", "[Script Info]\nTitle: x\n\n[Events]\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x\n",
            "t: not an ASS or SSA script: it has no [V4+ Styles] or [V4 Styles] section", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TextRenderer renderer(320, 180, messages);
        EXPECT_EQ(load(renderer, ScriptKind::Ass, row.script), row.error);
        EXPECT_EQ(loadWarnings.size(), row.warnings);
        if (!row.error.empty()) {
            EXPECT_TRUE(events.empty());
        }
    }
}

// On 320x180 the budget is 16 times 57600 pixels; an event of 40
// characters at 100 px with an outline of 2 asks for 104 x 104 x 40. A
// line turned asks for its box too: 100 characters of 14 px in a row,
// turned, for half of 1414 x 1414.
TEST_F(TextRendering, RefusesGlyphsOutOfProportionToThePicture)
{
    const std::string head = "[Script Info]\nScriptType: v4.00+\nPlayResX: 320\nPlayResY: 180\n\n[V4+ Styles]\n"
                             "Format: Name, Fontname, Fontsize, PrimaryColour, Outline, Alignment\n"
                             "Style: Default,DejaVu Sans,100,&H00FFFFFF,2,2\nStyle: Huge,DejaVu Sans,4000,&H00FFFFFF,2,2\n\n"
                             "[Events]\nFormat: Layer, Start, End, Style, Text\n";
    const std::string forty(40, 'x');
    const std::string refused = " the text shown then asks for glyphs of ";
    const struct {
        const char* label;
        std::string events;
        std::string error; // the start of the refusal of the first interval refused
    } rows[] = {
        {"two together", "Dialogue: 0,0:00:01.00,0:00:02.00,Default," + forty + "\nDialogue: 0,0:00:01.00,0:00:02.00,Default,"
            + forty + "\n", ""},
        {"three together", "Dialogue: 0,0:00:01.00,0:00:03.00,Default," + forty + "\nDialogue: 0,0:00:01.00,0:00:03.00,Default,"
            + forty + "\nDialogue: 0,0:00:02.00,0:00:03.00,Default," + forty + "\n",
            "t: lines 13, 14, 15, at 0:00:02.000:" + refused + "1.3 million pixels, more than the 0.9 million"},
        {"a huge size", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs5000}big\n", "t: line 13, at 0:00:01.000:" + refused},
        {"a huge size in a transform", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,a{\\t(\\fscx9000)}b\n",
            "t: line 13, at 0:00:01.000:" + refused},
        {"a huge border", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10\\bord900}b\n", "t: line 13, at 0:00:01.000:" + refused},
        {"a huge style switched to", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10}a{\\rHuge}b\n",
            "t: line 13, at 0:00:01.000:" + refused},
        {"small text on a tiny layout", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10}b\n", ""},
        {"a wide spacing", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10\\fsp2000}" + forty + "\n",
            "t: line 13, at 0:00:01.000:" + refused},
        {"a sign turned", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10\\frz30}turned text\n", ""},
        {"a long word turned", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10\\frz30}" + std::string(100, 'x') + "\n",
            "t: line 13, at 0:00:01.000:" + refused},
        {"a drawing the picture's size", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\p1}m 0 0 l 320 0 320 180 0 180\n", ""},
        {"a drawing far past it", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\p1}m 0 0 l 3000 0 3000 3000 -10 3000{\\p0}x\n",
            "t: line 13, at 0:00:01.000:" + refused},
        {"a line sheared upwards", "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10\\fay3}" + forty + "\n",
            "t: line 13, at 0:00:01.000:" + refused},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TextRenderer renderer(320, 180, messages);
        ASSERT_EQ(load(renderer, ScriptKind::Ass, head + row.events), "");
        std::string error;
        for (const Interval& interval : cutTimeline(events))
            if (error.empty())
                error = checkGlyphArea(interval, events, 320, 180, "t");
        EXPECT_EQ(error.substr(0, row.error.size()), row.error) << error;
        EXPECT_EQ(error.empty(), row.error.empty()) << error;
    }
    // A layout of one row scales 10 px text to 1800 px.
    TextRenderer renderer(320, 180, messages);
    ASSERT_EQ(load(renderer, ScriptKind::Ass, std::string(head).replace(head.find("PlayResY: 180"), 13, "PlayResY: 1")
            + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs10}b\n"), "");
    EXPECT_NE(checkGlyphArea(cutTimeline(events).at(0), events, 320, 180, "t"), "");
}

TEST_F(TextRendering, TellsOnceOfAFaceNotFound)
{
    CaptionStyle style = defaultCaptionStyle(360);
    style.font = "No Such Face Anywhere";
    TextRenderer renderer(640, 360, messages);
    ASSERT_EQ(load(renderer, ScriptKind::Srt, srtScriptHeader(style, 640, 360),
                  {{1000, 2000, 2, "plain"}, {1000, 2000, 3, "{\\i1}italic"}, {3000, 4000, 4, "again"}}),
        "");
    EXPECT_FALSE(draw(renderer, 1500).box.empty());
    EXPECT_FALSE(draw(renderer, 3500).box.empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("t: font \"No Such Face Anywhere\" not found; ", 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find("DejaVuSans"), std::string::npos) << warnings[0];
}

} // namespace
} // namespace Qor::Tools
