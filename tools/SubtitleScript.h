// Text subtitle files before they are rendered: the bytes of an SRT file or
// an ASS/SSA script turned into UTF-8 (a byte-order mark, or an encoding the
// user names, converted through iconv), the two kinds told apart, SRT
// captions read into timed events whose tags become ASS override tags, the
// style an SRT file is shown in, and the time line cut into the intervals in
// which something is shown.
//
// Every refusal is one line that begins with the file's name and, where the
// damage is in one place, its line: "s.srt: line 7: ...". Lines are counted
// from 1 and end at "\n", "\r\n" or a lone "\r".
#ifndef KELVO_TOOLS_SUBTITLESCRIPT_H
#define KELVO_TOOLS_SUBTITLESCRIPT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Qor::Tools {

// The largest subtitle file read; a film's SRT is a few hundred kilobytes,
// an ASS script with fonts embedded a few megabytes.
constexpr size_t MaximumScriptBytes = size_t(64) << 20;
// The most text one caption or event may carry: far more than a picture
// can show, far less than would make one caption cost seconds.
constexpr size_t MaximumEventTextBytes = size_t(64) << 10;
// The latest time in milliseconds a 32-bit timing word holds.
constexpr int64_t LatestTime = 0xFFFFFFFF;

// The lines of `text`, line 1 first, without their line ends.
std::vector<std::string_view> splitLines(std::string_view text);

// True when iconv converts `encoding` to UTF-8.
bool knownEncoding(const std::string& encoding);

// Turns the bytes of a subtitle file into UTF-8 `text` without a byte-order
// mark and answers "", or answers why not, leaving `text` empty. A
// byte-order mark of UTF-8, UTF-16 or UTF-32 decides the encoding; without
// one, `encoding` (an iconv name) does, or else the bytes must be UTF-8.
// Refuses bytes that are not of their encoding and NUL characters, naming
// the line of the first bad byte.
std::string decodeScriptText(const std::vector<uint8_t>& bytes, const std::string& name, const std::string& encoding,
    std::string& text);

// Reads the file at `path` ("-": standard input) and decodes it as above.
// Refuses, before reading further, a file whose first block holds a NUL
// byte without a byte-order mark or an encoding that explains it, and a
// file longer than MaximumScriptBytes.
std::string readScriptFile(const std::string& path, const std::string& encoding, std::string& text);

enum class ScriptKind { Srt, Ass };

// Tells an ASS/SSA script (its first line "[Script Info]") from an SRT file
// (its first line a caption number or a time line); answers "" or why the
// text is neither, naming the first line that is not blank.
std::string detectScriptKind(std::string_view text, const std::string& name, ScriptKind& kind);

// One SRT caption: shown from `start` up to, not including, `end`
// (milliseconds), its text as ASS event text.
struct Caption {
    int64_t start = 0;
    int64_t end = 0;
    size_t line = 0; // of its time line
    std::string text;
};

// Reads the captions of SRT `text` and answers "", or answers why not,
// leaving `captions` empty. Captions may come in any order and overlap; the
// number line may be missing, blank lines missing or doubled. Times are
// [H:]MM:SS[,mmm] (or "." before the milliseconds), hours of any number of
// digits. Refuses a time line that cannot be read, a negative time, one past
// LatestTime and a caption of more than MaximumEventTextBytes. A caption
// that ends before it starts, or as it starts, is left out with a line in
// `warnings`; one with no text is left out silently.
std::string parseSrt(std::string_view text, const std::string& name, std::vector<Caption>& captions,
    std::vector<std::string>& warnings);

// An SRT caption's text as ASS event text: line breaks become \N, and <i>,
// <b>, <u>, <s> and <font color="..."> (with their closing tags) become
// override tags; the outermost </font> returns to the style's colour. Other
// text, override blocks in braces among it, is kept as it is.
std::string srtTextToAss(std::string_view text);

// A colour as #RRGGBB, RRGGBB, #RGB or one of the common names (white,
// black, yellow, red...), as 0xRRGGBB; false, leaving `rgb` alone, when it
// is none of them.
bool parseColour(std::string_view text, uint32_t& rgb);

// The style SRT captions are shown in; sizes in pixels of the picture.
struct CaptionStyle {
    std::string font = "DejaVu Sans";
    int size = 60;
    uint32_t colour = 0xFFFFFF;        // 0xRRGGBB
    uint32_t outlineColour = 0x000000; // 0xRRGGBB
    int outline = 3;
    int margin = 54;
    bool top = false; // top-centred rather than bottom-centred
};

// The style for a picture of `height` rows: a face of about 1/18 of it,
// white with a dark outline, bottom-centred, with a margin of 1/20 of it.
CaptionStyle defaultCaptionStyle(uint16_t height);

// The ASS script header SRT captions are rendered under: the picture as
// the script's resolution and `style` as its one style, "Default".
std::string srtScriptHeader(const CaptionStyle& style, uint16_t width, uint16_t height);

// One event on the time line: shown from `start` up to `end`, milliseconds.
struct TimedEvent {
    int64_t start = 0;
    int64_t end = 0;
    size_t line = 0; // where it is in its file
    // The picture pixels its glyphs may cover, each drawn whole at the
    // largest size, scale, shear and border its text and styles ask for:
    // what drawing it may cost, whatever shows of it.
    double glyphArea = 0;
};

// A stretch of time in which the same events are shown.
struct Interval {
    int64_t start = 0;
    int64_t end = 0;
    std::vector<size_t> events; // indices of the events shown, ascending
    // True when an event shown here was shown in the interval before, which
    // then ends where this one starts: where a renderer placed that event
    // decides where this interval's new events go.
    bool continues = false;
};

// Cuts the time line at every event's start and end and answers, in time
// order, each interval in which at least one event is shown. Events that
// end at or before their start are never shown.
std::vector<Interval> cutTimeline(const std::vector<TimedEvent>& events);

// The most glyph area one interval may ask for: 16 times the picture's, at
// most 64 Mi pixels. A film's captions ask for a hundredth of it; a size or
// border tag of absurd value asks for gigabytes.
double glyphAreaBudget(uint16_t width, uint16_t height);

// "" when the events shown in `interval` ask for no more than the budget
// of a `width` x `height` picture together; otherwise why not, naming them.
std::string checkGlyphArea(const Interval& interval, const std::vector<TimedEvent>& events, uint16_t width,
    uint16_t height, const std::string& name);

// "line 12, at 0:01:02.000" or "lines 12, 15, at ...": the lines of the
// events shown in `interval`, and its start.
std::string describeInterval(const Interval& interval, const std::vector<TimedEvent>& events);

// A time in milliseconds as H:MM:SS.mmm, for messages.
std::string timeText(int64_t milliseconds);

} // namespace Qor::Tools

#endif
