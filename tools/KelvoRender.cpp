// kelvo-render: runs every packet of a packet-stream file through the
// plug-in, as a host would, and writes what came out: each frame as a PNG,
// a preview of it placed on the picture, and a JSON-lines manifest. The
// plug-in runs on the main thread; the pictures are made and written by a
// pool of worker threads, one for each core, into a working folder that is
// published whole at the end.
#include "subdecode/FrameProduction.h"
#include "tools/AtomicFile.h"
#include "tools/CommandLine.h"
#include "tools/DecoderSession.h"
#include "tools/FramePictures.h"
#include "tools/InputFile.h"
#include "tools/Interruption.h"
#include "tools/Manifest.h"
#include "tools/OutputFolder.h"
#include "tools/PacketChecks.h"
#include "tools/PacketStream.h"
#include "tools/PictureWriters.h"
#include "tools/ProgressLine.h"
#include "tools/ToolMain.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <unistd.h>

namespace {

using namespace Qor;
using namespace Qor::Tools;

constexpr char usage[] = R"(Usage: kelvo-render [OPTION]... STREAM -o DIR
Runs every packet of the packet-stream file STREAM ("-": standard input)
through the plug-in, the way a host does, and writes into the folder DIR for
each frame:
  frame-NNNN.png     the frame itself, converted to RGBA
  preview-NNNN.png   the frame placed on the stream's video picture (on the
                     plug-in's reference canvas when the stream declares no
                     picture) at its four fractions, over a checkerboard
and one line per frame of manifest.jsonl: the packet number (NNNN, counted
from 1), its timing words, the frame's width and height, the reference
canvas, the four fractions, the byte order, the two file names and their
sizes in bytes (kelvo-encode --list encodes such a manifest back into a
stream).

  -o, --output DIR       the folder the files go into (required; made when
                         missing). Afterwards DIR holds this run's frames,
                         previews and manifest and no other run's; files of
                         other names are left alone
  -y, --force            replace any frame-*, preview-* and manifest.jsonl
                         in DIR; without it only those that DIR's manifest
                         shows an earlier run wrote are replaced, and any
                         other stops the run before anything is written
  -n, --no-overwrite     stop if DIR holds any frame-*, preview-* or
                         manifest.jsonl at all
      --order ORDER      the byte order asked of the plug-in: RGBA (the
                         default), BGRA, ARGB or ABGR
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

Words such as the byte order and the compression may be given in any case.

Exit status: 0 when the plug-in took every packet, 1 when the stream or the
plug-in refused something or a file could not be written (one line on
standard error), 2 for a bad command line, 128 + N when ended by signal N.
Nothing in DIR changes unless everything succeeds, also when the run is
interrupted (SIGINT, SIGTERM, SIGHUP).
)";

struct Options {
    std::string stream;
    std::string output;
    std::string order = "RGBA";
    std::string plugin;
    int32_t padding = 0;
    uint64_t frameLimit = DefaultFramePixelLimit;
    PngCompression compression{1, false};
    bool previews = true;
    unsigned jobs = 0;
    bool progress = false;
    bool quiet = false;
    bool force = false;
    bool noOverwrite = false;
};

std::string usageText()
{
    std::string places;
    for (const std::string& place : pluginSearchPath())
        places += "                           " + place + "\n";
    std::string text(sizeof usage + places.size(), '\0');
    text.resize(size_t(std::snprintf(text.data(), text.size(), usage, places.c_str())));
    return text;
}

// Reads the option `line` is at into `options`, as readCommandLine asks.
int readOption(CommandLine& line, Options& options)
{
    std::string text;
    uint64_t number = 0;
    if (line.option("output", "o")) {
        if (!line.value(options.output) || options.output.empty())
            return misuse("--output needs a directory");
        if (options.output == "-")
            return misuse("-o -: a render is a folder of pictures and a manifest, not one stream of bytes; name a"
                          " folder");
    } else if (line.option("force", "y")) {
        options.force = true;
    } else if (line.option("no-overwrite", "n")) {
        options.noOverwrite = true;
    } else if (line.option("order")) {
        const char* const needs = "--order needs RGBA, BGRA, ARGB or ABGR";
        if (!line.value(text))
            return misuse(needs);
        const int found = keywordIndex(text, {"RGBA", "BGRA", "ARGB", "ABGR"});
        if (found < 0)
            return misuse(std::string(needs) + ", not " + inQuotes(text));
        options.order = outputOrders[found].code;
    } else if (line.option("plugin")) {
        if (!line.value(options.plugin) || options.plugin.empty())
            return misuse("--plugin needs the library's path");
    } else if (line.option("padding")) {
        if (!line.value(text) || !parseUnsigned(text, 4096, number))
            return misuse("--padding needs a number of pixels from 0 to 4096, not " + inQuotes(text));
        options.padding = int32_t(number);
    } else if (line.option("max-frame-pixels")) {
        if (!line.value(text) || !parsePixelLimit(text, options.frameLimit))
            return misuse("--max-frame-pixels needs a number of pixels from 1 to 65535x65535, or WxH, not "
                + inQuotes(text));
    } else if (line.option("compression")) {
        const char* const needs = "--compression needs none, fast, default or best";
        if (!line.value(text))
            return misuse(needs);
        const PngCompression levels[] = {{0, false}, {1, false}, {}, {9, true}};
        const int found = keywordIndex(text, {"none", "fast", "default", "best"});
        if (found < 0)
            return misuse(std::string(needs) + ", not " + inQuotes(text));
        options.compression = levels[found];
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
    } else {
        return UnknownArgument;
    }
    return ArgumentTaken;
}

int readOptions(int argc, char** argv, Options& options)
{
    const int status = readCommandLine(argc, argv, usageText(), {options.stream, "stream"},
        [&](CommandLine& line) { return readOption(line, options); });
    if (status != ArgumentTaken)
        return status;
    if (options.force && options.noOverwrite)
        return misuse("-y (--force) and -n (--no-overwrite) contradict each other; give one");
    if (options.stream.empty())
        return misuse("no stream given");
    if (options.output.empty())
        return misuse("no output directory given (-o DIR)");
    return -1;
}

std::string fileName(const char* kind, size_t packet, int digits, size_t repeat)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s-%0*zu", kind, digits, packet);
    return std::string(text) + (repeat > 1 ? "-" + std::to_string(repeat) : "") + ".png";
}

int run(const Options& options)
{
    const StreamReadResult read = readPacketStream(options.stream);
    if (!read)
        return fail(read.error);
    const PacketStream& stream = read.stream;
    const std::string streamName = inputName(options.stream);

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

    OutputFolder folder;
    error = folder.open(options.output,
        options.force ? Overwrite::Anything : options.noOverwrite ? Overwrite::Nothing : Overwrite::OwnOutput);
    if (!error.empty())
        return fail(error);

    // One line per frame; the writers fill in the sizes of the pictures, so
    // the lines outlive them.
    std::deque<ManifestLine> manifest;
    PictureSettings settings;
    settings.order = findOutputOrder(options.order.c_str());
    settings.compression = options.compression;
    settings.picture = picture;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    PictureWriters writers(options.jobs ? options.jobs : cores, folder.workingDirectory(), settings);
    const int digits = std::max(4, int(std::to_string(stream.records.size()).size()));
    // The plug-in's reference canvas, chosen as it chooses it: from the
    // picture, then from each packet's rectangle and the canvas before.
    Canvas canvas{picture.width, picture.height};
    const bool terminal = isatty(STDERR_FILENO);
    ProgressLine progress("kelvo-render", "packet", stream.records.size(),
        !options.quiet && (terminal || options.progress), terminal);
    bool stopped = false;
    for (size_t i = 0; i < stream.records.size() && !stopped && !interrupted(); ++i) {
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
            canvas = chooseReferenceCanvas(canvas.width, canvas.height, rectangle.right, rectangle.bottom);
            PictureJob job;
            if (frame.width > 0 && frame.height > 0)
                job.frameName = fileName("frame", packetNumber, digits, repeat);
            if (options.previews)
                job.previewName = fileName("preview", packetNumber, digits, repeat);
            for (const std::string* name : {&job.frameName, &job.previewName})
                if (!name->empty())
                    folder.expect(*name);
            ManifestLine& line = manifest.emplace_back();
            line.packet = packetNumber;
            line.timing = frame.timing;
            line.width = frame.width;
            line.height = frame.height;
            line.canvas = {canvas.width, canvas.height};
            line.left = frame.left;
            line.top = frame.top;
            line.right = frame.right;
            line.bottom = frame.bottom;
            line.order = options.order;
            line.frame = job.frameName;
            line.preview = job.previewName;
            job.frame = std::move(frame);
            job.canvas = PictureSize{canvas.width, canvas.height};
            job.where = where;
            job.line = &line;
            job.lastOfPacket = repeat == frames.size();
            if (!writers.add(std::move(job))) {
                stopped = true; // a picture could not be written: the run ends here
                break;
            }
        }
        progress.update(writers.packetsWritten());
    }
    error = writers.finish([&] { progress.update(writers.packetsWritten()); });
    progress.update(writers.packetsWritten());
    progress.finish();
    if (interrupted())
        return 1;
    if (!error.empty())
        return fail(error);

    error = decoder.close();
    if (!error.empty())
        return fail(session.libraryPath + ": " + error);
    std::string text;
    for (const ManifestLine& line : manifest)
        text += manifestText(line);
    error = writeFileAtomically(folder.workingDirectory() + "/" + ManifestName,
        std::vector<uint8_t>(text.begin(), text.end()));
    if (!error.empty())
        return fail(error);
    folder.expect(ManifestName);
    if (interrupted())
        return 1;
    error = folder.publish();
    if (!error.empty())
        return fail(error);
    if (!options.quiet)
        std::printf("kelvo-render: %s, %s in %s (%s; %s, %s)\n", counted(stream.records.size(), "packet", "packets").c_str(),
            counted(manifest.size(), "frame", "frames").c_str(), options.output.c_str(), options.order.c_str(),
            decoder.pluginName().c_str(), session.libraryPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setToolName("kelvo-render");
    Options options;
    const int status = readOptions(argc, argv, options);
    if (status >= 0)
        return status;
    // Frames of the same size come and go all run long: their memory is kept
    // for the next rather than given back and faulted in again.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    return runTool([&] { return run(options); }, inputName(options.stream));
}
