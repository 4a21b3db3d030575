// kelvo-render: runs every packet of a packet-stream file through the
// plug-in, as a host would, and writes what came out: each frame as a PNG,
// a preview of it placed on the picture, and a JSON-lines manifest.
#include "tools/AtomicFile.h"
#include "tools/CommandLine.h"
#include "tools/DecoderSession.h"
#include "tools/FramePictures.h"
#include "tools/PacketStream.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace {

using namespace Qor::Tools;
namespace fs = std::filesystem;

constexpr char usage[] = R"(Usage: kelvo-render [OPTION]... STREAM -o DIR
Runs every packet of the packet-stream file STREAM through the plug-in, the
way a host does, and writes into DIR for each frame:
  frame-NNNN.png     the frame itself, converted to RGBA
  preview-NNNN.png   the frame placed on the stream's video picture (on the
                     plug-in's reference canvas when the stream declares no
                     picture) at its four fractions, over a checkerboard
and one line per frame of manifest.jsonl: the packet number (NNNN, counted
from 1), its timing words, the frame's width and height, the reference
canvas, the four fractions and the byte order.

  -o, --output DIR       where the files go (required; made when missing);
                         files of these names already there are replaced
      --order ORDER      the byte order asked of the plug-in: RGBA (the
                         default), BGRA, ARGB or ABGR
      --plugin PATH      the plug-in library to load; by default the first
                         found of:
%s      --padding N        pixels the host's allocator adds to every frame row
                         (default 0), to show that rows are read by stride
  -q, --quiet            print nothing when all went well
  -h, --help             show this help and exit

On a terminal, streams of more than 300 packets show their progress.

Exit status: 0 when the plug-in took every packet, 1 when the stream or the
plug-in refused something (one line on standard error), 2 for a bad command
line. Nothing is left in DIR unless everything succeeds.
)";

constexpr size_t ProgressThreshold = 300;

struct Options {
    std::string stream;
    std::string output;
    std::string order = "RGBA";
    std::string plugin;
    int32_t padding = 0;
    bool quiet = false;
};

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
        uint64_t number = 0;
        if (line.option("help", "h")) {
            printUsage();
            return 0;
        } else if (line.option("output", "o")) {
            if (!line.value(options.output))
                return misuse("--output needs a directory");
        } else if (line.option("order")) {
            if (!line.value(text) || (text != "RGBA" && text != "BGRA" && text != "ARGB" && text != "ABGR"))
                return misuse("--order needs RGBA, BGRA, ARGB or ABGR");
            options.order = text;
        } else if (line.option("plugin")) {
            if (!line.value(options.plugin))
                return misuse("--plugin needs the library's path");
        } else if (line.option("padding")) {
            if (!line.value(text) || !parseUnsigned(text, 4096, number))
                return misuse("--padding needs a number of pixels from 0 to 4096");
            options.padding = int32_t(number);
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

// The files of one run, made in a hidden directory inside the output
// directory and moved into place only when the whole stream has been rendered.
class Staging {
public:
    ~Staging() { discard(); }

    std::string make(const std::string& directory)
    {
        std::error_code error;
        madeTarget = !fs::exists(directory, error);
        fs::create_directories(directory, error);
        if (error)
            return directory + ": cannot make the directory: " + error.message();
        std::string path = directory + "/.kelvo-render-XXXXXX";
        if (!mkdtemp(path.data()))
            return directory + ": cannot make a working directory inside it";
        target = directory;
        staging = path;
        return "";
    }

    std::string write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string error = writeFileAtomically(staging + "/" + name, bytes);
        if (!error.empty())
            return error;
        names.push_back(name);
        return "";
    }

    // Moves every file into the output directory, in the order written.
    std::string commit()
    {
        for (const std::string& name : names)
            if (std::rename((staging + "/" + name).c_str(), (target + "/" + name).c_str()) != 0)
                return target + "/" + name + ": cannot move into place";
        names.clear();
        madeTarget = false;
        discard();
        return "";
    }

private:
    void discard()
    {
        if (staging.empty())
            return;
        std::error_code ignored;
        fs::remove_all(staging, ignored);
        staging.clear();
        // A directory this run made goes too, when nothing else came into it.
        if (madeTarget)
            fs::remove(target, ignored);
    }

    std::string target;
    std::string staging;
    std::vector<std::string> names;
    bool madeTarget = false;
};

class Progress {
public:
    Progress(size_t total, bool shown) : total(total), shown(shown) {}
    ~Progress() { finish(); }

    void update(size_t done)
    {
        if (!shown)
            return;
        const size_t percent = done * 100 / total;
        if (percent == lastPercent)
            return;
        lastPercent = percent;
        std::fprintf(stderr, "\rkelvo-render: packet %zu of %zu (%zu%%)", done, total, percent);
        std::fflush(stderr);
    }

    void finish()
    {
        if (shown && lastPercent != size_t(-1))
            std::fputs("\r\033[K", stderr);
        shown = false;
    }

private:
    size_t total;
    bool shown;
    size_t lastPercent = size_t(-1);
};

int run(const Options& options)
{
    const StreamReadResult read = readPacketStream(options.stream);
    if (!read)
        return fail(read.error);
    const PacketStream& stream = read.stream;

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
            return fail(options.stream + ": " + error);
    }

    Staging staging;
    error = staging.make(options.output);
    if (!error.empty())
        return fail(error);

    const int digits = std::max(4, int(std::to_string(stream.records.size()).size()));
    std::string manifest;
    size_t frameCount = 0;
    PictureSize canvas = picture;
    Progress progress(stream.records.size(), !options.quiet && stream.records.size() > ProgressThreshold
        && isatty(STDERR_FILENO));
    for (size_t i = 0; i < stream.records.size(); ++i) {
        const PacketRecord& record = stream.records[i];
        const size_t packetNumber = i + 1;
        const std::string where = options.stream + ": record " + std::to_string(packetNumber) + " at byte offset "
            + std::to_string(record.offset) + ": ";
        std::vector<Frame> frames;
        error = decoder.deliverPacket(record.packet, record.timing, frames);
        if (!error.empty())
            return fail(where + error);
        PacketRectangle rectangle;
        readPacketRectangle(record.packet, rectangle);
        for (size_t repeat = 1; repeat <= frames.size(); ++repeat) {
            const Frame& frame = frames[repeat - 1];
            canvas = canvasFromFractions(rectangle, frame, canvas);
            const PngImage image = frameAsRgba(frame, options.order);
            const std::string frameName = fileName("frame", packetNumber, digits, repeat);
            const std::string previewName = fileName("preview", packetNumber, digits, repeat);
            std::vector<uint8_t> bytes;
            if (image.width > 0) {
                error = encodePng(image, bytes);
                if (error.empty())
                    error = staging.write(frameName, bytes);
                if (!error.empty())
                    return fail(where + error);
            }
            error = encodePng(composePreview(image, frame, canvas, picture), bytes);
            if (error.empty())
                error = staging.write(previewName, bytes);
            if (!error.empty())
                return fail(where + error);

            manifest += "{\"packet\":" + std::to_string(packetNumber) + ",\"timing\":["
                + std::to_string(frame.timing[0]) + "," + std::to_string(frame.timing[1])
                + "],\"width\":" + std::to_string(frame.width) + ",\"height\":" + std::to_string(frame.height)
                + ",\"canvas\":[" + std::to_string(canvas.width) + "," + std::to_string(canvas.height)
                + "],\"left\":" + number(frame.left) + ",\"top\":" + number(frame.top) + ",\"right\":"
                + number(frame.right) + ",\"bottom\":" + number(frame.bottom) + ",\"order\":\"" + options.order
                + "\",\"frame\":" + (image.width > 0 ? "\"" + frameName + "\"" : std::string("null"))
                + ",\"preview\":\"" + previewName + "\"}\n";
            ++frameCount;
        }
        progress.update(packetNumber);
    }
    progress.finish();

    error = decoder.close();
    if (!error.empty())
        return fail(session.libraryPath + ": " + error);
    error = staging.write("manifest.jsonl", std::vector<uint8_t>(manifest.begin(), manifest.end()));
    if (error.empty())
        error = staging.commit();
    if (!error.empty())
        return fail(error);
    if (!options.quiet)
        std::printf("kelvo-render: %zu packets, %zu frames in %s (%s; %s, %s)\n", stream.records.size(), frameCount,
            options.output.c_str(), options.order.c_str(), decoder.pluginName().c_str(), session.libraryPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int status = readOptions(argc, argv, options);
    if (status >= 0)
        return status;
    try {
        return run(options);
    } catch (const std::bad_alloc&) {
        return fail(options.stream + ": out of memory");
    }
}
