// kelvo-encode: adds one subtitle packet, made from a PNG image, to a
// packet-stream file (docs/stream-format.md), or starts a new stream with it.
#include "encode/PacketWriter.h"
#include "tools/CommandLine.h"
#include "tools/PacketStream.h"
#include "tools/SubtitleImage.h"

#include <cstdio>
#include <new>
#include <optional>
#include <string>

namespace {

using namespace Qor;
using namespace Qor::Tools;

constexpr char usage[] = R"(Usage: kelvo-encode [OPTION]... IMAGE.png -o STREAM
Adds one subtitle packet made from IMAGE.png to the packet-stream file STREAM.

  -o, --output STREAM    the stream file to write (required)
  -a, --append           add the packet to the end of STREAM, which must
                         exist; without it STREAM is replaced by a new stream
                         holding this one packet
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
      --prefix TEXT      the packet's 27-byte text prefix (default
                         "kelvo-encode"), padded with spaces
  -h, --help             show this help and exit

With --append, --format and --picture may still be given; they must then
match the stream's.

Colours: an indexed PNG may have at most four palette entries and keeps
their order as colour numbers; any other PNG may use at most four distinct
colours, numbered in the order first met (rows from the top, each from the
left), all fully transparent pixels counting as one colour. The first fully
transparent colour then trades numbers with colour 0; with none, colour 0
is palette entry 0 or the colour of the top-left pixel. In GPHB only the
red, green and blue of each colour are kept.

Exit status: 0 when the stream was written, 1 when an input was refused, 2
for a bad command line. Nothing is written unless everything succeeds.
)";

struct Options {
    std::string image;
    std::string output;
    bool append = false;
    std::optional<std::string> format;
    std::optional<std::pair<uint16_t, uint16_t>> picture;
    uint16_t x = 0;
    uint16_t y = 0;
    std::array<uint32_t, 2> timing{};
    std::optional<std::array<uint8_t, 4>> alpha;
    std::string prefix = "kelvo-encode";
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "kelvo-encode: %s\n", message.c_str());
    return 1;
}

int misuse(const std::string& message)
{
    std::fprintf(stderr, "kelvo-encode: %s (see kelvo-encode --help)\n", message.c_str());
    return 2;
}

// Reads the command line into `options`; answers -1 to go on, or the exit status.
int readOptions(int argc, char** argv, Options& options)
{
    CommandLine line(argc, argv);
    std::string text;
    while (line.more()) {
        uint64_t a = 0;
        uint64_t b = 0;
        if (line.option("help", "h")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (line.option("output", "o")) {
            if (!line.value(options.output))
                return misuse("--output needs a file name");
        } else if (line.option("append", "a")) {
            options.append = true;
        } else if (line.option("format", "f")) {
            if (!line.value(text))
                return misuse("--format needs GPHB or GPHA");
            if (!checkInputFormat(text).empty())
                return misuse("--format " + text + ": " + checkInputFormat(text));
            options.format = text;
        } else if (line.option("picture", "p")) {
            if (!line.value(text) || !parsePair(text, 'x', 0xFFFF, a, b) || (a == 0) != (b == 0))
                return misuse("--picture needs WxH, both sides from 1 to 65535, or 0x0");
            options.picture = std::make_pair(uint16_t(a), uint16_t(b));
        } else if (line.option("at")) {
            if (!line.value(text) || !parsePair(text, ',', 0xFFFF, a, b))
                return misuse("--at needs X,Y, each from 0 to 65535");
            options.x = uint16_t(a);
            options.y = uint16_t(b);
        } else if (line.option("timing", "t")) {
            if (!line.value(text) || !parsePair(text, ',', 0xFFFFFFFF, a, b))
                return misuse("--timing needs two 32-bit words A,B");
            options.timing = {uint32_t(a), uint32_t(b)};
        } else if (line.option("alpha")) {
            std::vector<uint64_t> numbers;
            if (!line.value(text) || !parseList(text, 4, 255, numbers))
                return misuse("--alpha needs four values from 0 to 255, A,B,C,D");
            options.alpha = std::array<uint8_t, 4>{
                uint8_t(numbers[0]), uint8_t(numbers[1]), uint8_t(numbers[2]), uint8_t(numbers[3])};
        } else if (line.option("prefix")) {
            if (!line.value(options.prefix))
                return misuse("--prefix needs a text");
            if (options.prefix.size() > 27)
                return misuse("--prefix is " + std::to_string(options.prefix.size()) + " bytes, more than 27");
        } else if (line.operand(text)) {
            if (!options.image.empty())
                return misuse("one image at a time: " + options.image + " and " + text);
            options.image = text;
        } else {
            return misuse("unknown option " + line.current());
        }
    }
    if (options.image.empty())
        return misuse("no image given");
    if (options.output.empty())
        return misuse("no stream file given (-o STREAM)");
    return -1;
}

int run(const Options& options)
{
    PacketStream stream;
    if (options.append) {
        StreamReadResult read = readPacketStream(options.output);
        if (!read)
            return fail(read.error);
        stream = std::move(read.stream);
        if (options.format && *options.format != stream.inputFormat)
            return fail(options.output + ": the stream is " + stream.inputFormat + ", not " + *options.format);
        if (options.picture && (options.picture->first != stream.pictureWidth
                || options.picture->second != stream.pictureHeight))
            return fail(options.output + ": the stream declares the picture " + std::to_string(stream.pictureWidth)
                + "x" + std::to_string(stream.pictureHeight) + ", not " + std::to_string(options.picture->first)
                + "x" + std::to_string(options.picture->second));
    } else {
        stream.inputFormat = options.format.value_or("GPHB");
        if (options.picture) {
            stream.pictureWidth = options.picture->first;
            stream.pictureHeight = options.picture->second;
        }
    }
    const bool alphaFormat = stream.inputFormat == "GPHA";
    if (options.alpha && !alphaFormat)
        return misuse("--alpha applies to GPHA streams only, and " + options.output + " is GPHB");

    const SubtitleImageResult read = readSubtitleImage(options.image);
    if (!read)
        return fail(read.error);
    const SubtitleImage& image = read.image;
    if (uint32_t(options.x) + image.width - 1 > 0xFFFF || uint32_t(options.y) + image.height - 1 > 0xFFFF)
        return fail(options.image + ": at " + std::to_string(options.x) + "," + std::to_string(options.y) + " its "
            + std::to_string(image.width) + "x" + std::to_string(image.height)
            + " pixels pass picture coordinate 65535");

    PacketContents contents;
    contents.width = image.width;
    contents.height = image.height;
    contents.indices = image.indices;
    for (size_t i = 0; i < 4; ++i)
        contents.palette[i] = PaletteEntry{image.colours[i].red, image.colours[i].green, image.colours[i].blue};
    if (alphaFormat) {
        std::array<uint8_t, 4> alpha{};
        for (size_t i = 0; i < 4; ++i)
            alpha[i] = image.colours[i].alpha;
        contents.alpha = options.alpha.value_or(alpha);
    }
    contents.left = options.x;
    contents.top = options.y;
    contents.prefixText = options.prefix;
    const WrittenPacket packet = writePacket(contents);
    if (!packet)
        return fail(options.image + ": " + packet.error);

    PacketRecord& record = stream.records.emplace_back();
    record.timing = options.timing;
    record.packet = packet.bytes;
    const std::string error = writePacketStream(options.output, stream);
    if (!error.empty())
        return fail(error);
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
        return fail(options.image + ": out of memory");
    }
}
