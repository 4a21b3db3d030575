// Writes the seed corpus of the fuzz targets: packets made by the encoder
// from fixed images, several sizes, both input formats and every code form,
// each under settings that lead the session down a different road (see
// FuzzCases.h). The output is the same on every run; the committed corpus in
// fuzz/corpus is what `write_fuzz_seeds fuzz/corpus` writes.
#include "encode/PacketWriter.h"
#include "fuzz/FuzzCases.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using namespace Qor;
using Fuzzing::DecoderCase;
using Fuzzing::SessionCase;

namespace fs = std::filesystem;

// A small generator whose output is fixed by the standard, so that the
// images, and with them the seeds, are the same everywhere.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state(seed) {}
    uint32_t next(uint32_t below)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % below;
    }

private:
    uint32_t state;
};

// Runs of one colour, mostly short, some long enough to cross rows.
std::vector<uint8_t> runImage(uint16_t width, uint16_t height, uint32_t seed)
{
    Lcg random(seed);
    const size_t pixels = size_t(width) * height;
    std::vector<uint8_t> image;
    while (image.size() < pixels) {
        const uint32_t longest = random.next(10) < 7 ? 4 : 80;
        const size_t run = std::min<size_t>(1 + random.next(longest), pixels - image.size());
        image.insert(image.end(), run, uint8_t(random.next(4)));
    }
    return image;
}

struct PacketSeed {
    const char* name;
    uint16_t width;
    uint16_t height;
    bool alphaPacket;
    RunLengthOptions codes;
    SessionCase session;
    size_t cutTo = SIZE_MAX; // keep only this many bytes of the packet
};

std::vector<uint8_t> packet(const PacketSeed& seed, uint32_t imageSeed)
{
    PacketContents contents;
    contents.width = seed.width;
    contents.height = seed.height;
    contents.indices = runImage(seed.width, seed.height, imageSeed);
    contents.palette = {PaletteEntry{0x10, 0x20, 0x30}, PaletteEntry{0xF0, 0xF0, 0xF0},
        PaletteEntry{0x11, 0x22, 0x33}, PaletteEntry{0xC0, 0x40, 0x00}};
    if (seed.alphaPacket)
        contents.alpha = std::array<uint8_t, 4>{0x00, 0xFF, 0x80, 0x44};
    contents.left = 40;
    contents.top = 400;
    contents.codes = seed.codes;
    const WrittenPacket written = writePacket(contents);
    if (!written) {
        std::fprintf(stderr, "write_fuzz_seeds: %s: %s\n", seed.name, written.error.c_str());
        std::exit(1);
    }
    std::vector<uint8_t> bytes = written.bytes;
    if (bytes.size() > seed.cutTo)
        bytes.resize(seed.cutTo);
    return bytes;
}

bool writeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "write_fuzz_seeds: %s: cannot be written\n", path.string().c_str());
        return false;
    }
    return true;
}

template <typename Settings>
std::vector<uint8_t> withSettings(const Settings& settings, const std::vector<uint8_t>& rest)
{
    const auto head = settings.bytes();
    std::vector<uint8_t> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

// A session over both ports in `order` (0 "RGBA" to 3 "ABGR"), the input
// port in the packet's own format, every frame taken; `adjust` then sets
// what the seed is for.
template <typename Adjust>
SessionCase session(bool alpha, uint8_t order, Adjust adjust)
{
    SessionCase c;
    c.alphaInput = alpha;
    c.order = order;
    c.answers = 15;
    c.streamInfoAnswer = true;
    adjust(c);
    return c;
}

std::vector<PacketSeed> packetSeeds()
{
    RunLengthOptions longest;
    longest.fourNibbleCodes = true;
    longest.endOfRow = EndOfRowCode::Never;
    longest.passRowEnd = true;
    RunLengthOptions rowEnds;
    rowEnds.endOfRow = EndOfRowCode::Always;
    const auto plain = [](SessionCase&) {};
    const auto display = [](int16_t width, int16_t height) {
        return [=](SessionCase& c) {
            c.display = 1;
            c.displayWidth = width;
            c.displayHeight = height;
        };
    };

    return {
        {"gphb-rgba-1x1", 1, 1, false, {}, session(false, 0, plain)},
        {"gphb-bgra-4x3-display", 4, 3, false, {}, session(false, 1, display(720, 576))},
        {"gpha-argb-4x3", 4, 3, true, {}, session(true, 2, plain)},
        {"gphb-abgr-16x8-padded", 16, 8, false, {}, session(false, 3, [&](SessionCase& c) {
            display(1920, 1080)(c);
            c.stridePadding = 3;
        })},
        {"gpha-rgba-33x17-refused-then-taken", 33, 17, true, {}, session(true, 0, [](SessionCase& c) {
            c.deliveries = 2;
            c.answers = 2;
        })},
        {"gphb-bgra-64x32-longest-codes", 64, 32, false, longest, session(false, 1, display(640, 480))},
        {"gpha-abgr-200x10-row-ends-restart", 200, 10, true, rowEnds, session(true, 3, [](SessionCase& c) {
            c.deliveries = 3;
            c.answers = 5;
            c.restartBetween = true;
        })},
        {"gphb-rgba-0x0", 0, 0, false, {}, session(false, 0, plain)},
        {"gpha-bgra-320x40", 320, 40, true, {}, session(true, 1, display(720, 480))},
        {"gphb-argb-7x5-narrow-stride", 7, 5, false, {}, session(false, 2, [](SessionCase& c) {
            c.narrowStride = true;
        })},
        {"gphb-rgba-12x12-allocator-refuses", 12, 12, false, {}, session(false, 0, [](SessionCase& c) {
            c.allocatorRefuses = true;
        })},
        {"gpha-rgba-9x9-frames-without-payload", 9, 9, true, {}, session(true, 0, [](SessionCase& c) {
            c.framesWithoutPayload = true;
        })},
        {"gphb-argb-25x4-first-without-payload", 25, 4, false, {}, session(false, 2, [](SessionCase& c) {
            c.deliveries = 2;
            c.firstWithoutPayload = true;
            c.allocatorAfterSink = true;
            c.display = 2;
        })},
        {"gphb-rgba-10x10-ports-changed", 10, 10, false, {}, session(false, 0, [](SessionCase& c) {
            c.deliveries = 3;
            c.reopenInputBetween = true;
            c.closeOutputBeforeLast = true;
        })},
        {"gpha-packet-read-as-gphb", 24, 6, true, {}, session(false, 0, plain)},
        {"gphb-header-only", 8, 8, false, {}, session(false, 0, plain), 53},
        {"gpha-cut-in-header", 8, 8, true, {}, session(true, 1, plain), 40},
        {"gphb-cut-in-data", 30, 20, false, {}, session(false, 2, plain), 70},
        {"gphb-stop-close-stream-info-before-sink", 5, 5, false, {}, session(false, 3, [](SessionCase& c) {
            c.display = 3;
            c.displayWidth = 300;
            c.displayHeight = 200;
            c.stopAtEnd = true;
            c.closePortsAtEnd = true;
        })},
        {"gphb-not-ready", 6, 2, false, {}, session(false, 0, [](SessionCase& c) {
            c.noSink = true;
            c.noAllocator = true;
        })},
    };
}

struct DecoderSeed {
    const char* name;
    DecoderCase call;
    std::vector<uint8_t> data;
};

DecoderCase call(uint16_t width, uint16_t height, uint16_t offset, uint8_t image = 0, uint8_t amount = 0)
{
    DecoderCase c;
    c.width = width;
    c.height = height;
    c.secondFieldOffset = offset;
    c.image = image;
    c.amount = amount;
    return c;
}

std::vector<DecoderSeed> decoderSeeds()
{
    std::vector<DecoderSeed> seeds = {
        // Made by hand: the first field's code runs on into the second field's byte.
        {"8x2-code-crosses-fields", call(8, 2, 1), {0x01, 0x23}},
        // Made by hand: an odd width, so the second memory row starts mid-byte.
        {"3x2-odd-width", call(3, 2, 1), {0xD0, 0x60, 0x00, 0x30}},
        {"empty-width", call(0, 5, 0), {}},
        {"offset-past-data", call(6, 4, 200), {0x5B, 0x60, 0x00, 0x02}},
        {"negative-length", [] { DecoderCase c = call(4, 4, 0); c.negativeLength = true; return c; }(), {}},
    };
    struct Encoded {
        const char* name;
        uint16_t width;
        uint16_t height;
        bool longest;
        uint8_t image;
        uint8_t amount;
    };
    const Encoded encoded[] = {
        {"1x1", 1, 1, false, 0, 0},
        {"37x23", 37, 23, false, 0, 0},
        {"37x23-longest-codes", 37, 23, true, 0, 0},
        {"300x2-spare-bytes", 300, 2, false, 2, 9},
        {"17x9-image-short", 17, 9, false, 1, 0},
        {"5x5-no-image", 5, 5, false, 3, 0},
        {"64x64", 64, 64, false, 0, 0},
    };
    RunLengthOptions longest;
    longest.fourNibbleCodes = true;
    longest.endOfRow = EndOfRowCode::Never;
    longest.passRowEnd = true;
    uint32_t imageSeed = 1;
    for (const Encoded& e : encoded) {
        const std::vector<uint8_t> image = runImage(e.width, e.height, imageSeed++);
        const EncodedBitmap bitmap =
            encodeRunLength(image.data(), e.width, e.height, e.longest ? longest : RunLengthOptions{});
        seeds.push_back({e.name, call(e.width, e.height, uint16_t(bitmap.secondFieldOffset), e.image, e.amount),
            bitmap.data});
    }
    return seeds;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-DIRECTORY\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    std::error_code error;
    fs::create_directories(root / "fuzz_packet", error);
    fs::create_directories(root / "fuzz_decoder", error);
    if (error) {
        std::fprintf(stderr, "write_fuzz_seeds: %s: %s\n", root.string().c_str(), error.message().c_str());
        return 1;
    }
    uint32_t imageSeed = 100;
    for (const PacketSeed& seed : packetSeeds())
        if (!writeFile(root / "fuzz_packet" / seed.name, withSettings(seed.session, packet(seed, imageSeed++))))
            return 1;
    for (const DecoderSeed& seed : decoderSeeds())
        if (!writeFile(root / "fuzz_decoder" / seed.name, withSettings(seed.call, seed.data)))
            return 1;
    return 0;
}
