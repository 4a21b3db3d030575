// kelvo-encode: adds subtitle packets, made from PNG images, to a
// packet-stream file (docs/stream-format.md), or starts a new stream with
// them: one image from the command line, or a list of images with their
// places and timings in JSON lines.
#include "encode/PacketWriter.h"
#include "tools/AtomicFile.h"
#include "tools/CommandLine.h"
#include "tools/JsonLine.h"
#include "tools/PacketStream.h"
#include "tools/SubtitleImage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

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
                         long STREAM is. Without it STREAM is replaced by a
                         new stream holding these packets
  -y, --force            replace STREAM even when it is not a packet stream
                         (without it such a file is left alone)
  -l, --list LIST        JSON lines, one packet each (see below)
  -f, --format FORMAT    the input format of a new stream: GPHB (the default;
                         colour 0 transparent, the others opaque) or GPHA
                         (an alpha byte for each colour); any case
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
      --prefix TEXT      the packet's 27-byte text prefix (default
                         "kelvo-encode"), padded with spaces
  -h, --help             show this help and exit
      --version          show the version and exit

With --append, --format and --picture may still be given; they must then
match the stream's. STREAM may not be one of the images or the list.

The list: each line an object with the fields kelvo-render writes to
manifest.jsonl, so that a render's manifest encodes back into its stream:
  "frame" (or "image")   the PNG, relative to the list's directory
  "timing": [A, B]       the timing words (default 0, 0)
  "left", "top" with "canvas": [W, H]
                         the place as fractions of the canvas; or instead
  "at": [X, Y]           the picture column and row
Other fields are ignored; empty lines too.

Colours: an indexed PNG keeps the order of the palette entries its pixels
use as colour numbers; any other PNG's colours are numbered in the order
first met (rows from the top, each from the left), all fully transparent
pixels counting as one colour. The first fully transparent colour then
trades numbers with colour 0; with none, colour 0 is the first colour. An
image of more than four colours (anti-aliased text, say) is reduced to four:
transparent, then fill, outline and edge by how many pixels each stands for;
what was merged is printed. In GPHB only the red, green and blue of each
colour are kept: a translucent colour becomes opaque, with a warning. An
image placed past the declared picture is warned of too.

Exit status: 0 when the stream was written, 1 when an input was refused, 2
for a bad command line. Nothing is written unless everything succeeds.
)";

struct Options {
    std::string image;
    std::string list;
    std::string output;
    bool append = false;
    bool force = false;
    bool exact = false;
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

void warn(const std::string& message)
{
    std::fprintf(stderr, "kelvo-encode: warning: %s\n", message.c_str());
}

int misuse(const std::string& message)
{
    std::fprintf(stderr, "kelvo-encode: %s (see kelvo-encode --help)\n", message.c_str());
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

// Reads the command line into `options`; answers -1 to go on, or the exit status.
int readOptions(int argc, char** argv, Options& options)
{
    CommandLine line(argc, argv);
    std::string text;
    while (line.more()) {
        if (const std::string problem = line.problem(); !problem.empty())
            return misuse(problem);
        uint64_t a = 0;
        uint64_t b = 0;
        if (line.option("help", "h")) {
            std::fputs(usage, stdout);
            return 0;
        } else if (line.option("version")) {
            std::printf("kelvo-encode %s\n", KELVO_VERSION);
            return 0;
        } else if (line.option("output", "o")) {
            if (!line.value(options.output) || options.output.empty())
                return misuse("--output needs a file name");
        } else if (line.option("append", "a")) {
            options.append = true;
        } else if (line.option("force", "y")) {
            options.force = true;
        } else if (line.option("exact")) {
            options.exact = true;
        } else if (line.option("list", "l")) {
            if (!line.value(options.list) || options.list.empty())
                return misuse("--list needs a file name");
        } else if (line.option("format", "f")) {
            if (!line.value(text))
                return misuse("--format needs GPHB or GPHA");
            if (!checkInputFormat(upper(text)).empty())
                return misuse("--format " + text + ": input format " + inQuotes(text) + " is neither GPHB nor GPHA");
            options.format = upper(text);
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
        } else if (line.option("prefix")) {
            if (!line.value(options.prefix))
                return misuse("--prefix needs a text");
            if (options.prefix.size() > 27)
                return misuse("--prefix " + inQuotes(options.prefix) + " is " + std::to_string(options.prefix.size())
                    + " bytes, more than 27");
        } else if (line.operand(text)) {
            if (!options.image.empty())
                return misuse("one image at a time: " + options.image + " and " + text + " (use --list for more)");
            options.image = text;
        } else {
            return misuse("unknown option " + line.current());
        }
    }
    if (const std::string problem = line.problem(); !problem.empty())
        return misuse(problem);
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

// One packet to make: an image and where and when it goes.
struct Entry {
    std::string image;
    std::string where; // what names the entry in a message
    uint16_t x = 0;
    uint16_t y = 0;
    std::array<uint32_t, 2> timing{};
};

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool wholeIn(double value, double maximum, uint64_t& out)
{
    if (!(value >= 0 && value <= maximum) || value != std::floor(value))
        return false;
    out = uint64_t(value);
    return true;
}

// The entries of a list, or the reason there are none.
std::string readList(const std::string& path, std::vector<Entry>& entries)
{
    std::vector<uint8_t> bytes;
    std::string error = readWholeFile(path, bytes);
    if (!error.empty())
        return error;
    const std::string base = path == "-" ? std::string() : directoryOf(path);
    const std::string name = path == "-" ? std::string("standard input") : path;
    size_t start = 0;
    for (size_t number = 1; start < bytes.size(); ++number) {
        size_t stop = start;
        while (stop < bytes.size() && bytes[stop] != '\n')
            ++stop;
        const std::string line(bytes.begin() + long(start), bytes.begin() + long(stop));
        start = stop + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        const std::string where = name + ": line " + std::to_string(number);
        JsonObject object;
        error = parseJsonLine(line, object);
        if (!error.empty())
            return where + ", " + error;
        Entry entry;
        entry.where = where;
        const auto field = [&](const char* key) -> const JsonValue* {
            const auto found = object.find(key);
            return found == object.end() ? nullptr : &found->second;
        };
        const JsonValue* image = field("image") ? field("image") : field("frame");
        if (!image || image->kind != JsonValue::Text || image->text.empty())
            return where + ": no image: \"frame\" or \"image\" must name a PNG file";
        entry.image = image->text[0] == '/' ? image->text : base + image->text;
        if (const JsonValue* timing = field("timing")) {
            uint64_t a = 0;
            uint64_t b = 0;
            if (timing->kind != JsonValue::Numbers || timing->numbers.size() != 2
                || !wholeIn(timing->numbers[0], 0xFFFFFFFF, a) || !wholeIn(timing->numbers[1], 0xFFFFFFFF, b))
                return where + ": \"timing\" must be two 32-bit words [A, B]";
            entry.timing = {uint32_t(a), uint32_t(b)};
        }
        uint64_t x = 0;
        uint64_t y = 0;
        if (const JsonValue* at = field("at")) {
            if (at->kind != JsonValue::Numbers || at->numbers.size() != 2 || !wholeIn(at->numbers[0], 0xFFFF, x)
                || !wholeIn(at->numbers[1], 0xFFFF, y))
                return where + ": \"at\" must be [X, Y], each from 0 to 65535";
        } else if (field("left") || field("top")) {
            const JsonValue* left = field("left");
            const JsonValue* top = field("top");
            const JsonValue* canvas = field("canvas");
            if (!left || !top || left->kind != JsonValue::Number || top->kind != JsonValue::Number || !canvas
                || canvas->kind != JsonValue::Numbers || canvas->numbers.size() != 2)
                return where + ": \"left\" and \"top\" need each other and \"canvas\": [W, H]";
            if (!wholeIn(std::round(left->number * canvas->numbers[0]), 0xFFFF, x)
                || !wholeIn(std::round(top->number * canvas->numbers[1]), 0xFFFF, y))
                return where + ": \"left\" and \"top\" of the canvas are not a place from 0,0 to 65535,65535";
        }
        entry.x = uint16_t(x);
        entry.y = uint16_t(y);
        entries.push_back(std::move(entry));
    }
    if (entries.empty())
        return name + ": no packets listed";
    return "";
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return a != "-" && b != "-" && stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The packet for one entry, or why there is none; prints what was merged
// and what the stream cannot show as the image asks.
std::string makePacket(const Entry& entry, const Options& options, const PacketStream& stream, PacketRecord& record)
{
    const std::string name = entry.image == "-" ? std::string("standard input") : entry.image;
    SubtitleImageResult read = readSubtitleImage(entry.image, options.exact);
    if (!read)
        return (entry.where.empty() ? "" : entry.where + ": ") + read.error;
    SubtitleImage& image = read.image;
    if (!image.reduction.empty())
        std::fprintf(stderr, "kelvo-encode: %s\n", image.reduction.c_str());
    if (uint32_t(entry.x) + image.width - 1 > 0xFFFF || uint32_t(entry.y) + image.height - 1 > 0xFFFF)
        return name + ": at " + std::to_string(entry.x) + "," + std::to_string(entry.y) + " its "
            + std::to_string(image.width) + "x" + std::to_string(image.height)
            + " pixels pass picture coordinate 65535";
    if (stream.hasPicture()
        && (uint32_t(entry.x) + image.width > stream.pictureWidth
            || uint32_t(entry.y) + image.height > stream.pictureHeight))
        warn(name + ": at " + std::to_string(entry.x) + "," + std::to_string(entry.y) + " its "
            + std::to_string(image.width) + "x" + std::to_string(image.height) + " pixels pass the declared picture "
            + std::to_string(stream.pictureWidth) + "x" + std::to_string(stream.pictureHeight));

    const bool alphaFormat = stream.inputFormat == "GPHA";
    PacketContents contents;
    contents.width = image.width;
    contents.height = image.height;
    contents.indices = std::move(image.indices);
    for (size_t i = 0; i < 4; ++i)
        contents.palette[i] = PaletteEntry{image.colours[i].red, image.colours[i].green, image.colours[i].blue};
    if (alphaFormat) {
        std::array<uint8_t, 4> alpha{};
        for (size_t i = 0; i < 4; ++i)
            alpha[i] = image.colours[i].alpha;
        contents.alpha = options.alpha.value_or(alpha);
    } else {
        std::string translucent;
        for (int i = 1; i < image.colourCount; ++i) {
            const Rgba& c = image.colours[size_t(i)];
            if (c.alpha > 0 && c.alpha < 255)
                translucent += (translucent.empty() ? "" : ", ") + std::to_string(i) + " (alpha "
                    + std::to_string(c.alpha) + ")";
        }
        if (!translucent.empty())
            warn(name + ": a GPHB stream shows colours opaque; translucent colour " + translucent
                + " becomes opaque (GPHA keeps alpha)");
    }
    contents.left = entry.x;
    contents.top = entry.y;
    contents.prefixText = options.prefix;
    WrittenPacket packet = writePacket(contents);
    if (!packet)
        return name + ": " + packet.error;
    record.timing = entry.timing;
    record.packet = std::move(packet.bytes);
    return "";
}

std::string writeToStandardOutput(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::string("standard output: cannot write: ") + std::strerror(errno);
        }
        done += size_t(n);
    }
    return "";
}

int run(const Options& options)
{
    std::vector<Entry> entries;
    if (!options.list.empty()) {
        const std::string error = readList(options.list, entries);
        if (!error.empty())
            return fail(error);
    } else {
        Entry& entry = entries.emplace_back();
        entry.image = options.image;
        entry.x = options.x;
        entry.y = options.y;
        entry.timing = options.timing;
    }
    if (options.output != "-") {
        if (sameFile(options.output, options.list))
            return fail(options.output + ": is the list being read; name another stream file");
        for (const Entry& entry : entries)
            if (sameFile(options.output, entry.image))
                return fail(options.output + ": is an image being read; name another stream file");
    }

    PacketStream stream;
    if (options.append) {
        const std::string error = readStreamHeader(options.output, stream);
        if (!error.empty())
            return fail(error);
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
        struct stat status {};
        if (options.output != "-" && !options.force && stat(options.output.c_str(), &status) == 0) {
            if (S_ISDIR(status.st_mode))
                return fail(options.output + ": is a directory");
            if (!looksLikePacketStream(options.output))
                return fail(options.output + ": exists and is not a packet stream; --force (-y) replaces it");
        }
    }
    if (options.alpha && stream.inputFormat != "GPHA")
        return misuse("--alpha applies to GPHA streams only, and " + options.output + " is GPHB");

    // A list that repeats an image at one place makes its packet once.
    std::string lastKey;
    for (const Entry& entry : entries) {
        PacketRecord record;
        const std::string key = entry.image + "\n" + std::to_string(entry.x) + "," + std::to_string(entry.y);
        if (key == lastKey) {
            record.packet = stream.records.back().packet;
            record.timing = entry.timing;
        } else if (const std::string error = makePacket(entry, options, stream, record); !error.empty()) {
            return fail(error);
        }
        lastKey = key;
        stream.records.push_back(std::move(record));
    }
    std::string error;
    if (options.append)
        error = appendPacketRecords(options.output, stream);
    else if (options.output == "-")
        error = writeToStandardOutput(serializePacketStream(stream));
    else
        error = writePacketStream(options.output, stream);
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
