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
// three representatives (four when nothing is transparent), numbered 1 to 3
// by how many pixels they stand for, most first. A colour at least half
// opaque never joins the transparent colour 0, however few its pixels: it
// joins the nearest visible representative. A representative keeps the
// mean alpha of its pixels. Without transparent pixels, colour 0 is the
// representative of the top-left pixel.
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
SubtitleImageResult readSubtitleImage(const std::string& path, bool exact = false, PngLimit limit = {});

// The least alpha that looks opaque. Alpha a lets (255 - a) / 255 of the
// video through, so from 250 up no channel moves more than 5 of its 255
// levels (2%) from the opaque colour over any video: white over black
// comes to 250 instead of 255, a lightness step (CIE L*) under 2, below the
// difference of about 2.3 that a viewer can just tell apart side by side.
// Anti-aliased strokes average just under opaque, so such colours count as
// opaque rather than warned of.
constexpr uint8_t OpaqueLooking = 250;

// What a stream of input `format` will show otherwise than the picture does,
// one line each, naming `name`; none for "GPHA", which keeps every colour's
// alpha. "GPHB" shows colour 0 transparent and the others opaque: a picture
// with no transparent colour loses its colour 0 (the line names it and its
// pixels, and suggests GPHA), and a colour of alpha below OpaqueLooking
// other than colour 0 becomes opaque.
std::vector<std::string> formatWarnings(const SubtitleImage& image, const std::string& name, const std::string& format);

} // namespace Qor::Tools

#endif
