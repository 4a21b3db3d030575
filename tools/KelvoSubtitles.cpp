// kelvo-subtitles: renders a text subtitle file, SRT or ASS/SSA, into a new
// packet-stream file (docs/stream-format.md). libass draws the text; the
// time line is cut at every event's start and end, and each interval in
// which something is shown becomes one packet, its picture reduced to four
// colours as kelvo-encode reduces images. The intervals are drawn on every
// core, one libass renderer to a thread, and written in order.
#include "encode/PacketWriter.h"
#include "tools/CommandLine.h"
#include "tools/PacketStream.h"
#include "tools/SubtitleImage.h"
#include "tools/SubtitleScript.h"
#include "tools/TextRenderer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

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
                         (colours opaque); any case
  -p, --picture WxH      the picture the text is laid out on, and which the
                         stream declares (default 1920x1080; each side from
                         16 to 8192)
      --encoding NAME    the file's encoding when it is not UTF-8, as iconv
                         names it (WINDOWS-1252, ISO-8859-15, CP1251,
                         SHIFT_JIS...); a byte-order mark overrides it
  -j, --jobs N           threads that draw (default: one for each core)
      --progress         show progress even when standard error is not a
                         terminal (on a terminal it is shown anyway)
  -q, --quiet            print nothing but warnings and errors
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
olive, teal. SRT tags <i>, <b>, <u>, <s> and <font color="..."> are shown;
override blocks in braces such as {\an8} are passed to the renderer.

Animation inside an event (\fad, \move, \t, karaoke) is shown as it stands
at the middle of each interval: a packet is one still picture.

Exit status: 0 when the stream was written, 1 when the file was refused or
a caption cannot be made into a packet (one line naming the file, the line
and the problem), 2 for a bad command line. Nothing is written unless
everything succeeds, also when the run is interrupted.
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

volatile std::sig_atomic_t interruption = 0;

void interrupted(int signal)
{
    interruption = signal;
}

// Standard error is shared by the progress line and the warnings of every thread.
std::mutex errorOutput;
bool progressShown = false;

void clearProgress()
{
    if (progressShown) {
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

int fail(const std::string& message)
{
    std::lock_guard<std::mutex> lock(errorOutput);
    clearProgress();
    std::fprintf(stderr, "kelvo-subtitles: %s\n", message.c_str());
    return 1;
}

void warn(const std::string& message)
{
    std::lock_guard<std::mutex> lock(errorOutput);
    clearProgress();
    std::fprintf(stderr, "kelvo-subtitles: warning: %s\n", message.c_str());
}

int misuse(const std::string& message)
{
    std::fprintf(stderr, "kelvo-subtitles: %s (see kelvo-subtitles --help)\n", message.c_str());
    return 2;
}

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string counted(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
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

int readOptions(int argc, char** argv, Options& options)
{
    CommandLine line(argc, argv);
    std::string text;
    while (line.more()) {
        if (const std::string problem = line.problem(); !problem.empty())
            return misuse(problem);
        uint64_t a = 0;
        uint64_t b = 0;
        uint32_t rgb = 0;
        const std::string given = line.current();
        if (line.option("help", "h")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (line.option("version")) {
            std::printf("kelvo-subtitles %s\n", KELVO_VERSION);
            return 0;
        } else if (line.option("output", "o")) {
            if (!line.value(options.output) || options.output.empty())
                return misuse("--output needs a file name");
        } else if (line.option("force", "y")) {
            options.force = true;
        } else if (line.option("format", "f")) {
            if (!line.value(text))
                return misuse("--format needs GPHA or GPHB");
            if (!checkInputFormat(upper(text)).empty())
                return misuse("--format " + text + ": input format " + inQuotes(text) + " is neither GPHB nor GPHA");
            options.format = upper(text);
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
            if (!line.value(text) || (text != "top" && text != "bottom"))
                return misuse("--align needs top or bottom, not " + inQuotes(text));
            options.top = text == "top";
            options.styleOptions.push_back("--align");
        } else if (line.operand(text)) {
            if (!options.input.empty())
                return misuse("one subtitle file at a time: " + options.input + " and " + text);
            options.input = text;
        } else {
            return misuse("unknown option " + given);
        }
    }
    if (const std::string problem = line.problem(); !problem.empty())
        return misuse(problem);
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

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return a != "-" && b != "-" && stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Why STREAM must not be written, or "".
std::string checkOutput(const Options& options)
{
    if (options.output == "-")
        return "";
    if (sameFile(options.output, options.input))
        return options.output + ": is the subtitle file being read; name another stream file";
    struct stat status {};
    if (stat(options.output.c_str(), &status) != 0)
        return "";
    if (S_ISDIR(status.st_mode))
        return options.output + ": is a directory";
    if (!options.force && !looksLikePacketStream(options.output))
        return options.output + ": exists and is not a packet stream; --force (-y) replaces it";
    return "";
}

// The packet that shows `picture`: its pixels reduced to four colours by
// kelvo-encode's reduction (alpha kept for "GPHA"), placed where libass drew
// them. Answers "" or why there is none (the packet writer's reason).
std::string makeCaptionPacket(TextPicture&& picture, bool alphaFormat, std::vector<uint8_t>& packet, bool& madeOpaque)
{
    PngImage image;
    image.width = uint32_t(picture.box.width());
    image.height = uint32_t(picture.box.height());
    image.rgba = std::move(picture.rgba);
    SubtitleImageResult reduced = reduceToSubtitle(image, "caption");
    if (!reduced)
        return reduced.error;
    SubtitleImage& subtitle = reduced.image;
    PacketContents contents;
    contents.width = subtitle.width;
    contents.height = subtitle.height;
    contents.indices = std::move(subtitle.indices);
    std::array<uint8_t, 4> alpha{};
    for (size_t i = 0; i < 4; ++i) {
        const Rgba& c = subtitle.colours[i];
        contents.palette[i] = PaletteEntry{c.red, c.green, c.blue};
        alpha[i] = c.alpha;
        madeOpaque = madeOpaque || (int(i) < subtitle.colourCount && c.alpha > 0 && c.alpha < 255);
    }
    if (alphaFormat)
        contents.alpha = alpha;
    contents.left = uint16_t(picture.box.left);
    contents.top = uint16_t(picture.box.top);
    contents.prefixText = PacketPrefix;
    WrittenPacket written = writePacket(contents);
    if (!written)
        return written.error;
    packet = std::move(written.bytes);
    return "";
}

// Writes the stream into STREAM through a temporary file, or to standard
// output; once writing has begun, an interruption waits for it to end.
std::string writeStream(const std::string& output, const PacketStream& stream)
{
    if (output != "-") {
        sigset_t signals;
        sigemptyset(&signals);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&signals, signal);
        sigset_t before;
        pthread_sigmask(SIG_BLOCK, &signals, &before);
        std::string error = interruption ? std::string() : writePacketStream(output, stream);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return error;
    }
    const std::vector<uint8_t> bytes = serializePacketStream(stream);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::string("standard output: cannot write: ") + std::strerror(errno);
        done += size_t(n);
    }
    return "";
}

class Progress {
public:
    Progress(size_t total, bool terminal, bool shown) : total(total), terminal(terminal), shown(shown && total > 0) {}
    ~Progress() { finish(); }

    void update(size_t done)
    {
        if (!shown)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total && now - lastShown < std::chrono::milliseconds(terminal ? 250 : 2000))
            return;
        lastShown = now;
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const double rate = elapsed > 0 ? double(done) / elapsed : 0;
        const double left = rate > 0 ? double(total - done) / rate : 0;
        std::lock_guard<std::mutex> lock(errorOutput);
        std::fprintf(stderr, terminal ? "\rkelvo-subtitles: interval %zu of %zu (%zu%%), %.1f intervals/s, %d:%02d left\033[K"
                                      : "kelvo-subtitles: interval %zu of %zu (%zu%%), %.1f intervals/s, %d:%02d left\n",
            done, total, done * 100 / total, rate, int(left) / 60, int(left) % 60);
        std::fflush(stderr);
        progressShown = terminal;
    }

    void finish()
    {
        std::lock_guard<std::mutex> lock(errorOutput);
        clearProgress();
        shown = false;
    }

private:
    size_t total;
    bool terminal;
    bool shown;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown{};
};

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
    std::string run(unsigned threads, Progress& progress)
    {
        threads = unsigned(std::max<size_t>(1, std::min<size_t>(threads, runs.size() - 1)));
        std::vector<std::thread> pool;
        for (unsigned i = 0; i < threads; ++i)
            pool.emplace_back([this] { work(); });
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (finished < pool.size()) {
                lock.unlock();
                progress.update(done.load());
                lock.lock();
                changed.wait_for(lock, std::chrono::milliseconds(100));
            }
        }
        for (std::thread& thread : pool)
            thread.join();
        progress.update(done.load());
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

    bool madeOpaque() const { return translucent; }

private:
    void work()
    {
        std::string failure;
        size_t run = SIZE_MAX;
        try {
            TextRenderer renderer(options.width, options.height, messages);
            std::vector<TimedEvent> loaded;
            std::vector<std::string> ignored; // told by the first load already
            failure = renderer.load(script, loaded, ignored);
            if (!failure.empty())
                run = 0;
            while (failure.empty() && !interruption) {
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
        bool opaque = false;
        for (size_t k = runs[run]; k < runs[run + 1] && !interruption; ++k) {
            const Interval& interval = intervals[k];
            // Drawn at its middle, where a fade in or out is furthest along.
            const int64_t time = interval.start + (interval.end - interval.start) / 2;
            TextPicture picture;
            std::string failure = renderer.render(time, picture);
            if (failure.empty() && !picture.box.empty()) {
                PacketRecord& record = records[k];
                failure = makeCaptionPacket(std::move(picture), alphaFormat, record.packet, opaque);
                if (!failure.empty())
                    failure = script.name + ": " + describeInterval(interval, events)
                        + ": the text shown then is too detailed for one packet (" + failure + ")";
                record.timing = {uint32_t(interval.start), uint32_t(interval.end - interval.start)};
            }
            if (!failure.empty())
                return failure;
            ++done;
        }
        if (opaque)
            translucent = true;
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
    std::atomic<bool> translucent{false};
    std::mutex mutex;
    std::condition_variable changed;
    size_t finished = 0;
    std::string error; // of the earliest run that failed, under the mutex
};

int run(const Options& options)
{
    TextScript script;
    script.name = options.input == "-" ? std::string("standard input") : options.input;
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
        warn(script.name + ": " + given + " changes SRT captions only; an ASS/SSA script keeps its own styles");
    }
    error = checkOutput(options);
    if (!error.empty())
        return fail(error);

    TextMessages messages(script.name, warn);
    std::vector<TimedEvent> events;
    {
        TextRenderer renderer(options.width, options.height, messages);
        error = renderer.load(script, events, warnings);
    }
    for (const std::string& warning : warnings)
        warn(warning);
    if (!error.empty())
        return fail(error);
    const std::vector<Interval> intervals = cutTimeline(events);
    if (intervals.empty())
        return fail(script.name + ": no captions: nothing in the file is ever shown");

    for (const Interval& interval : intervals)
        if (error = checkGlyphArea(interval, events, options.width, options.height, script.name); !error.empty())
            return fail(error);

    const bool terminal = isatty(STDERR_FILENO);
    Progress progress(intervals.size(), terminal, !options.quiet && (terminal || options.progress));
    Rendering rendering(script, options, messages, events, intervals);
    error = rendering.run(options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency()), progress);
    progress.finish();
    if (interruption)
        return -1;
    if (!error.empty())
        return fail(error);

    PacketStream stream;
    stream.inputFormat = options.format;
    stream.pictureWidth = options.width;
    stream.pictureHeight = options.height;
    stream.records = rendering.packets();
    if (stream.records.empty())
        return fail(script.name + ": no captions: the text of every event is empty or invisible");
    if (rendering.madeOpaque() && options.format == "GPHB")
        warn(script.name + ": a GPHB stream shows colours opaque; the text's translucent edges become opaque "
            "(GPHA keeps them)");
    error = writeStream(options.output, stream);
    if (!error.empty())
        return fail(error);
    if (!options.quiet && options.output != "-")
        std::printf("kelvo-subtitles: %s, %s in %s (%s, %ux%u)\n",
            counted(events.size(), script.kind == ScriptKind::Srt ? "caption" : "event",
                script.kind == ScriptKind::Srt ? "captions" : "events").c_str(),
            counted(stream.records.size(), "packet", "packets").c_str(), options.output.c_str(),
            options.format.c_str(), unsigned(options.width), unsigned(options.height));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int status = readOptions(argc, argv, options);
    if (status >= 0)
        return status;
    struct sigaction action {};
    action.sa_handler = interrupted;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    int result = 1;
    try {
        result = run(options);
    } catch (const std::bad_alloc&) {
        result = fail(options.input + ": out of memory");
    }
    if (interruption) {
        // Nothing of this run is left; end as the signal would have.
        const int signal = interruption;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return 128 + signal;
    }
    return result;
}
