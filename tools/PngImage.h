// PNG files in and out, through libpng. An indexed PNG keeps its palette and
// its indices, so that a tool can keep the colour numbers its author chose;
// any other PNG is expanded to eight-bit RGBA.
#ifndef KELVO_TOOLS_PNGIMAGE_H
#define KELVO_TOOLS_PNGIMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

class InputFile;

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
// The most pixels an image may have unless the reader is told otherwise:
// the renderer's default frame limit.
constexpr uint64_t DefaultPngPixelLimit = uint64_t(8192) * 8192;

// How large an image the reader takes: `pixels` at most, and `option`, when
// given, is named in the refusal as the way to raise the limit.
struct PngLimit {
    uint64_t pixels = DefaultPngPixelLimit;
    const char* option = nullptr;
};

// Decodes the PNG that `input` holds; its name begins every message. The
// 8-byte signature is checked before anything more is read, and the size
// the header declares before any pixel is stored (at most MaximumPngSide a
// side, `limit.pixels` in all, and MaximumInterlacedPixels for an
// interlaced image); then rows are read one by one, so memory follows the
// data the file really holds. Refuses anything libpng refuses, and an
// indexed image with an index beyond its palette.
PngReadResult decodePng(InputFile& input, PngLimit limit = {});

// The same over PNG bytes in memory, named `name`.
PngReadResult decodePng(const std::vector<uint8_t>& bytes, const std::string& name, PngLimit limit = {});

// Reads and decodes the file at `path` ("-": standard input).
PngReadResult readPng(const std::string& path, PngLimit limit = {});

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
