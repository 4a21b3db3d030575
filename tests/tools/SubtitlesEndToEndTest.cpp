// kelvo-subtitles run as a person runs it: the bundled SRT and ASS samples
// made into streams whose timings are worked out from the files by hand,
// played through the plug-in by kelvo-render, each frame at the box libass
// drew and of at most four colours; the same stream whatever the encoding,
// the thread count or the output; then bad input, each giving one line, a
// failing status and no file, and an interrupted run leaving nothing.
#include "tests/tools/ToolRun.h"
#include "tools/PacketStream.h"
#include "tools/PngImage.h"
#include "tools/SubtitleScript.h"
#include "tools/TextRenderer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cmath>
#include <set>

namespace Qor::Tools {
namespace {

using namespace Testing;
namespace fs = std::filesystem;

class KelvoSubtitles : public Scratch {
protected:
    // kelvo-subtitles writing s.kps from what `arguments` name.
    ToolRun makeStream(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> all = {subtitlesTool, "-o", path("s.kps")};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return tool(all);
    }
};

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// What libass draws for each interval of `file` in which something shows,
// as the tool sets it up for a 1920x1080 picture and its default style.
std::vector<TextPicture> drawnPictures(const std::string& file)
{
    TextScript script;
    script.name = file;
    EXPECT_EQ(readScriptFile(file, "", script.text), "");
    EXPECT_EQ(detectScriptKind(script.text, file, script.kind), "");
    std::vector<std::string> warnings;
    if (script.kind == ScriptKind::Srt) {
        EXPECT_EQ(parseSrt(script.text, file, script.captions, warnings), "");
        script.text = srtScriptHeader(defaultCaptionStyle(1080), 1920, 1080);
    }
    TextMessages messages(file, nullptr);
    TextRenderer renderer(1920, 1080, messages);
    std::vector<TimedEvent> events;
    EXPECT_EQ(renderer.load(script, events, warnings), "");
    std::vector<TextPicture> pictures;
    for (const Interval& interval : cutTimeline(events)) {
        TextPicture picture;
        EXPECT_EQ(renderer.render(interval.start + (interval.end - interval.start) / 2, picture), "");
        if (!picture.box.empty())
            pictures.push_back(std::move(picture));
    }
    return pictures;
}

TEST_F(KelvoSubtitles, PacketsTileTheShownIntervalsAtLibassBoxes)
{
    using Timings = std::vector<std::array<uint32_t, 2>>;
    const struct {
        const char* label;
        std::string file;
        std::string format;
        Timings timings; // start and duration, worked out from the file by hand
        std::string warning; // what standard error says, after the file's name
    } rows[] = {
        // Captions 1-4 s, 3-6.5 s, 8-10.25 s, 9.5-12 s and 12-14 s: cut at
        // every start and end; 6.5-8 s shows nothing.
        {"SRT, overlapping", samples + "/harbour.srt", "GPHA",
            {{1000, 2000}, {3000, 1000}, {4000, 2500}, {8000, 1500}, {9500, 750}, {10250, 1750}, {12000, 2000}}, ""},
        {"SRT, opaque colours", samples + "/harbour.srt", "GPHB",
            {{1000, 2000}, {3000, 1000}, {4000, 2500}, {8000, 1500}, {9500, 750}, {10250, 1750}, {12000, 2000}},
            ": a GPHB stream shows colours opaque; the text's translucent edges become opaque (GPHA keeps them)"},
        // Events 0.5-3 s, 3.5-6 s and 5-8 s.
        {"ASS, two styles and a placed event", samples + "/signs.ass", "GPHA",
            {{500, 2500}, {3500, 1500}, {5000, 1000}, {6000, 2000}}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ToolRun made = makeStream({"-f", row.format, row.file});
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(made.err, row.warning.empty() ? "" : "kelvo-subtitles: warning: " + row.file + row.warning + "\n");
        const StreamReadResult read = readPacketStream(path("s.kps"));
        ASSERT_TRUE(read) << read.error;
        EXPECT_EQ(read.stream.inputFormat, row.format);
        EXPECT_EQ(read.stream.pictureWidth, 1920);
        EXPECT_EQ(read.stream.pictureHeight, 1080);
        Timings timings;
        for (const PacketRecord& record : read.stream.records)
            timings.push_back(record.timing);
        EXPECT_EQ(timings, row.timings);

        const ToolRun rendered = tool({renderTool, "-q", "--no-preview", "-o", path("out"), path("s.kps")});
        ASSERT_EQ(rendered.status, 0) << rendered.err;
        const std::vector<std::string> manifest = lines(fileText(path("out/manifest.jsonl")));
        const std::vector<TextPicture> pictures = drawnPictures(row.file);
        ASSERT_EQ(manifest.size(), row.timings.size());
        ASSERT_EQ(pictures.size(), row.timings.size());
        for (size_t n = 0; n < manifest.size(); ++n) {
            SCOPED_TRACE("packet " + std::to_string(n + 1));
            const TextBox& box = pictures[n].box;
            const TextBox& reported = pictures[n].reported;
            // The frame is the box libass drew, inside the images it reported.
            const int left = int(std::lround(jsonNumbers(manifest[n], "left").at(0) * 1920));
            const int top = int(std::lround(jsonNumbers(manifest[n], "top").at(0) * 1080));
            const int width = int(jsonNumbers(manifest[n], "width").at(0));
            const int height = int(jsonNumbers(manifest[n], "height").at(0));
            EXPECT_EQ(left, box.left);
            EXPECT_EQ(top, box.top);
            EXPECT_EQ(width, box.width());
            EXPECT_EQ(height, box.height());
            EXPECT_TRUE(left >= reported.left && top >= reported.top && left + width <= reported.right
                && top + height <= reported.bottom);

            const PngReadResult frame = readPng(path("out/" + jsonText(manifest[n], "frame")));
            ASSERT_TRUE(frame) << frame.error;
            std::set<uint32_t> colours;
            size_t opaque = 0;
            for (size_t i = 0; i < frame.image.rgba.size(); i += 4) {
                const uint8_t* p = &frame.image.rgba[i];
                colours.insert(uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
                opaque += p[3] == 255;
                if (row.format == "GPHB") {
                    ASSERT_TRUE(p[3] == 0 || p[3] == 255) << int(p[3]);
                }
            }
            EXPECT_LE(colours.size(), 4u);
            EXPECT_GT(opaque, size_t(width + height));
        }
        fs::remove_all(path("out"));
    }
}

TEST_F(KelvoSubtitles, GivesTheSameStreamWhateverTheEncodingThreadsOrOutput)
{
    const std::string text = "1\r\n00:00:01,000 --> 00:00:02,000\r\nCaf\xC3\xA9 cr\xC3\xA8me\r\n\r\n"
                             "2\r\n00:00:01,500 --> 00:00:03,000\r\n<i>\xC2\xA1Ol\xC3\xA9!</i>\r\n";
    writeText(path("utf8.srt"), text);
    // The same text in Windows-1252, and in UTF-16LE after its mark.
    std::string latin;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t c = uint8_t(text[i]);
        if (c == 0xC3 || c == 0xC2) {
            latin += char(uint8_t(text[i + 1]) + (c == 0xC3 ? 0x40 : 0));
            ++i;
        } else {
            latin += char(c);
        }
    }
    writeText(path("latin.srt"), latin);
    std::string wide = "\xFF\xFE";
    for (char c : latin)
        wide += std::string{c, '\0'};
    writeText(path("wide.srt"), wide);

    ASSERT_EQ(tool({subtitlesTool, "-q", "-j", "1", path("utf8.srt"), "-o", path("one.kps")}).status, 0);
    const std::string expected = fileText(path("one.kps"));
    const struct {
        const char* label;
        std::vector<std::string> arguments;
    } rows[] = {
        {"two threads", {"-j", "2", path("utf8.srt")}},
        {"named encoding", {"--encoding", "WINDOWS-1252", path("latin.srt")}},
        {"UTF-16 by its mark", {path("wide.srt")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ToolRun made = makeStream(row.arguments);
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(fileText(path("s.kps")), expected);
    }
    const ToolRun piped = tool({"/bin/sh", "-c", subtitlesTool + " -o - - < " + path("utf8.srt")});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, expected);
    // Over a stream it replaces, and says what it wrote.
    const ToolRun again = tool({subtitlesTool, path("utf8.srt"), "-o", path("s.kps")});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "kelvo-subtitles: 2 captions, 3 packets in " + path("s.kps") + " (GPHA, 1920x1080)\n");
}

TEST_F(KelvoSubtitles, WarnsOnceAndStillWrites)
{
    writeText(path("a.srt"), "1\n00:00:01,000 --> 00:00:02,000\nplain\n\n2\n00:00:01,000 --> 00:00:02,000\n<i>italic</i>\n"
                             "\n3\n00:00:03,000 --> 00:00:02,000\nbackwards\n");
    // A square drawn at half a pixel: every pixel of its box at least half
    // opaque, so none is transparent.
    writeText(path("square.ass"), "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n\n[V4+ Styles]\n"
                                  "Format: Name, Fontname, Fontsize, PrimaryColour, Outline, Shadow, Alignment\n"
                                  "Style: Default,DejaVu Sans,40,&H00602000,0,0,7\n\n[Events]\n"
                                  "Format: Layer, Start, End, Style, Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,"
                                  "{\\pos(100.5,100.5)\\p1}m 0 0 l 200 0 200 60 0 60{\\p0}\n");
    const std::string backwards = path("a.srt")
        + ": line 10: the caption ends at 0:00:02.000, not after its start at 0:00:03.000; it is left out";
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        std::vector<std::string> warnings; // the start of each line after "kelvo-subtitles: warning: "
    } rows[] = {
        {"a face not found", {"--font", "No Such Face Anywhere", path("a.srt")},
            {backwards, path("a.srt") + ": font \"No Such Face Anywhere\" not found; "}},
        {"words in any case", {"-f", "GphA", "--align", "Top", path("a.srt")}, {backwards}},
        {"style options on a script", {"--font", "DejaVu Serif", "--margin", "10", samples + "/signs.ass"},
            {samples + "/signs.ass: --font, --margin changes SRT captions only; an ASS/SSA script keeps its own styles"}},
        {"opaque edges", {"-f", "gphb", samples + "/signs.ass"},
            {samples + "/signs.ass: a GPHB stream shows colours opaque; the text's translucent edges become opaque"}},
        {"no transparent colour", {"-f", "GPHB", path("square.ass")},
            {path("square.ass") + ": a GPHB stream shows colours opaque; ",
                path("square.ass") + ": 1 packet has no transparent colour, and GPHB shows colour 0 as transparent: "
                                     "the colour of each one's top-left pixel will not show; a GPHA stream (-f GPHA) "
                                     "keeps it"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ToolRun made = makeStream(row.arguments);
        ASSERT_EQ(made.status, 0) << made.err;
        const std::vector<std::string> told = lines(made.err);
        ASSERT_EQ(told.size(), row.warnings.size()) << made.err;
        for (size_t i = 0; i < told.size(); ++i)
            EXPECT_EQ(told[i].rfind("kelvo-subtitles: warning: " + row.warnings[i], 0), 0u) << told[i];
        const std::string stream = fileText(path("s.kps"));
        EXPECT_TRUE(readPacketStream(path("s.kps")));
        // Quiet, the same stream and not a word.
        std::vector<std::string> quietly = row.arguments;
        quietly.insert(quietly.begin(), "-q");
        const ToolRun quiet = makeStream(quietly);
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(quiet.out + quiet.err, "");
        EXPECT_EQ(fileText(path("s.kps")), stream);
    }
}

// An ASS script of one event of dense, small text: a field of its packet
// would pass 64 KiB.
std::string denseScript()
{
    std::string text;
    uint32_t state = 1;
    for (int line = 0; line < 80; ++line) {
        text += line ? "\\N" : "";
        for (int i = 0; i < 240; ++i) {
            state = state * 1664525u + 1013904223u;
            text += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[(state >> 8) % 62];
        }
    }
    return "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\nWrapStyle: 2\n\n[V4+ Styles]\n"
           "Format: Name, Fontname, Fontsize, PrimaryColour, OutlineColour, Outline, Alignment\n"
           "Style: Default,DejaVu Sans Mono,13,&H00FFFFFF,&H00000000,1,7\n\n[Events]\n"
           "Format: Layer, Start, End, Style, Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,{\\pos(0,0)}"
        + text + "\n";
}

TEST_F(KelvoSubtitles, RefusesBadInputAndWritesNothing)
{
    ASSERT_EQ(tool({subtitlesTool, "-q", samples + "/harbour.srt", "-o", path("old.kps")}).status, 0);
    const std::string old = fileText(path("old.kps"));
    writeText(path("notes.txt"), "keep");
    const std::string captions = fileText(samples + "/harbour.srt");
    writeText(path("in.srt"), captions);
    const std::string assHead = "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize\n"
                                "Style: Default,DejaVu Sans,40\n\n[Events]\nFormat: Layer, Start, End, Style, Text\n";
    const struct {
        const char* label;
        std::string text; // the subtitle file's, or empty for `file`
        std::string file;
        std::vector<std::string> arguments;
        int status;
        std::string message; // the last line of standard error, from its start
    } rows[] = {
        {"not UTF-8", "1\n00:00:01,000 --> 00:00:02,000\ncaf\xE9\n", "", {}, 1,
            "kelvo-subtitles: F: line 3: byte 0xE9 at column 4 is not UTF-8; name the file's encoding with --encoding "
            "(WINDOWS-1252, say)"},
        {"negative time", "1\n-00:00:01,000 --> 00:00:02,000\nx\n", "", {}, 1,
            "kelvo-subtitles: F: line 2: \"-00:00:01,000\" is a negative time"},
        {"endless zeros", "", "/dev/zero", {}, 1, "kelvo-subtitles: /dev/zero: line 1: a NUL byte at byte offset 0: "},
        {"neither kind", "WEBVTT\n\n00:01.000 --> 00:02.000\nx\n", "", {}, 1,
            "kelvo-subtitles: F: line 1: \"WEBVTT\" begins neither an SRT file"},
        {"nothing ever shown", "1\n00:00:02,000 --> 00:00:01,000\nback\n", "", {}, 1,
            "kelvo-subtitles: F: no captions: nothing in the file is ever shown"},
        {"a Dialogue line libass cannot read", assHead + "Dialogue: 0,0:00:01.00\n", "", {}, 1,
            "kelvo-subtitles: F: line 10: libass cannot read this Dialogue line"},
        {"glyphs far too large", assHead + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,{\\fs50000}x\n", "", {}, 1,
            "kelvo-subtitles: F: line 10, at 0:00:01.000: the text shown then asks for glyphs of "},
        {"too detailed for a packet", denseScript(), "", {}, 1,
            "kelvo-subtitles: F: line 13, at 0:00:01.000: the text shown then is too detailed for one packet (its even "
            "rows take "},
        {"over a file that is not a stream", "", samples + "/harbour.srt", {"-o", path("notes.txt")}, 1,
            "kelvo-subtitles: " + path("notes.txt") + ": exists and is not a packet stream; --force (-y) replaces it"},
        {"over its input", "", path("in.srt"), {"-y", "-o", path("in.srt")}, 1,
            "kelvo-subtitles: " + path("in.srt") + ": is the subtitle file being read; name another stream file"},
        {"a picture too small", "", samples + "/harbour.srt", {"-p", "8x8"}, 2,
            "kelvo-subtitles: --picture needs WxH, each side from 16 to 8192, not \"8x8\""},
        {"an unknown encoding", "", samples + "/harbour.srt", {"--encoding", "NO-SUCH"}, 2,
            "kelvo-subtitles: --encoding NO-SUCH: not an encoding iconv converts"},
        {"an unknown colour", "", samples + "/harbour.srt", {"--colour", "chartreuse2"}, 2,
            "kelvo-subtitles: --colour needs #RRGGBB or a colour's name, not \"chartreuse2\""},
        {"a face with a comma", "", samples + "/harbour.srt", {"--font", "a,b"}, 2,
            "kelvo-subtitles: --font needs the name of a face, without commas, not \"a,b\""},
        {"an unknown place", "", samples + "/harbour.srt", {"--align", "middle"}, 2,
            "kelvo-subtitles: --align needs top or bottom, not \"middle\""},
        {"two files", "", samples + "/harbour.srt", {samples + "/signs.ass"}, 2,
            "kelvo-subtitles: one subtitle file at a time: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::string file = row.file;
        if (file.empty()) {
            file = path("F");
            writeText(file, row.text);
        }
        const std::vector<std::string> before = listing(directory);
        std::vector<std::string> arguments = {subtitlesTool, file};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        if (std::find(arguments.begin(), arguments.end(), "-o") == arguments.end())
            arguments.insert(arguments.end(), {"-o", path("old.kps")});
        ToolRun result = tool(arguments);
        EXPECT_EQ(result.status, row.status);
        std::string expected = row.message;
        if (const size_t at = expected.find(": F: "); at != std::string::npos)
            expected.replace(at + 2, 1, file);
        const std::vector<std::string> told = lines(result.err);
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told.back().rfind(expected, 0), 0u) << told.back();
        EXPECT_EQ(listing(directory), before);
        EXPECT_EQ(fileText(path("old.kps")), old);
        EXPECT_EQ(fileText(path("notes.txt")), "keep");
        EXPECT_EQ(fileText(path("in.srt")), captions);
        fs::remove(path("F"));
    }
}

TEST_F(KelvoSubtitles, AnInterruptedRunLeavesNothing)
{
    // Enough captions for the run to be caught part-way on one thread.
    std::string srt;
    for (int i = 0; i < 4000; ++i)
        srt += std::to_string(i + 1) + "\n" + timeText(i * 1000).replace(1, 0, "0") + " --> "
            + timeText(i * 1000 + 900).replace(1, 0, "0") + "\nCaption number " + std::to_string(i)
            + ",\nits second line\n\n";
    writeText(path("long.srt"), srt);
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const std::string errors = path("errors");
        Start how;
        how.err = errors;
        const pid_t child = start({subtitlesTool, "--progress", "-j", "1", path("long.srt"), "-o", path("s.kps")}, how);
        // Until the first progress line: the drawing has begun.
        bool started = false;
        for (int wait = 0; wait < 20000 && !started; ++wait) {
            started = fileText(errors).find("kelvo-subtitles: interval ") != std::string::npos;
            if (!started)
                usleep(1000);
        }
        ASSERT_TRUE(started);
        kill(child, signal);
        EXPECT_EQ(waitFor(child), 128 + signal);
        fs::remove(errors);
        EXPECT_EQ(listing(directory), std::vector<std::string>{"long.srt"});
    }
}

TEST_F(KelvoSubtitles, HelpDocumentsEveryOption)
{
    const ToolRun help = tool({subtitlesTool, "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"-o, --output", "-y, --force", "-f, --format", "-p, --picture", "--encoding",
             "-j, --jobs", "--progress", "-q, --quiet", "-h, --help", "--version", "--font", "--font-size", "--colour",
             "--outline-colour", "--outline", "--margin", "--align"})
        EXPECT_NE(help.out.find(std::string("  ") + option + " "), std::string::npos) << option;
    const ToolRun version = tool({subtitlesTool, "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kelvo-subtitles ", 0), 0u) << version.out;
    EXPECT_EQ(tool({subtitlesTool, "--no-such-option"}).status, 2);
}

} // namespace
} // namespace Qor::Tools
