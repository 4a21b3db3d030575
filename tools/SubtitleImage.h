// A PNG reduced to what a subtitle packet carries: at most four colours and
// a colour number for every pixel.
//
// An indexed PNG keeps its palette order, so its author chooses the colour
// numbers; it may have at most four palette entries. Any other PNG (RGBA,
// RGB, grey, with or without alpha) may use at most four distinct colours,
// numbered in the order they are first met, reading rows from the top and
// each row from the left; every fully transparent pixel counts as the one
// colour transparent black, whatever its red, green and blue. Then the first
// fully transparent colour, if there is one, trades numbers with colour 0.
// With none, colour 0 is palette entry 0, or the colour of the top-left pixel.
// An indexed PNG's palette counts only the entries its pixels use.
//
// An image of more than four colours is reduced to four, unless exactness is
// asked for: every fully transparent pixel stays colour 0, and the other
// colours gather, by their premultiplied red, green, blue and alpha, round
// three representatives (four when nothing is transparent), which are
// numbered by how many pixels they stand for: fill, then outline, then edge.
// A representative keeps the mean alpha of its pixels. Without transparent
// pixels, colour 0 is the representative of the top-left pixel.
#ifndef KELVO_TOOLS_SUBTITLEIMAGE_H
#define KELVO_TOOLS_SUBTITLEIMAGE_H

#include "tools/PngImage.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

struct SubtitleImage {
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<uint8_t> indices; // width x height colour numbers 0 to 3, top row first
    std::array<Rgba, 4> colours{}; // entries past colourCount are transparent black
    int colourCount = 0;
    std::string reduction; // "" when the image's own colours were kept; otherwise what was merged into what
};

struct SubtitleImageResult {
    SubtitleImage image;
    std::string error; // empty on success
    explicit operator bool() const { return error.empty(); }
};

// Reduces `image` by the rules above; `name` begins every message. Refuses a
// side longer than 65535 and, when `exact`, more than four colours used.
SubtitleImageResult reduceToSubtitle(const PngImage& image, const std::string& name, bool exact = false);

// Reads the PNG at `path` ("-": standard input) and reduces it; refuses as
// readPng and reduceToSubtitle.
SubtitleImageResult readSubtitleImage(const std::string& path, bool exact = false);

} // namespace Qor::Tools

#endif
