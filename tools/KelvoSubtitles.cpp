// kelvo-subtitles: renders a text subtitle file, SRT or ASS/SSA, into a new
// packet-stream file (docs/stream-format.md). libass draws the text; the
// time line is cut at every event's start and end, and each interval in
// which something is shown becomes one packet, its picture reduced to four
// colours as kelvo-encode reduces images. The intervals are drawn on every
// core, one libass renderer to a thread, and written in order through the
// stream writer, which puts the stream in place only when all is written.
#include "encode/PacketWriter.h"
#include "tools/CommandLine.h"
#include "tools/InputFile.h"
#include "tools/Interruption.h"
#include "tools/PacketStream.h"
#include "tools/ProgressLine.h"
#include "tools/SubtitleImage.h"
#include "tools/SubtitleScript.h"
#include "tools/TextRenderer.h"
#include "tools/ToolMain.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace Qor;
using namespace Qor::Tools;

constexpr char usage[] = R"(Usage: kelvo-subtitles [OPTION]... FILE -o STREAM
Renders the text subtitle file FILE, SRT or ASS/SSA ("-": standard input),
into a new packet-stream file STREAM ("-o -": standard output). Each stretch
of time in which the same captions are shown becomes one packet, timed with
its start and duration in milliseconds.

  -o, --output STREAM    the stream file to write (required); it is replaced
                         only when it is a packet stream, unless --force
  -y, --force            replace STREAM even when it is not a packet stream
  -f, --format FORMAT    the stream's input format: GPHA (the default; keeps
                         the text's anti-aliased edges translucent) or GPHB
                         (colour 0 transparent, the others opaque)
  -p, --picture WxH      the picture the text is laid out on, and which the
                         stream declares (default 1920x1080; each side from
                         16 to 8192)
      --encoding NAME    the file's encoding when it is not UTF-8, as iconv
                         names it (WINDOWS-1252, ISO-8859-15, CP1251,
                         SHIFT_JIS...); a byte-order mark overrides it
  -j, --jobs N           threads that draw (default: one for each core)
      --progress         show progress even when standard error is not a
                         terminal (on a terminal it is shown anyway)
  -q, --quiet            print nothing but errors: no warnings, no summary
  -h, --help             show this help and exit
      --version          show the version and exit

The look of SRT captions (an ASS/SSA script has its own styles):
      --font NAME        the face, as fontconfig names it (default "DejaVu
                         Sans"); a face not found is replaced, with a warning
      --font-size N      its size in pixels (default: 1/18 of the picture
                         height)
      --colour COLOUR    the text's colour (default white)
      --outline-colour COLOUR
                         the outline's colour (default black)
      --outline N        the outline's width in pixels (default: 1/20 of the
                         font size)
      --margin N         pixels between the text and the picture's edges
                         (default: 1/20 of the picture height)
      --align top|bottom where the captions go (default bottom), centred
COLOUR is #RRGGBB, RRGGBB, #RGB or a name: white, black, red, lime, green,
blue, yellow, cyan, magenta, grey, silver, orange, purple, maroon, navy,
olive, teal. Formats, places and colour names may be given in any case.
SRT tags <i>, <b>, <u>, <s> and <font color="..."> are shown;
override blocks in braces such as {\an8} are passed to the renderer.

Animation inside an event (\fad, \move, \t, karaoke) is shown as it stands
at the middle of each interval: a packet is one still picture.

Exit status: 0 when the stream was written, 1 when the file was refused or
a caption cannot be made into a packet (one line naming the file, the line
and the problem), 2 for a bad command line, 128 + N when ended by signal N.
Nothing is written unless everything succeeds, also when the run is
interrupted (SIGINT, SIGTERM, SIGHUP).
)";

constexpr uint64_t LargestPictureSide = 8192;
constexpr uint64_t SmallestPictureSide = 16;
constexpr char PacketPrefix[] = "kelvo-subtitles";

struct Options {
    std::string input;
    std::string output;
    bool force = false;
    std::string format = "GPHA";
    uint16_t width = 1920;
    uint16_t height = 1080;
    std::string encoding;
    unsigned jobs = 0;
    bool progress = false;
    bool quiet = false;
    // The SRT style; unset ones take the picture's defaults.
    std::optional<std::string> font;
    std::optional<int> fontSize;
    std::optional<uint32_t> colour;
    std::optional<uint32_t> outlineColour;
    std::optional<int> outline;
    std::optional<int> margin;
    std::optional<bool> top;
    std::vector<std::string> styleOptions; // as given, for a warning
};

// Standard error is shared by the progress line, drawn by the main thread,
// and the warnings of every thread: a warning clears the line first.
std::mutex standardError;
ProgressLine* shownProgress = nullptr; // while the intervals are drawn
bool quiet = false;

void warnAboveProgress(const std::string& message)
{
    if (quiet)
        return;
    std::lock_guard<std::mutex> lock(standardError);
    if (shownProgress)
        shownProgress->clear();
    warn(message);
}

// Reads the value of a style option that is a number from 0 to `most`.
bool styleNumber(CommandLine& line, uint64_t most, std::optional<int>& value, std::string& text)
{
    uint64_t number = 0;
    if (!line.value(text) || !parseUnsigned(text, most, number))
        return false;
    value = int(number);
    return true;
}

// Reads the option `line` is at into `options`, as readCommandLine asks.
int readOption(CommandLine& line, Options& options)
{
    std::string text;
    uint64_t a = 0;
    uint64_t b = 0;
    uint32_t rgb = 0;
    if (line.option("output", "o")) {
        if (!line.value(options.output) || options.output.empty())
            return misuse("--output needs a file name");
    } else if (line.option("force", "y")) {
        options.force = true;
    } else if (line.option("format", "f")) {
        if (!line.value(text))
            return misuse("--format needs GPHA or GPHB");
        const int found = keywordIndex(text, {"GPHA", "GPHB"});
        if (found < 0)
            return misuse("--format " + text + ": input format " + inQuotes(text) + " is neither GPHB nor GPHA");
        options.format = found == 0 ? "GPHA" : "GPHB";
    } else if (line.option("picture", "p")) {
        if (!line.value(text) || !parsePair(text, 'x', LargestPictureSide, a, b) || a < SmallestPictureSide
            || b < SmallestPictureSide)
            return misuse("--picture needs WxH, each side from 16 to 8192, not " + inQuotes(text));
        options.width = uint16_t(a);
        options.height = uint16_t(b);
    } else if (line.option("encoding")) {
        if (!line.value(options.encoding) || options.encoding.empty())
            return misuse("--encoding needs the name of an encoding");
        if (!knownEncoding(options.encoding))
            return misuse("--encoding " + options.encoding + ": not an encoding iconv converts (iconv --list names them)");
    } else if (line.option("jobs", "j")) {
        if (!line.value(text) || !parseUnsigned(text, 256, a) || a == 0)
            return misuse("--jobs needs a number of threads from 1 to 256, not " + inQuotes(text));
        options.jobs = unsigned(a);
    } else if (line.option("progress")) {
        options.progress = true;
    } else if (line.option("quiet", "q")) {
        options.quiet = true;
    } else if (line.option("font")) {
        if (!line.value(text) || text.empty() || text.find_first_of(",\r\n") != std::string::npos)
            return misuse("--font needs the name of a face, without commas, not " + inQuotes(text));
        options.font = text;
        options.styleOptions.push_back("--font");
    } else if (line.option("font-size")) {
        if (!styleNumber(line, 2000, options.fontSize, text) || *options.fontSize == 0)
            return misuse("--font-size needs a number of pixels from 1 to 2000, not " + inQuotes(text));
        options.styleOptions.push_back("--font-size");
    } else if (line.option("colour")) {
        if (!line.value(text) || !parseColour(text, rgb))
            return misuse("--colour needs #RRGGBB or a colour's name, not " + inQuotes(text));
        options.colour = rgb;
        options.styleOptions.push_back("--colour");
    } else if (line.option("outline-colour")) {
        if (!line.value(text) || !parseColour(text, rgb))
            return misuse("--outline-colour needs #RRGGBB or a colour's name, not " + inQuotes(text));
        options.outlineColour = rgb;
        options.styleOptions.push_back("--outline-colour");
    } else if (line.option("outline")) {
        if (!styleNumber(line, 100, options.outline, text))
            return misuse("--outline needs a number of pixels from 0 to 100, not " + inQuotes(text));
        options.styleOptions.push_back("--outline");
    } else if (line.option("margin")) {
        if (!styleNumber(line, 4000, options.margin, text))
            return misuse("--margin needs a number of pixels from 0 to 4000, not " + inQuotes(text));
        options.styleOptions.push_back("--margin");
    } else if (line.option("align")) {
        const int found = line.value(text) ? keywordIndex(text, {"top", "bottom"}) : -1;
        if (found < 0)
            return misuse("--align needs top or bottom, not " + inQuotes(text));
        options.top = found == 0;
        options.styleOptions.push_back("--align");
    } else {
        return UnknownArgument;
    }
    return ArgumentTaken;
}

int readOptions(int argc, char** argv, Options& options)
{
    const int status = readCommandLine(argc, argv, usage, {options.input, "subtitle file"},
        [&](CommandLine& line) { return readOption(line, options); });
    if (status != ArgumentTaken)
        return status;
    if (options.input.empty())
        return misuse("no subtitle file given");
    if (options.output.empty())
        return misuse("no stream file given (-o STREAM)");
    return -1;
}

CaptionStyle captionStyle(const Options& options)
{
    CaptionStyle style = defaultCaptionStyle(options.height);
    if (options.fontSize) {
        style.size = *options.fontSize;
        style.outline = std::max(1, (style.size + 10) / 20);
    }
    style.font = options.font.value_or(style.font);
    style.colour = options.colour.value_or(style.colour);
    style.outlineColour = options.outlineColour.value_or(style.outlineColour);
    style.outline = options.outline.value_or(style.outline);
    style.margin = options.margin.value_or(style.margin);
    style.top = options.top.value_or(style.top);
    return style;
}

// What a GPHB stream shows otherwise than libass drew, over all packets.
struct StreamChanges {
    bool translucentMadeOpaque = false; // an anti-aliased edge, a translucent colour
    size_t colourZeroHidden = 0;        // packets with no transparent colour, whose colour 0 will not show
};

// The packet that shows `picture`: its pixels reduced to four colours by
// kelvo-encode's reduction (alpha kept for "GPHA"), placed where libass drew
// them. Answers "" or why there is none (the packet writer's reason).
std::string makeCaptionPacket(TextPicture&& picture, bool alphaFormat, std::vector<uint8_t>& packet,
    StreamChanges& changes)
{
    PngImage image;
    image.width = uint32_t(picture.box.width());
    image.height = uint32_t(picture.box.height());
    image.rgba = std::move(picture.rgba);
    SubtitleImageResult reduced = reduceToSubtitle(image, "caption");
    if (!reduced)
        return reduced.error;
    SubtitleImage& subtitle = reduced.image;
    if (!alphaFormat) {
        const OpaqueChanges opaque = opaqueChanges(subtitle);
        changes.translucentMadeOpaque = changes.translucentMadeOpaque || !opaque.madeOpaque.empty();
        changes.colourZeroHidden += opaque.colourZeroHidden;
    }
    PacketContents contents = subtitlePacket(std::move(subtitle), uint16_t(picture.box.left),
        uint16_t(picture.box.top), alphaFormat);
    contents.prefixText = PacketPrefix;
    WrittenPacket written = writePacket(contents);
    if (!written)
        return written.error;
    packet = std::move(written.bytes);
    return "";
}

// The intervals drawn by a pool of threads. Intervals come in runs, each
// starting where no event carries over from the interval before: a thread
// draws a whole run in time order, so that libass places every event as it
// would when playing the file (an event keeps the place it was given when
// it appeared), and runs are independent of each other.
class Rendering {
public:
    Rendering(const TextScript& script, const Options& options, TextMessages& messages,
        const std::vector<TimedEvent>& events, const std::vector<Interval>& intervals)
        : script(script), options(options), messages(messages), events(events), intervals(intervals),
          records(intervals.size())
    {
        for (size_t i = 0; i < intervals.size(); ++i)
            if (i == 0 || !intervals[i].continues)
                runs.push_back(i);
        runs.push_back(intervals.size());
    }

    // Draws every interval; answers "" or the first failure in time order.
    std::string run(unsigned threads, ProgressLine& progress)
    {
        threads = unsigned(std::max<size_t>(1, std::min<size_t>(threads, runs.size() - 1)));
        std::vector<std::thread> pool;
        for (unsigned i = 0; i < threads; ++i)
            pool.emplace_back([this] { work(); });
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (finished < pool.size()) {
                lock.unlock();
                showProgress(progress);
                lock.lock();
                changed.wait_for(lock, std::chrono::milliseconds(100));
            }
        }
        for (std::thread& thread : pool)
            thread.join();
        showProgress(progress);
        return error;
    }

    // The packets in time order, with their timing words.
    std::vector<PacketRecord> packets()
    {
        std::vector<PacketRecord> made;
        for (PacketRecord& record : records)
            if (!record.packet.empty())
                made.push_back(std::move(record));
        return made;
    }

    const StreamChanges& streamChanges() const { return changes; }

private:
    void showProgress(ProgressLine& progress)
    {
        std::lock_guard<std::mutex> lock(standardError);
        progress.update(done.load());
    }

    void work()
    {
        leaveInterruptionsToMainThread();
        std::string failure;
        size_t run = SIZE_MAX;
        try {
            TextRenderer renderer(options.width, options.height, messages);
            std::vector<TimedEvent> loaded;
            std::vector<std::string> ignored; // told by the first load already
            failure = renderer.load(script, loaded, ignored);
            if (!failure.empty())
                run = 0;
            while (failure.empty() && !interrupted()) {
                run = nextRun++;
                if (run + 1 >= runs.size() || run > failedRun.load())
                    break;
                failure = draw(renderer, run);
            }
        } catch (const std::bad_alloc&) {
            failure = script.name + ": out of memory";
            run = std::min(run, runs.size());
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure.empty() && run <= failedRun.load()) {
            failedRun = run;
            error = failure;
        }
        ++finished;
        changed.notify_all();
    }

    std::string draw(TextRenderer& renderer, size_t run)
    {
        const bool alphaFormat = options.format == "GPHA";
        StreamChanges found;
        for (size_t k = runs[run]; k < runs[run + 1] && !interrupted(); ++k) {
            const Interval& interval = intervals[k];
            // Drawn at its middle, where a fade in or out is furthest along.
            const int64_t time = interval.start + (interval.end - interval.start) / 2;
            TextPicture picture;
            std::string failure = renderer.render(time, picture);
            if (failure.empty() && !picture.box.empty()) {
                PacketRecord& record = records[k];
                failure = makeCaptionPacket(std::move(picture), alphaFormat, record.packet, found);
                if (!failure.empty())
                    failure = script.name + ": " + describeInterval(interval, events)
                        + ": the text shown then is too detailed for one packet (" + failure + ")";
                record.timing = {uint32_t(interval.start), uint32_t(interval.end - interval.start)};
            }
            if (!failure.empty())
                return failure;
            ++done;
        }
        std::lock_guard<std::mutex> lock(mutex);
        changes.translucentMadeOpaque = changes.translucentMadeOpaque || found.translucentMadeOpaque;
        changes.colourZeroHidden += found.colourZeroHidden;
        return "";
    }

    const TextScript& script;
    const Options& options;
    TextMessages& messages;
    const std::vector<TimedEvent>& events;
    const std::vector<Interval>& intervals;
    std::vector<size_t> runs; // the first interval of each run, then the count of intervals
    std::vector<PacketRecord> records; // one for each interval; no packet where nothing shows
    std::atomic<size_t> nextRun{0};
    std::atomic<size_t> done{0};
    std::atomic<size_t> failedRun{SIZE_MAX};
    std::mutex mutex;
    std::condition_variable changed;
    size_t finished = 0;
    std::string error;     // of the earliest run that failed, under the mutex
    StreamChanges changes; // of every run drawn, under the mutex
};

int run(const Options& options)
{
    TextScript script;
    script.name = inputName(options.input);
    std::string error = readScriptFile(options.input, options.encoding, script.text);
    if (!error.empty())
        return fail(error);
    error = detectScriptKind(script.text, script.name, script.kind);
    if (!error.empty())
        return fail(error);
    std::vector<std::string> warnings;
    if (script.kind == ScriptKind::Srt) {
        error = parseSrt(script.text, script.name, script.captions, warnings);
        if (!error.empty())
            return fail(error);
        script.text = srtScriptHeader(captionStyle(options), options.width, options.height);
    } else if (!options.styleOptions.empty()) {
        std::string given;
        for (const std::string& option : options.styleOptions)
            given += (given.empty() ? "" : ", ") + option;
        warnAboveProgress(script.name + ": " + given
            + " changes SRT captions only; an ASS/SSA script keeps its own styles");
    }
    if (sameFile(options.output, options.input))
        return fail(options.output + ": is the subtitle file being read; name another stream file");
    // Refused here, before any drawing, when STREAM is not one to replace.
    PacketStream header;
    header.inputFormat = options.format;
    header.pictureWidth = options.width;
    header.pictureHeight = options.height;
    PacketStreamWriter writer;
    if (error = writer.create(options.output, header, options.force); !error.empty())
        return fail(error);

    TextMessages messages(script.name, warnAboveProgress);
    std::vector<TimedEvent> events;
    {
        TextRenderer renderer(options.width, options.height, messages);
        error = renderer.load(script, events, warnings);
    }
    for (const std::string& warning : warnings)
        warnAboveProgress(warning);
    if (!error.empty())
        return fail(error);
    const std::vector<Interval> intervals = cutTimeline(events);
    if (intervals.empty())
        return fail(script.name + ": no captions: nothing in the file is ever shown");

    for (const Interval& interval : intervals)
        if (error = checkGlyphArea(interval, events, options.width, options.height, script.name); !error.empty())
            return fail(error);

    const bool terminal = isatty(STDERR_FILENO);
    ProgressLine progress("kelvo-subtitles", "interval", intervals.size(),
        !options.quiet && (terminal || options.progress), terminal);
    Rendering rendering(script, options, messages, events, intervals);
    {
        std::lock_guard<std::mutex> lock(standardError);
        shownProgress = &progress;
    }
    error = rendering.run(options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency()), progress);
    {
        std::lock_guard<std::mutex> lock(standardError);
        progress.finish();
        shownProgress = nullptr;
    }
    if (interrupted())
        return 1;
    if (!error.empty())
        return fail(error);

    const std::vector<PacketRecord> records = rendering.packets();
    if (records.empty())
        return fail(script.name + ": no captions: the text of every event is empty or invisible");
    const StreamChanges& changes = rendering.streamChanges();
    if (changes.translucentMadeOpaque)
        warnAboveProgress(script.name + ": a GPHB stream shows colours opaque; the text's translucent edges become "
            "opaque (GPHA keeps them)");
    if (changes.colourZeroHidden > 0)
        warnAboveProgress(script.name + ": " + counted(changes.colourZeroHidden, "packet has", "packets have")
            + " no transparent colour, and GPHB shows colour 0 as transparent: the colour of each one's top-left "
              "pixel will not show; a GPHA stream (-f GPHA) keeps it");
    for (const PacketRecord& record : records)
        if (error = writer.write(record); !error.empty())
            return fail(error);
    if (error = writer.commit(); !error.empty())
        return fail(error);
    if (!options.quiet && options.output != "-")
        std::printf("kelvo-subtitles: %s, %s in %s (%s, %ux%u)\n",
            counted(events.size(), script.kind == ScriptKind::Srt ? "caption" : "event",
                script.kind == ScriptKind::Srt ? "captions" : "events").c_str(),
            counted(records.size(), "packet", "packets").c_str(), options.output.c_str(),
            options.format.c_str(), unsigned(options.width), unsigned(options.height));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setToolName("kelvo-subtitles");
    Options options;
    const int status = readOptions(argc, argv, options);
    if (status >= 0)
        return status;
    quiet = options.quiet;
    return runTool([&] { return run(options); }, inputName(options.input));
}
