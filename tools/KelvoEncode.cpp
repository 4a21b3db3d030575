// kelvo-encode: adds subtitle packets, made from PNG images, to a
// packet-stream file (docs/stream-format.md), or starts a new stream with
// them: one image from the command line, or a list of images with their
// places and timings in JSON lines. Each packet is written as soon as it is
// made; a new stream appears only when every packet is in it, and an
// append that fails or is interrupted is taken back.
#include "encode/PacketWriter.h"
#include "tools/CommandLine.h"
#include "tools/ImageList.h"
#include "tools/InputFile.h"
#include "tools/PacketStream.h"
#include "tools/SubtitleImage.h"
#include "tools/ToolMain.h"

#include <optional>
#include <string>

namespace {

using namespace Qor;
using namespace Qor::Tools;

constexpr char usage[] = R"(Usage: kelvo-encode [OPTION]... IMAGE.png -o STREAM
  or:  kelvo-encode [OPTION]... --list LIST.jsonl -o STREAM
Adds one subtitle packet made from IMAGE.png, or one for every line of
LIST.jsonl, to the packet-stream file STREAM. "-" as IMAGE.png or LIST.jsonl
reads standard input; "-o -" writes a new stream to standard output.

  -o, --output STREAM    the stream file to write (required)
  -a, --append           add the packets to the end of STREAM, which must
                         exist; only the new records are written, however
                         long STREAM is, after checking that its last record
                         is whole. Appends started together take turns.
                         Without it STREAM is replaced by a new stream
                         holding these packets
  -y, --force            replace STREAM even when it is not a packet stream
                         (without it such a file is left alone)
  -l, --list LIST        JSON lines, one packet each (see below)
  -f, --format FORMAT    the input format of a new stream: GPHB (the default;
                         colour 0 transparent, the others opaque) or GPHA
                         (an alpha byte for each colour)
  -p, --picture WxH      the video picture size a new stream declares, such
                         as 720x576; 0x0, the default, declares none
      --at X,Y           the picture column and row of the image's top-left
                         pixel (default 0,0)
  -t, --timing A,B       the packet's two 32-bit timing words, decimal or
                         0x-hexadecimal (default 0,0)
      --alpha A,B,C,D    GPHA only: the alpha of colours 0 to 3, from 0
                         (transparent) to 255 (opaque); by default each
                         colour keeps the alpha it has in the PNG
      --exact            refuse an image of more than four colours instead
                         of reducing it
      --max-image-pixels N
                         refuse an image of more than N pixels (default
                         67108864, 8192x8192), checked from its header
                         before any pixel is read; N may be given as WxH
      --prefix TEXT      the packet's 27-byte text prefix (default
                         "kelvo-encode"), padded with spaces
  -q, --quiet            print nothing but errors: no warnings, no notes
                         of colours reduced
  -h, --help             show this help and exit
      --version          show the version and exit

With --append, --format and --picture may still be given; they must then
match the stream's. STREAM may not be one of the images or the list.
Formats may be given in any case.

The list: each line an object with the fields kelvo-render writes to
manifest.jsonl, so that a render's manifest encodes back into its stream:
  "frame" (or "image")   the PNG, relative to the list's directory
  "timing": [A, B]       the timing words (default 0, 0)
  "left", "top" with "canvas": [W, H]
                         the place as fractions of the canvas; or instead
  "at": [X, Y]           the picture column and row
Other fields, nested or not, are ignored; empty lines too.

Colours: an indexed PNG keeps the order of the palette entries its pixels
use as colour numbers; any other PNG's colours are numbered in the order
first met (rows from the top, each from the left), all fully transparent
pixels counting as one colour. The first fully transparent colour then
trades numbers with colour 0; with none, colour 0 is the first colour. An
image of more than four colours (anti-aliased text, say) is reduced to four:
colour 0 transparent, then colours 1 to 3 by how many pixels each stands
for; what was merged is printed. GPHB shows colour 0 transparent and keeps
only the red, green and blue of the others: a picture with no transparent
colour loses its colour 0, and a translucent colour (alpha below 250)
becomes opaque, each with a warning. An image placed past the declared
picture is warned of too.

Exit status: 0 when the stream was written, 1 when an input was refused or
the stream could not be written, 2 for a bad command line, 128 + N when
ended by signal N. Nothing is written unless everything succeeds.
)";

struct Options {
    std::string image;
    std::string list;
    std::string output;
    bool append = false;
    bool force = false;
    bool exact = false;
    bool quiet = false;
    std::optional<std::string> format;
    std::optional<std::pair<uint16_t, uint16_t>> picture;
    uint16_t x = 0;
    uint16_t y = 0;
    std::array<uint32_t, 2> timing{};
    std::optional<std::array<uint8_t, 4>> alpha;
    std::string prefix = "kelvo-encode";
    uint64_t pixelLimit = DefaultPngPixelLimit;
};

// Reads the option `line` is at into `options`, as readCommandLine asks.
int readOption(CommandLine& line, Options& options)
{
    std::string text;
    uint64_t a = 0;
    uint64_t b = 0;
    if (line.option("output", "o")) {
        if (!line.value(options.output) || options.output.empty())
            return misuse("--output needs a file name");
    } else if (line.option("append", "a")) {
        options.append = true;
    } else if (line.option("force", "y")) {
        options.force = true;
    } else if (line.option("exact")) {
        options.exact = true;
    } else if (line.option("quiet", "q")) {
        options.quiet = true;
    } else if (line.option("list", "l")) {
        if (!line.value(options.list) || options.list.empty())
            return misuse("--list needs a file name");
    } else if (line.option("format", "f")) {
        if (!line.value(text))
            return misuse("--format needs GPHB or GPHA");
        const int found = keywordIndex(text, {"GPHB", "GPHA"});
        if (found < 0)
            return misuse("--format " + text + ": input format " + inQuotes(text) + " is neither GPHB nor GPHA");
        options.format = found == 0 ? "GPHB" : "GPHA";
    } else if (line.option("picture", "p")) {
        if (!line.value(text) || !parsePair(text, 'x', 0xFFFF, a, b) || (a == 0) != (b == 0))
            return misuse("--picture needs WxH, both sides from 1 to 65535, or 0x0, not " + inQuotes(text));
        options.picture = std::make_pair(uint16_t(a), uint16_t(b));
    } else if (line.option("at")) {
        if (!line.value(text) || !parsePair(text, ',', 0xFFFF, a, b))
            return misuse("--at needs X,Y, each from 0 to 65535, not " + inQuotes(text));
        options.x = uint16_t(a);
        options.y = uint16_t(b);
    } else if (line.option("timing", "t")) {
        if (!line.value(text) || !parsePair(text, ',', 0xFFFFFFFF, a, b))
            return misuse("--timing needs two 32-bit words A,B, not " + inQuotes(text));
        options.timing = {uint32_t(a), uint32_t(b)};
    } else if (line.option("alpha")) {
        std::vector<uint64_t> numbers;
        if (!line.value(text) || !parseList(text, 4, 255, numbers))
            return misuse("--alpha needs four values from 0 to 255, A,B,C,D, not " + inQuotes(text));
        options.alpha = std::array<uint8_t, 4>{
            uint8_t(numbers[0]), uint8_t(numbers[1]), uint8_t(numbers[2]), uint8_t(numbers[3])};
    } else if (line.option("max-image-pixels")) {
        if (!line.value(text) || !parsePixelLimit(text, options.pixelLimit))
            return misuse("--max-image-pixels needs a number of pixels from 1 to 65535x65535, or WxH, not "
                + inQuotes(text));
    } else if (line.option("prefix")) {
        if (!line.value(options.prefix))
            return misuse("--prefix needs a text");
        if (options.prefix.size() > 27)
            return misuse("--prefix " + inQuotes(options.prefix) + " is " + std::to_string(options.prefix.size())
                + " bytes, more than 27");
    } else {
        return UnknownArgument;
    }
    return ArgumentTaken;
}

// Reads the command line into `options`; answers -1 to go on, or the exit status.
int readOptions(int argc, char** argv, Options& options)
{
    const int status = readCommandLine(argc, argv, usage, {options.image, "image", " (use --list for more)"},
        [&](CommandLine& line) { return readOption(line, options); });
    if (status != ArgumentTaken)
        return status;
    if (options.image.empty() && options.list.empty())
        return misuse("no image given");
    if (!options.image.empty() && !options.list.empty())
        return misuse("an image or --list, not both: " + options.image + " and --list " + options.list);
    if (options.output.empty())
        return misuse("no stream file given (-o STREAM)");
    if (options.output == "-" && options.append)
        return misuse("--append needs a stream file, not standard output");
    if (options.image == "-" && options.list == "-")
        return misuse("standard input can be read once");
    return -1;
}

// The packet for one entry, or why there is none; tells what was merged and
// what the stream cannot show as the image asks, unless quiet.
std::string makePacket(const ListEntry& entry, const Options& options, const PacketStream& stream, PacketRecord& record)
{
    const std::string name = inputName(entry.image);
    const auto tell = [&](const std::string& text, bool warning) {
        if (!options.quiet)
            warning ? warn(text) : note(text);
    };
    SubtitleImageResult read = readSubtitleImage(entry.image, options.exact,
        PngLimit{options.pixelLimit, "--max-image-pixels"});
    if (!read)
        return (entry.where.empty() ? "" : entry.where + ": ") + read.error;
    SubtitleImage& image = read.image;
    if (!image.reduction.empty())
        tell(image.reduction, false);
    if (uint32_t(entry.x) + image.width - 1 > 0xFFFF || uint32_t(entry.y) + image.height - 1 > 0xFFFF)
        return name + ": at " + std::to_string(entry.x) + "," + std::to_string(entry.y) + " its "
            + std::to_string(image.width) + "x" + std::to_string(image.height)
            + " pixels pass picture coordinate 65535";
    if (stream.hasPicture()
        && (uint32_t(entry.x) + image.width > stream.pictureWidth
            || uint32_t(entry.y) + image.height > stream.pictureHeight))
        tell(name + ": at " + std::to_string(entry.x) + "," + std::to_string(entry.y) + " its "
                + std::to_string(image.width) + "x" + std::to_string(image.height) + " pixels pass the declared picture "
                + std::to_string(stream.pictureWidth) + "x" + std::to_string(stream.pictureHeight),
            true);
    for (const std::string& warning : formatWarnings(image, name, stream.inputFormat))
        tell(warning, true);

    PacketContents contents = subtitlePacket(std::move(image), entry.x, entry.y, stream.inputFormat == "GPHA");
    if (contents.alpha && options.alpha)
        contents.alpha = options.alpha;
    contents.prefixText = options.prefix;
    WrittenPacket packet = writePacket(contents);
    if (!packet)
        return name + ": " + packet.error;
    record.timing = entry.timing;
    record.packet = std::move(packet.bytes);
    return "";
}

int run(const Options& options)
{
    std::vector<ListEntry> entries;
    if (!options.list.empty()) {
        const std::string error = readImageList(options.list, entries);
        if (!error.empty())
            return fail(error);
    } else {
        ListEntry& entry = entries.emplace_back();
        entry.image = options.image;
        entry.x = options.x;
        entry.y = options.y;
        entry.timing = options.timing;
    }
    if (options.output != "-") {
        if (sameFile(options.output, options.list))
            return fail(options.output + ": is the list being read; name another stream file");
        for (const ListEntry& entry : entries)
            if (sameFile(options.output, entry.image))
                return fail(options.output + ": is an image being read; name another stream file");
    }

    PacketStreamWriter writer;
    if (options.append) {
        // From here until the last record is written, the stream is locked.
        if (const std::string error = writer.append(options.output); !error.empty())
            return fail(error);
        const PacketStream& stream = writer.header();
        if (options.format && *options.format != stream.inputFormat)
            return fail(options.output + ": the stream is " + stream.inputFormat + ", not " + *options.format);
        if (options.picture && (options.picture->first != stream.pictureWidth
                || options.picture->second != stream.pictureHeight))
            return fail(options.output + ": the stream declares the picture " + std::to_string(stream.pictureWidth)
                + "x" + std::to_string(stream.pictureHeight) + ", not " + std::to_string(options.picture->first)
                + "x" + std::to_string(options.picture->second));
    } else {
        PacketStream header;
        header.inputFormat = options.format.value_or("GPHB");
        if (options.picture) {
            header.pictureWidth = options.picture->first;
            header.pictureHeight = options.picture->second;
        }
        if (const std::string error = writer.create(options.output, header, options.force); !error.empty())
            return fail(error);
    }
    const PacketStream& stream = writer.header();
    if (options.alpha && stream.inputFormat != "GPHA")
        return misuse("--alpha applies to GPHA streams only, and " + options.output + " is GPHB");

    // A list that repeats an image at one place makes its packet once.
    std::string lastKey;
    PacketRecord record;
    for (const ListEntry& entry : entries) {
        const std::string key = entry.image + "\n" + std::to_string(entry.x) + "," + std::to_string(entry.y);
        if (key == lastKey) {
            record.timing = entry.timing;
        } else if (const std::string error = makePacket(entry, options, stream, record); !error.empty()) {
            return fail(error);
        }
        lastKey = key;
        if (const std::string error = writer.write(record); !error.empty())
            return fail(error);
    }
    if (const std::string error = writer.commit(); !error.empty())
        return fail(error);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setToolName("kelvo-encode");
    Options options;
    const int status = readOptions(argc, argv, options);
    if (status >= 0)
        return status;
    // Interrupted, the stream is as it was: a new one never made, an append taken back.
    return runTool([&] { return run(options); }, inputName(options.list.empty() ? options.image : options.list));
}
