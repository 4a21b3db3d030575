// PNG files in and out, through libpng. An indexed PNG keeps its palette and
// its indices, so that a tool can keep the colour numbers its author chose;
// any other PNG is expanded to eight-bit RGBA.
#ifndef KELVO_TOOLS_PNGIMAGE_H
#define KELVO_TOOLS_PNGIMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

struct Rgba {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;

    bool operator==(const Rgba& other) const
    {
        return red == other.red && green == other.green && blue == other.blue && alpha == other.alpha;
    }
    bool operator!=(const Rgba& other) const { return !(*this == other); }
};

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Rgba> palette;    // not empty exactly when the image is indexed
    std::vector<uint8_t> indices; // indexed: width x height palette indices, top row first
    std::vector<uint8_t> rgba;    // otherwise: width x height pixels of red, green, blue, alpha

    bool indexed() const { return !palette.empty(); }
    // The colour at column x of row y, through the palette for an indexed image.
    Rgba pixel(uint32_t x, uint32_t y) const;
};

// An image, or the one-line reason there is none.
struct PngReadResult {
    PngImage image;
    std::string error; // empty on success
    explicit operator bool() const { return error.empty(); }
};

// The largest side the reader takes: a subtitle's, and a frame's.
constexpr uint32_t MaximumPngSide = 65535;
// Interlaced images are stored whole before their rows are complete.
constexpr uint64_t MaximumInterlacedPixels = uint64_t(8192) * 8192;

// Decodes PNG bytes; `name` begins every message. Checks the size the header
// declares before it stores any pixel (at most MaximumPngSide a side, and
// MaximumInterlacedPixels for an interlaced image), then reads row by row,
// so memory follows the data the file really holds. Refuses anything libpng
// refuses, and an indexed image with an index beyond its palette.
PngReadResult decodePng(const std::vector<uint8_t>& bytes, const std::string& name);

// Reads and decodes the file at `path`.
PngReadResult readPng(const std::string& path);

// How hard the PNG writer compresses: a zlib level from 0 (stored) to 9, or
// -1 for zlib's default; `adaptiveFilters` lets libpng choose a filter for
// every row (smaller files, slower), otherwise rows are stored unfiltered.
// `runsOnly` has zlib look for runs of one byte alone: far faster, and
// nearly as small for pictures of flat colour.
struct PngCompression {
    int level = -1;
    bool adaptiveFilters = true;
    bool runsOnly = false;
};

// Encodes `image`: an indexed PNG of the fewest bits a pixel that its
// palette needs, with transparency for entries whose alpha is below 255, or
// an eight-bit RGBA PNG. Answers "" and fills `bytes`, or answers why not
// (an empty image, pixel data that does not match the size, a palette of
// more than 256 entries).
std::string encodePng(const PngImage& image, std::vector<uint8_t>& bytes, PngCompression compression = {});

// Encodes `image` and replaces `path` with it through a temporary file;
// answers "" or a one-line reason naming `path`.
std::string writePng(const std::string& path, const PngImage& image);

} // namespace Qor::Tools

#endif
