// kelvo-render: runs every packet of a packet-stream file through the
// plug-in, as a host would, and writes what came out: each frame as a PNG,
// a preview of it placed on the picture, and a JSON-lines manifest. The
// plug-in runs on the main thread; the pictures are made and written by a
// pool of worker threads, one for each core.
#include "tools/AtomicFile.h"
#include "tools/CommandLine.h"
#include "tools/DecoderSession.h"
#include "tools/FramePictures.h"
#include "tools/PacketStream.h"
#include "subdecode/PacketFormat.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

namespace {

using namespace Qor::Tools;
namespace fs = std::filesystem;

constexpr char usage[] = R"(Usage: kelvo-render [OPTION]... STREAM -o DIR
Runs every packet of the packet-stream file STREAM ("-": standard input)
through the plug-in, the way a host does, and writes into DIR for each frame:
  frame-NNNN.png     the frame itself, converted to RGBA
  preview-NNNN.png   the frame placed on the stream's video picture (on the
                     plug-in's reference canvas when the stream declares no
                     picture) at its four fractions, over a checkerboard
and one line per frame of manifest.jsonl: the packet number (NNNN, counted
from 1), its timing words, the frame's width and height, the reference
canvas, the four fractions, the byte order and the two file names
(kelvo-encode --list encodes such a manifest back into a stream).

  -o, --output DIR       where the files go (required; made when missing).
                         Afterwards DIR holds this run's frames, previews
                         and manifest and no other run's; files of other
                         names are left alone
      --order ORDER      the byte order asked of the plug-in: RGBA (the
                         default), BGRA, ARGB or ABGR, in any case
      --plugin PATH      the plug-in library to load; by default the first
                         found of:
%s      --padding N        pixels the host's allocator adds to every frame row
                         (default 0), to show that rows are read by stride
      --max-frame-pixels N
                         refuse a packet whose frame would have more than N
                         pixels (default 67108864, 8192x8192); N may be
                         given as WxH
      --compression LEVEL
                         how hard PNGs are compressed: none, fast (the
                         default), default or best
      --no-preview       write no previews (manifest "preview": null)
  -j, --jobs N           threads that make and write the pictures (default:
                         one for each core)
      --progress         show progress even when standard error is not a
                         terminal (on a terminal it is shown anyway)
  -q, --quiet            print nothing when all went well
  -h, --help             show this help and exit
      --version          show the version and exit

Exit status: 0 when the plug-in took every packet, 1 when the stream or the
plug-in refused something (one line on standard error), 2 for a bad command
line. Nothing is left in DIR unless everything succeeds, also when the run
is interrupted (SIGINT, SIGTERM, SIGHUP).
)";

constexpr uint64_t DefaultFrameLimit = uint64_t(8192) * 8192;

struct Options {
    std::string stream;
    std::string output;
    std::string order = "RGBA";
    std::string plugin;
    int32_t padding = 0;
    uint64_t frameLimit = DefaultFrameLimit;
    PngCompression compression{1, false};
    bool previews = true;
    unsigned jobs = 0;
    bool progress = false;
    bool quiet = false;
};

volatile std::sig_atomic_t interruption = 0;

void interrupted(int signal)
{
    interruption = signal;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "kelvo-render: %s\n", message.c_str());
    return 1;
}

int misuse(const std::string& message)
{
    std::fprintf(stderr, "kelvo-render: %s (see kelvo-render --help)\n", message.c_str());
    return 2;
}

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string counted(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void printUsage()
{
    std::string places;
    for (const std::string& place : pluginSearchPath())
        places += "                           " + place + "\n";
    std::printf(usage, places.c_str());
}

int readOptions(int argc, char** argv, Options& options)
{
    CommandLine line(argc, argv);
    std::string text;
    while (line.more()) {
        if (const std::string problem = line.problem(); !problem.empty())
            return misuse(problem);
        uint64_t number = 0;
        uint64_t other = 0;
        if (line.option("help", "h")) {
            printUsage();
            return 0;
        } else if (line.option("version")) {
            std::printf("kelvo-render %s\n", KELVO_VERSION);
            return 0;
        } else if (line.option("output", "o")) {
            if (!line.value(options.output) || options.output.empty())
                return misuse("--output needs a directory");
        } else if (line.option("order")) {
            if (!line.value(text))
                return misuse("--order needs RGBA, BGRA, ARGB or ABGR");
            std::string order = text;
            for (char& c : order)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            if (order != "RGBA" && order != "BGRA" && order != "ARGB" && order != "ABGR")
                return misuse("--order needs RGBA, BGRA, ARGB or ABGR, not " + inQuotes(text));
            options.order = order;
        } else if (line.option("plugin")) {
            if (!line.value(options.plugin) || options.plugin.empty())
                return misuse("--plugin needs the library's path");
        } else if (line.option("padding")) {
            if (!line.value(text) || !parseUnsigned(text, 4096, number))
                return misuse("--padding needs a number of pixels from 0 to 4096, not " + inQuotes(text));
            options.padding = int32_t(number);
        } else if (line.option("max-frame-pixels")) {
            const uint64_t most = uint64_t(65535) * 65535;
            if (!line.value(text)
                || !(parsePair(text, 'x', 65535, number, other) ? (number *= other, true)
                                                                 : parseUnsigned(text, most, number))
                || number == 0)
                return misuse("--max-frame-pixels needs a number of pixels from 1 to 65535x65535, or WxH, not "
                    + inQuotes(text));
            options.frameLimit = number;
        } else if (line.option("compression")) {
            if (!line.value(text))
                return misuse("--compression needs none, fast, default or best");
            if (text == "none")
                options.compression = PngCompression{0, false};
            else if (text == "fast")
                options.compression = PngCompression{1, false};
            else if (text == "default")
                options.compression = PngCompression{};
            else if (text == "best")
                options.compression = PngCompression{9, true};
            else
                return misuse("--compression needs none, fast, default or best, not " + inQuotes(text));
        } else if (line.option("no-preview")) {
            options.previews = false;
        } else if (line.option("jobs", "j")) {
            if (!line.value(text) || !parseUnsigned(text, 256, number) || number == 0)
                return misuse("--jobs needs a number of threads from 1 to 256, not " + inQuotes(text));
            options.jobs = unsigned(number);
        } else if (line.option("progress")) {
            options.progress = true;
        } else if (line.option("quiet", "q")) {
            options.quiet = true;
        } else if (line.operand(text)) {
            if (!options.stream.empty())
                return misuse("one stream at a time: " + options.stream + " and " + text);
            options.stream = text;
        } else {
            return misuse("unknown option " + line.current());
        }
    }
    if (const std::string problem = line.problem(); !problem.empty())
        return misuse(problem);
    if (options.stream.empty())
        return misuse("no stream given");
    if (options.output.empty())
        return misuse("no output directory given (-o DIR)");
    return -1;
}

std::string number(double value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::string fileName(const char* kind, size_t packet, int digits, size_t repeat)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s-%0*zu", kind, digits, packet);
    return std::string(text) + (repeat > 1 ? "-" + std::to_string(repeat) : "") + ".png";
}

// True for the names a render gives its pictures: frame-N.png,
// frame-N-R.png, preview-N.png and preview-N-R.png, N and R in digits.
bool isPictureName(const std::string& name)
{
    std::string rest;
    if (name.rfind("frame-", 0) == 0)
        rest = name.substr(6);
    else if (name.rfind("preview-", 0) == 0)
        rest = name.substr(8);
    else
        return false;
    if (rest.size() < 5 || rest.compare(rest.size() - 4, 4, ".png") != 0)
        return false;
    rest.resize(rest.size() - 4);
    const size_t dash = rest.find('-');
    const auto digits = [](const std::string& text) {
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dash == std::string::npos ? digits(rest) : digits(rest.substr(0, dash)) && digits(rest.substr(dash + 1));
}

// The files of one run, made in a hidden directory inside the output
// directory and moved into place only when the whole stream has been
// rendered; the pictures of an earlier run are removed then.
class Staging {
public:
    ~Staging() { discard(); }

    std::string make(const std::string& directory)
    {
        // The directories this run makes, outermost first, to be removed on failure.
        for (fs::path missing = directory; !missing.empty() && !fs::exists(missing);
             missing = missing.parent_path()) {
            made.insert(made.begin(), missing);
            if (missing == missing.parent_path())
                break;
        }
        std::error_code error;
        fs::create_directories(directory, error);
        if (error) {
            made.clear();
            return directory + ": cannot make the directory: " + error.message();
        }
        if (!fs::is_directory(directory, error))
            return directory + ": is not a directory";
        std::string path = directory + "/.kelvo-render-XXXXXX";
        if (!mkdtemp(path.data())) {
            const int reason = errno;
            discard();
            return directory + ": cannot make a working directory inside it: " + std::strerror(reason);
        }
        target = directory;
        staging = path;
        return "";
    }

    const std::string& directory() const { return staging; }

    // Names, in the order they are to be moved; written by anyone, any time before commit.
    void expect(const std::string& name) { names.push_back(name); }

    // Moves every file into the output directory, in the order expected,
    // after removing the pictures of other runs.
    std::string commit()
    {
        const std::set<std::string> ours(names.begin(), names.end());
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(target, error)) {
            const std::string name = entry.path().filename().string();
            if (isPictureName(name) && !ours.count(name)) {
                std::error_code removal;
                fs::remove(entry.path(), removal);
                if (removal)
                    return entry.path().string() + ": cannot remove this picture of an earlier run: "
                        + removal.message();
            }
        }
        if (error)
            return target + ": cannot list the directory: " + error.message();
        for (const std::string& name : names)
            if (std::rename((staging + "/" + name).c_str(), (target + "/" + name).c_str()) != 0)
                return target + "/" + name + ": cannot move into place: " + std::strerror(errno);
        names.clear();
        made.clear();
        discard();
        return "";
    }

    void discard()
    {
        std::error_code ignored;
        if (!staging.empty())
            fs::remove_all(staging, ignored);
        staging.clear();
        // The directories this run made go too, when nothing else came into them.
        for (auto at = made.rbegin(); at != made.rend(); ++at)
            fs::remove(*at, ignored);
        made.clear();
    }

private:
    std::string target;
    std::string staging;
    std::vector<std::string> names;
    std::vector<fs::path> made;
};

class Progress {
public:
    Progress(size_t total, bool terminal, bool shown) : total(total), terminal(terminal), shown(shown) {}
    ~Progress() { finish(); }

    void update(size_t done)
    {
        if (!shown)
            return;
        const auto now = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (done < total && now - lastShown < std::chrono::milliseconds(terminal ? 250 : 2000))
            return;
        lastShown = now;
        const double rate = elapsed > 0 ? double(done) / elapsed : 0;
        const double left = rate > 0 ? double(total - done) / rate : 0;
        char line[160];
        std::snprintf(line, sizeof line, "kelvo-render: packet %zu of %zu (%zu%%), %.1f packets/s, %d:%02d left",
            done, total, done * 100 / total, rate, int(left) / 60, int(left) % 60);
        std::fprintf(stderr, terminal ? "\r%s\033[K" : "%s\n", line);
        std::fflush(stderr);
        written = true;
    }

    void finish()
    {
        if (shown && terminal && written)
            std::fputs("\r\033[K", stderr);
        shown = false;
    }

private:
    size_t total;
    bool terminal;
    bool shown;
    bool written = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown{};
};

// One frame to turn into pictures.
struct Job {
    Frame frame;
    PictureSize canvas;
    std::string frameName; // empty for a frame of no pixels
    std::string previewName; // empty without previews
    std::string where;
};

// Worker threads that make each frame's pictures and write them into the
// staging directory. Jobs wait in a short queue, so memory holds a few
// frames however long the stream is.
class PictureWriters {
public:
    PictureWriters(unsigned count, const std::string& directory, const Options& options, PictureSize picture)
        : directory(directory), options(options), picture(picture), capacity(count)
    {
        for (unsigned i = 0; i < count; ++i)
            threads.emplace_back([this] { work(); });
    }
    ~PictureWriters() { finish(); }

    // Queues a job; false once a job has failed or the run was interrupted.
    bool add(Job job)
    {
        std::unique_lock<std::mutex> lock(mutex);
        roomLeft.wait(lock, [this] { return queue.size() < capacity || !error.empty(); });
        if (!error.empty() || interruption)
            return false;
        queue.push_back(std::move(job));
        jobWaiting.notify_one();
        return true;
    }

    // Waits for every job; answers the first failure, or "".
    std::string finish()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closing = true;
        }
        jobWaiting.notify_all();
        for (std::thread& thread : threads)
            thread.join();
        threads.clear();
        return error;
    }

private:
    void work()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                jobWaiting.wait(lock, [this] { return !queue.empty() || closing; });
                if (queue.empty())
                    return;
                job = std::move(queue.front());
                queue.pop_front();
                roomLeft.notify_one();
            }
            if (failed || interruption)
                continue;
            const std::string failure = make(job);
            if (!failure.empty()) {
                std::lock_guard<std::mutex> lock(mutex);
                if (error.empty())
                    error = job.where + failure;
                failed = true;
                roomLeft.notify_all();
            }
        }
    }

    std::string make(Job& job)
    {
        PngImage image;
        if (options.order == "RGBA" && job.frame.width > 0 && job.frame.height > 0) {
            // Already in the order a PNG keeps: the pixels move over as they are.
            image.width = uint32_t(job.frame.width);
            image.height = uint32_t(job.frame.height);
            image.rgba = std::move(job.frame.pixels);
        } else {
            image = frameAsRgba(job.frame, options.order);
        }
        std::vector<uint8_t> bytes;
        if (!job.frameName.empty()) {
            std::string failure = encodePng(image, bytes, options.compression);
            if (failure.empty())
                failure = writeFileAtomically(directory + "/" + job.frameName, bytes);
            if (!failure.empty())
                return failure;
        }
        if (job.previewName.empty())
            return "";
        std::string failure = encodePng(composePreview(image, job.frame, job.canvas, picture), bytes, options.compression);
        if (failure.empty())
            failure = writeFileAtomically(directory + "/" + job.previewName, bytes);
        return failure;
    }

    const std::string directory;
    const Options& options;
    const PictureSize picture;
    const size_t capacity;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable jobWaiting;
    std::condition_variable roomLeft;
    std::deque<Job> queue;
    bool closing = false;
    std::string error; // the first failure, under the mutex
    std::atomic<bool> failed{false};
};

// Why the plug-in must not be given `packet`, or "": shorter than its header
// (an empty one the plug-in would pass over in silence, a short one it
// refuses), or a frame larger than the limit.
std::string checkPacket(const std::vector<uint8_t>& packet, const std::string& format, uint64_t frameLimit)
{
    using namespace Qor::PacketFormat;
    const size_t headerLength = size_t(format == "GPHA" ? AlphaHeaderLength : HeaderLength);
    if (packet.size() < headerLength)
        return "the packet is " + counted(packet.size(), "byte", "bytes") + ", shorter than the "
            + std::to_string(headerLength) + "-byte header of a " + format + " packet";
    const uint32_t width = readLittle16(&packet[WidthOffset]);
    const uint32_t height = readLittle16(&packet[HeightOffset]);
    if (uint64_t(width) * height > frameLimit)
        return "the packet declares a frame of " + std::to_string(width) + "x" + std::to_string(height) + " pixels ("
            + std::to_string(uint64_t(width) * height) + "), more than --max-frame-pixels allows ("
            + std::to_string(frameLimit) + "); raise it to render this packet";
    return "";
}

int run(const Options& options)
{
    const StreamReadResult read = readPacketStream(options.stream);
    if (!read)
        return fail(read.error);
    const PacketStream& stream = read.stream;
    const std::string streamName = options.stream == "-" ? std::string("standard input") : options.stream;

    SessionOptions session;
    session.libraryPath = options.plugin.empty() ? findPluginLibrary() : options.plugin;
    if (session.libraryPath.empty())
        return fail(std::string("cannot find ") + PluginFileName + " (see --help); name it with --plugin PATH");
    session.inputFormat = stream.inputFormat;
    session.outputOrder = options.order;
    session.stridePadding = options.padding;

    DecoderSession decoder;
    std::string error = decoder.open(session);
    if (!error.empty())
        return fail(session.libraryPath + ": " + error);
    const PictureSize picture{stream.pictureWidth, stream.pictureHeight};
    if (stream.hasPicture()) {
        error = decoder.sendStreamInfo(picture.width, picture.height);
        if (!error.empty())
            return fail(streamName + ": " + error);
    }

    Staging staging;
    error = staging.make(options.output);
    if (!error.empty())
        return fail(error);

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    PictureWriters writers(options.jobs ? options.jobs : cores, staging.directory(), options, picture);
    const int digits = std::max(4, int(std::to_string(stream.records.size()).size()));
    std::string manifest;
    size_t frameCount = 0;
    PictureSize canvas = picture;
    const bool terminal = isatty(STDERR_FILENO);
    Progress progress(stream.records.size(), terminal, !options.quiet && (terminal || options.progress));
    for (size_t i = 0; i < stream.records.size() && !interruption; ++i) {
        const PacketRecord& record = stream.records[i];
        const size_t packetNumber = i + 1;
        const std::string where = streamName + ": record " + std::to_string(packetNumber) + " at byte offset "
            + std::to_string(record.offset) + ": ";
        error = checkPacket(record.packet, stream.inputFormat, options.frameLimit);
        if (!error.empty())
            return fail(where + error);
        std::vector<Frame> frames;
        error = decoder.deliverPacket(record.packet, record.timing, frames);
        if (!error.empty())
            return fail(where + error);
        PacketRectangle rectangle;
        readPacketRectangle(record.packet, rectangle);
        for (size_t repeat = 1; repeat <= frames.size(); ++repeat) {
            Frame& frame = frames[repeat - 1];
            canvas = canvasFromFractions(rectangle, frame, canvas);
            Job job;
            if (frame.width > 0 && frame.height > 0)
                job.frameName = fileName("frame", packetNumber, digits, repeat);
            if (options.previews)
                job.previewName = fileName("preview", packetNumber, digits, repeat);
            for (const std::string* name : {&job.frameName, &job.previewName})
                if (!name->empty())
                    staging.expect(*name);
            const auto nameOrNull = [](const std::string& name) {
                return name.empty() ? std::string("null") : "\"" + name + "\"";
            };
            manifest += "{\"packet\":" + std::to_string(packetNumber) + ",\"timing\":["
                + std::to_string(frame.timing[0]) + "," + std::to_string(frame.timing[1])
                + "],\"width\":" + std::to_string(frame.width) + ",\"height\":" + std::to_string(frame.height)
                + ",\"canvas\":[" + std::to_string(canvas.width) + "," + std::to_string(canvas.height)
                + "],\"left\":" + number(frame.left) + ",\"top\":" + number(frame.top) + ",\"right\":"
                + number(frame.right) + ",\"bottom\":" + number(frame.bottom) + ",\"order\":\"" + options.order
                + "\",\"frame\":" + nameOrNull(job.frameName) + ",\"preview\":" + nameOrNull(job.previewName) + "}\n";
            ++frameCount;
            job.frame = std::move(frame);
            job.canvas = canvas;
            job.where = where;
            if (!writers.add(std::move(job)))
                break;
        }
        progress.update(packetNumber);
    }
    error = writers.finish();
    progress.finish();
    if (interruption)
        return -1;
    if (!error.empty())
        return fail(error);

    error = decoder.close();
    if (!error.empty())
        return fail(session.libraryPath + ": " + error);
    error = writeFileAtomically(staging.directory() + "/manifest.jsonl",
        std::vector<uint8_t>(manifest.begin(), manifest.end()));
    if (!error.empty())
        return fail(error);
    staging.expect("manifest.jsonl");
    // Once the files begin to move, the run finishes.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &signals, &before);
    if (interruption)
        return -1;
    error = staging.commit();
    if (!error.empty())
        return fail(error);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!options.quiet)
        std::printf("kelvo-render: %s, %s in %s (%s; %s, %s)\n", counted(stream.records.size(), "packet", "packets").c_str(),
            counted(frameCount, "frame", "frames").c_str(), options.output.c_str(), options.order.c_str(),
            decoder.pluginName().c_str(), session.libraryPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int status = readOptions(argc, argv, options);
    if (status >= 0)
        return status;
    // Frames of the same size come and go all run long: their memory is kept
    // for the next rather than given back and faulted in again.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    struct sigaction action {};
    action.sa_handler = interrupted;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    int result = 1;
    try {
        result = run(options);
    } catch (const std::bad_alloc&) {
        result = fail(options.stream + ": out of memory");
    }
    if (interruption) {
        // Everything of this run is gone; end as the signal would have.
        const int signal = interruption;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return 128 + signal;
    }
    return result;
}
