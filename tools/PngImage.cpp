#include "tools/PngImage.h"

#include "tools/AtomicFile.h"
#include "tools/InputFile.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace Qor::Tools {

namespace {

// libpng reports errors by a long jump back to the function that set it up.
// Everything that jump must not skip lives in one heap block owned before
// the setjmp, so no C++ object is left half-made and nothing local is read
// after the jump.
struct PngWork {
    InputFile* input = nullptr;
    PngLimit limit;
    std::vector<uint8_t>* output = nullptr;
    PngImage image;
    std::vector<png_bytep> rows;
    std::vector<png_color> colours;
    std::vector<png_byte> alphas;
    char message[512] = {};
    bool ownMessage = false; // the message is the reader's own, not libpng's
};

void failWith(png_structp png, png_const_charp message)
{
    auto* work = static_cast<PngWork*>(png_get_error_ptr(png));
    std::snprintf(work->message, sizeof work->message, "%s", message);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// Nothing here may own anything when png_error jumps out: the reader's
// failure is copied into the work's message before the jump.
void readBytes(png_structp png, png_bytep destination, png_size_t length)
{
    auto* work = static_cast<PngWork*>(png_get_io_ptr(png));
    size_t got = 0;
    bool failed = false;
    {
        const std::string error = work->input->read(destination, length, got);
        if (!error.empty()) {
            // The input's reason names it already; what follows the name is kept.
            const std::string& name = work->input->name();
            const std::string reason = error.compare(0, name.size() + 2, name + ": ") == 0 ? error.substr(name.size() + 2) : error;
            std::snprintf(work->message, sizeof work->message, "%s", reason.c_str());
            work->ownMessage = true;
            failed = true;
        }
    }
    if (failed)
        png_longjmp(png, 1);
    if (got < length)
        png_error(png, "file ends inside the image");
}

void writeBytes(png_structp png, png_bytep source, png_size_t length)
{
    auto* work = static_cast<PngWork*>(png_get_io_ptr(png));
    work->output->insert(work->output->end(), source, source + length);
}

void flushNothing(png_structp) {}

int paletteBitDepth(size_t entries)
{
    if (entries <= 2)
        return 1;
    if (entries <= 4)
        return 2;
    return entries <= 16 ? 4 : 8;
}

// Reads the image into work->image. Any libpng error leaves by the long
// jump, so nothing here may own anything: what lasts lives in `work`.
std::string checkDeclaredSize(uint32_t width, uint32_t height, bool interlaced, const PngLimit& limit);

void decodeImage(png_structp png, png_infop info, PngWork* work)
{
    png_read_info(png, info);
    PngImage& image = work->image;
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    {
        // The text is copied and freed before the jump, which skips destructors.
        const std::string refused
            = checkDeclaredSize(width, height, png_get_interlace_type(png, info) != PNG_INTERLACE_NONE, work->limit);
        std::snprintf(work->message, sizeof work->message, "%s", refused.c_str());
        work->ownMessage = !refused.empty();
    }
    if (work->ownMessage)
        png_longjmp(png, 1);
    image.width = width;
    image.height = height;
    const int colourType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);

    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp colours = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &colours, &count);
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_get_tRNS(png, info, &alphas, &alphaCount, nullptr);
        for (int i = 0; i < count; ++i)
            image.palette.push_back(
                Rgba{colours[i].red, colours[i].green, colours[i].blue, uint8_t(i < alphaCount ? alphas[i] : 255)});
        if (image.palette.empty())
            png_error(png, "indexed image without a palette");
        if (bitDepth < 8)
            png_set_packing(png);
    } else {
        if (bitDepth == 16)
            png_set_strip_16(png);
        if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS);
        if (transparency)
            png_set_tRNS_to_alpha(png);
        if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(png);
        if (!(colourType & PNG_COLOR_MASK_ALPHA) && !transparency)
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const size_t channels = image.indexed() ? 1 : 4;
    if (png_get_rowbytes(png, info) != size_t(image.width) * channels)
        png_error(png, "unexpected row layout after conversion");
    std::vector<uint8_t>& pixels = image.indexed() ? image.indices : image.rgba;
    const size_t rowBytes = size_t(image.width) * channels;
    if (passes > 1) {
        // Every pass adds pixels to every row: the whole image is needed
        // from the start, so interlaced images are held to a smaller size.
        pixels.resize(rowBytes * image.height);
        work->rows.resize(image.height);
        for (uint32_t y = 0; y < image.height; ++y)
            work->rows[y] = pixels.data() + size_t(y) * rowBytes;
        png_read_image(png, work->rows.data());
    } else {
        // Row by row: the image grows only as far as its data reaches, so a
        // header that claims more than the file holds costs one row.
        // Room for a start up front, bounded, so that most images need no copy.
        pixels.reserve(std::min<size_t>(rowBytes * image.height, size_t(16) << 20));
        for (uint32_t y = 0; y < image.height; ++y) {
            pixels.resize(pixels.size() + rowBytes);
            png_read_row(png, pixels.data() + pixels.size() - rowBytes, nullptr);
        }
    }
    png_read_end(png, nullptr);
}

// The size check that comes before any pixel is stored, or "" when the
// header's size is one this reader takes.
std::string checkDeclaredSize(uint32_t width, uint32_t height, bool interlaced, const PngLimit& limit)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width > MaximumPngSide || height > MaximumPngSide)
        return "the header declares " + size + " pixels; a subtitle is at most 65535 a side";
    const uint64_t pixels = uint64_t(width) * height;
    if (pixels > limit.pixels)
        return "the header declares " + size + " pixels (" + std::to_string(pixels) + "), more than the "
            + std::to_string(limit.pixels) + " allowed"
            + (limit.option ? std::string("; ") + limit.option + " raises the limit" : std::string());
    if (interlaced && uint64_t(width) * height > MaximumInterlacedPixels)
        return "the header declares an interlaced image of " + size
            + " pixels; interlaced images are read whole and must have at most 8192x8192 pixels (save it without"
              " interlacing)";
    return "";
}

void encodeImage(png_structp png, png_infop info, PngWork* work, const PngImage& image, PngCompression compression)
{
    png_set_write_fn(png, work, writeBytes, flushNothing);
    if (compression.level >= 0)
        png_set_compression_level(png, compression.level);
    if (!compression.adaptiveFilters)
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    if (compression.runsOnly) {
        // Each byte less the one a pixel before: a run of one colour becomes zeros.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_strategy(png, Z_RLE);
    }
    if (image.indexed()) {
        png_set_IHDR(png, info, image.width, image.height, paletteBitDepth(image.palette.size()),
            PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        std::vector<png_color>& colours = work->colours;
        std::vector<png_byte>& alphas = work->alphas;
        size_t lastTranslucent = 0;
        for (size_t i = 0; i < image.palette.size(); ++i) {
            const Rgba& c = image.palette[i];
            colours.push_back(png_color{c.red, c.green, c.blue});
            alphas.push_back(c.alpha);
            if (c.alpha != 255)
                lastTranslucent = i + 1;
        }
        png_set_PLTE(png, info, colours.data(), int(colours.size()));
        // Entries after the last translucent one are opaque by default.
        if (lastTranslucent > 0)
            png_set_tRNS(png, info, alphas.data(), int(lastTranslucent), nullptr);
    } else {
        png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
            PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    }
    png_write_info(png, info);
    if (image.indexed())
        png_set_packing(png);
    const size_t channels = image.indexed() ? 1 : 4;
    const std::vector<uint8_t>& pixels = image.indexed() ? image.indices : image.rgba;
    work->rows.resize(image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        work->rows[y] = const_cast<png_bytep>(pixels.data() + size_t(y) * image.width * channels);
    png_write_image(png, work->rows.data());
    png_write_end(png, nullptr);
}

} // namespace

Rgba PngImage::pixel(uint32_t x, uint32_t y) const
{
    const size_t at = size_t(y) * width + x;
    if (indexed())
        return palette[indices[at]];
    return Rgba{rgba[at * 4], rgba[at * 4 + 1], rgba[at * 4 + 2], rgba[at * 4 + 3]};
}

PngReadResult decodePng(InputFile& input, PngLimit limit)
{
    PngReadResult result;
    const std::string& name = input.name();
    png_byte signature[8];
    size_t got = 0;
    result.error = input.read(signature, sizeof signature, got);
    if (!result.error.empty())
        return result;
    if (got < sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        result.error = name + ": not a PNG file";
        return result;
    }
    auto work = std::make_unique<PngWork>();
    work->input = &input;
    work->limit = limit;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, work.get(), failWith, ignoreWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        result.error = name + ": out of memory for the PNG reader";
        return result;
    }
    png_set_read_fn(png, work.get(), readBytes);
    png_set_sig_bytes(png, sizeof signature);
    // The reader's own size check comes first, with the sizes in its message.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    if (setjmp(png_jmpbuf(png)) == 0) {
        decodeImage(png, info, work.get());
    } else {
        png_destroy_read_struct(&png, &info, nullptr);
        result.error = name + (work->ownMessage ? ": " : ": bad PNG: ") + work->message;
        return result;
    }
    png_destroy_read_struct(&png, &info, nullptr);

    PngImage& image = work->image;
    for (uint8_t index : image.indices)
        if (index >= image.palette.size()) {
            result.error = name + ": bad PNG: pixel index " + std::to_string(index) + " beyond its "
                + std::to_string(image.palette.size()) + "-entry palette";
            return result;
        }
    result.image = std::move(image);
    return result;
}

PngReadResult decodePng(const std::vector<uint8_t>& bytes, const std::string& name, PngLimit limit)
{
    InputFile input(bytes.data(), bytes.size(), name);
    return decodePng(input, limit);
}

PngReadResult readPng(const std::string& path, PngLimit limit)
{
    InputFile input;
    PngReadResult result;
    result.error = input.open(path);
    if (!result.error.empty())
        return result;
    return decodePng(input, limit);
}

std::string encodePng(const PngImage& image, std::vector<uint8_t>& bytes, PngCompression compression)
{
    const size_t pixels = size_t(image.width) * image.height;
    if (pixels == 0)
        return "an image of no pixels cannot be a PNG";
    if (image.palette.size() > 256)
        return "a palette of " + std::to_string(image.palette.size()) + " entries does not fit a PNG";
    if (image.indexed() ? image.indices.size() != pixels : image.rgba.size() != pixels * 4)
        return "pixel data does not match the image size";

    auto work = std::make_unique<PngWork>();
    work->output = &bytes;
    bytes.clear();
    // Room for an image that barely compresses, so the output rarely grows.
    bytes.reserve(std::min<size_t>(pixels * (image.indexed() ? 1 : 4) / 4 + 1024, size_t(64) << 20));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, work.get(), failWith, ignoreWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "out of memory for the PNG writer";
    }
    if (setjmp(png_jmpbuf(png)) == 0) {
        encodeImage(png, info, work.get(), image, compression);
    } else {
        png_destroy_write_struct(&png, &info);
        bytes.clear();
        return std::string("cannot encode PNG: ") + work->message;
    }
    png_destroy_write_struct(&png, &info);
    return "";
}

std::string writePng(const std::string& path, const PngImage& image)
{
    std::vector<uint8_t> bytes;
    const std::string error = encodePng(image, bytes);
    if (!error.empty())
        return path + ": " + error;
    return writeFileAtomically(path, bytes);
}

} // namespace Qor::Tools
