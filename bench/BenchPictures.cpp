#include "bench/BenchPictures.h"

#include "encode/RunLengthEncoder.h"
#include "subdecode/BitmapDecoder.h"
#include "subdecode/PacketHeader.h"
#include "tools/BlockFont.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace Qor::Bench {

namespace {

using Indices = std::vector<uint8_t>; // one byte a pixel, top row first

int pick(std::mt19937& random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

// Overlapping ellipses and rectangles of colours 1 to 3 on colour 0, each
// with a border of colour 2, a quarter to a half of the picture across.
Indices filledShapes(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    Indices image(size_t(width) * height, 0);
    for (int shape = 0; shape < 6; ++shape) {
        const int cx = pick(random, width / 5, width * 4 / 5);
        const int cy = pick(random, height / 5, height * 4 / 5);
        const int rx = pick(random, width / 8, width / 4);
        const int ry = pick(random, height / 8, height / 4);
        const uint8_t colour = uint8_t(pick(random, 1, 3));
        const bool ellipse = shape % 2 == 0;
        const int border = 3;
        for (int y = std::max(0, cy - ry); y < std::min(height, cy + ry); ++y) {
            for (int x = std::max(0, cx - rx); x < std::min(width, cx + rx); ++x) {
                const double dx = double(x - cx) / rx;
                const double dy = double(y - cy) / ry;
                const double inner = ellipse ? dx * dx + dy * dy : std::max(dx * dx, dy * dy);
                if (inner >= 1)
                    continue;
                const double edge = 1 - double(border) / std::min(rx, ry);
                image[size_t(y) * width + x] = inner > edge * edge ? 2 : colour;
            }
        }
    }
    return image;
}

// Rows of runs whose lengths are drawn from `classes` (one class picked at
// random for each run, then a length within it), each a colour other than
// the run before; a row's last run is cut at its end.
struct RunClass {
    int shortest;
    int longest;
};

Indices runsOf(int width, int height, std::vector<RunClass> classes, uint32_t seed)
{
    std::mt19937 random(seed);
    Indices image;
    image.reserve(size_t(width) * height);
    uint8_t colour = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width;) {
            const RunClass& c = classes[size_t(pick(random, 0, int(classes.size()) - 1))];
            const int run = std::min(pick(random, c.shortest, c.longest), width - x);
            colour = uint8_t((colour + pick(random, 1, 3)) % 4);
            image.insert(image.end(), size_t(run), colour);
            x += run;
        }
    }
    return image;
}

// Lines of text in the block font, `cell` pixels a font cell, centred near
// the bottom of the picture as subtitles are, on transparent colour 0: the
// letters in colour 1, an outline of colour 3 about `cell` / 2 wide around
// them, and a one-pixel edge of colour 2 between the outline and the
// background, as an anti-aliased renderer leaves one.
Indices text(int width, int height, int cell, const std::vector<const char*>& lines)
{
    Indices ink(size_t(width) * height, 0);
    const int advance = (Tools::GlyphWidth + 1) * cell;
    const int lineHeight = (Tools::GlyphHeight + 4) * cell;
    int top = height - height / 12 - lineHeight * int(lines.size());
    for (const char* line : lines) {
        const int length = int(std::strlen(line));
        int left = (width - advance * length) / 2;
        for (int i = 0; i < length; ++i, left += advance)
            for (int gy = 0; gy < Tools::GlyphHeight * cell; ++gy)
                for (int gx = 0; gx < Tools::GlyphWidth * cell; ++gx)
                    if (Tools::glyphCell(line[i], gx / cell, gy / cell))
                        ink[size_t(top + gy) * width + size_t(left + gx)] = 1;
        top += lineHeight;
    }
    // Distance from the ink in thirds of a pixel, by the two passes of a
    // 3-4 chamfer.
    const int far = 1 << 20;
    std::vector<int> distance(ink.size());
    for (size_t i = 0; i < ink.size(); ++i)
        distance[i] = ink[i] ? 0 : far;
    auto at = [&](int x, int y) -> int& { return distance[size_t(y) * width + x]; };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int& d = at(x, y);
            if (x > 0)
                d = std::min(d, at(x - 1, y) + 3);
            if (y > 0) {
                d = std::min(d, at(x, y - 1) + 3);
                if (x > 0)
                    d = std::min(d, at(x - 1, y - 1) + 4);
                if (x + 1 < width)
                    d = std::min(d, at(x + 1, y - 1) + 4);
            }
        }
    for (int y = height - 1; y >= 0; --y)
        for (int x = width - 1; x >= 0; --x) {
            int& d = at(x, y);
            if (x + 1 < width)
                d = std::min(d, at(x + 1, y) + 3);
            if (y + 1 < height) {
                d = std::min(d, at(x, y + 1) + 3);
                if (x + 1 < width)
                    d = std::min(d, at(x + 1, y + 1) + 4);
                if (x > 0)
                    d = std::min(d, at(x - 1, y + 1) + 4);
            }
        }
    const int outline = 3 * std::max(2, cell / 2);
    Indices image(ink.size(), 0);
    for (size_t i = 0; i < ink.size(); ++i)
        image[i] = uint8_t(ink[i] ? 1 : distance[i] <= outline ? 3 : distance[i] <= outline + 3 ? 2 : 0);
    return image;
}

// Lines of made-up glyphs: each glyph a few stems and bars of colour 1 with
// a two-pixel outline of colour 3 around them, on colour 0, words apart.
Indices caption(int width, int height, int lines, uint32_t seed)
{
    std::mt19937 random(seed);
    Indices body(size_t(width) * height, 0);
    const int lineHeight = height / lines;
    for (int line = 0; line < lines; ++line) {
        const int top = line * lineHeight + lineHeight / 6;
        const int glyphHeight = lineHeight * 2 / 3;
        const int margin = line == 0 ? width / 40 : width / 6;
        int x = margin;
        while (x + 30 < width - margin) {
            const int glyphWidth = pick(random, 12, 26);
            for (int stroke = pick(random, 2, 3); stroke > 0; --stroke) {
                const bool stem = pick(random, 0, 2) != 0;
                const int x0 = stem ? x + pick(random, 0, glyphWidth - 5) : x;
                const int x1 = stem ? x0 + 5 : x + glyphWidth;
                const int y0 = stem ? top : top + pick(random, 0, glyphHeight - 5);
                const int y1 = stem ? top + glyphHeight : y0 + 5;
                for (int y = y0; y < y1; ++y)
                    for (int xx = x0; xx < x1; ++xx)
                        body[size_t(y) * width + xx] = 1;
            }
            x += glyphWidth + (pick(random, 0, 4) == 0 ? 18 : 5);
        }
    }
    Indices image = body;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (body[size_t(y) * width + x])
                continue;
            bool near = false;
            for (int dy = -2; dy <= 2 && !near; ++dy)
                for (int dx = -2; dx <= 2 && !near; ++dx) {
                    const int yy = y + dy;
                    const int xx = x + dx;
                    near = yy >= 0 && yy < height && xx >= 0 && xx < width && body[size_t(yy) * width + xx];
                }
            if (near)
                image[size_t(y) * width + x] = 3;
        }
    }
    return image;
}

void putLittle16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(uint8_t(value & 0xFF));
    bytes.push_back(uint8_t(value >> 8));
}

// A "GPHB" packet placed at 0, 0. The second field's offset is 16 bits: a
// first field longer than 65535 bytes is cut there, and its later rows
// decode as colour 0, as a packet cut short does.
std::vector<uint8_t> packetFor(const Indices& image, uint16_t width, uint16_t height)
{
    EncodedBitmap encoded = encodeRunLength(image.data(), width, height);
    if (encoded.secondFieldOffset > 0xFFFF) {
        encoded.data.erase(encoded.data.begin() + 0xFFFF, encoded.data.begin() + encoded.secondFieldOffset);
        encoded.secondFieldOffset = 0xFFFF;
    }
    std::vector<uint8_t> bytes(27, ' ');
    for (uint16_t value : {width, height, uint16_t(0), uint16_t(0), uint16_t(width - 1), uint16_t(height - 1),
             uint16_t(encoded.secondFieldOffset)})
        putLittle16(bytes, value);
    const uint8_t palette[12] = {0x10, 0x10, 0x10, 0xF0, 0xF0, 0xF0, 0x20, 0x20, 0x20, 0x80, 0x80, 0xF0};
    bytes.insert(bytes.end(), palette, palette + 12);
    bytes.insert(bytes.end(), encoded.data.begin(), encoded.data.end());
    return bytes;
}

// The number of runs the decoder draws for the packet (rows do not join).
int64_t runsDrawn(const std::vector<uint8_t>& packet)
{
    PacketHeader header{};
    parsePacketHeader(packet.data(), &header, nullptr);
    const int64_t width = header.width;
    const int64_t height = header.height;
    int32_t capacity = int32_t((width * height + 1) / 2);
    std::vector<uint8_t> image(static_cast<size_t>(capacity));
    decodeBitmap(&header, int32_t(packet.size()) - PacketFormat::HeaderLength, capacity, image.data());
    auto at = [&](int64_t p) { return p % 2 ? image[p / 2] & 0x0F : image[p / 2] >> 4; };
    int64_t runs = 0;
    for (int64_t row = 0; row < height; ++row)
        for (int64_t x = 0; x < width; ++x)
            runs += x == 0 || at(row * width + x) != at(row * width + x - 1);
    return runs;
}

BenchPicture picture(std::string name, uint16_t width, uint16_t height, const Indices& image)
{
    BenchPicture made{std::move(name), width, height, packetFor(image, width, height), 0};
    made.runs = runsDrawn(made.packet);
    return made;
}

} // namespace

std::vector<BenchPicture> benchPictures()
{
    const std::vector<const char*> twoLines = {"THE QUICK BROWN FOX JUMPS", "OVER THE LAZY DOG, 1234567890!"};
    std::vector<BenchPicture> pictures;
    pictures.push_back(picture("720x576-long", 720, 576, filledShapes(720, 576, 0x6C6F6E67)));
    pictures.push_back(picture("1920x1080-long", 1920, 1080, filledShapes(1920, 1080, 0x6C6F6E67)));
    pictures.push_back(picture("1920x1080-runs1-3", 1920, 1080, runsOf(1920, 1080, {{1, 3}}, 0x6E6F6973)));
    pictures.push_back(picture("1920x1080-runs4-15", 1920, 1080, runsOf(1920, 1080, {{4, 15}}, 0x72756E34)));
    pictures.push_back(picture("1920x1080-runs1-40", 1920, 1080, runsOf(1920, 1080, {{1, 40}}, 0x72756E40)));
    pictures.push_back(picture("1920x1080-runs16-63", 1920, 1080, runsOf(1920, 1080, {{16, 63}}, 0x72756E31)));
    pictures.push_back(picture("1920x1080-runs64-255", 1920, 1080, runsOf(1920, 1080, {{64, 255}}, 0x72756E36)));
    pictures.push_back(picture("1920x1080-mix4-63", 1920, 1080, runsOf(1920, 1080, {{4, 15}, {16, 63}}, 0x6D697834)));
    pictures.push_back(picture("1920x1080-mix1-255", 1920, 1080,
        runsOf(1920, 1080, {{1, 3}, {4, 15}, {16, 63}, {64, 255}}, 0x6D697831)));
    pictures.push_back(picture("720x576-text", 720, 576, text(720, 576, 4, twoLines)));
    pictures.push_back(picture("1920x1080-text", 1920, 1080, text(1920, 1080, 9, twoLines)));
    pictures.push_back(picture("1400x120-caption", 1400, 120, caption(1400, 120, 2, 0x63617074)));
    pictures.push_back(picture("64x32", 64, 32, caption(64, 32, 1, 0x736D616C)));
    return pictures;
}

} // namespace Qor::Bench
