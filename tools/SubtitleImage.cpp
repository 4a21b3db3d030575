#include "tools/SubtitleImage.h"

#include <algorithm>
#include <utility>

namespace Qor::Tools {

namespace {

constexpr int MaximumColours = 4;

SubtitleImageResult refuse(std::string reason)
{
    SubtitleImageResult refused;
    refused.error = std::move(reason);
    return refused;
}

// The colour numbers in the order met, with `transparent` traded with 0.
std::array<uint8_t, MaximumColours> numbering(int transparent)
{
    std::array<uint8_t, MaximumColours> number{0, 1, 2, 3};
    if (transparent > 0) {
        number[0] = uint8_t(transparent);
        number[size_t(transparent)] = 0;
    }
    return number;
}

} // namespace

SubtitleImageResult reduceToSubtitle(const PngImage& png, const std::string& name)
{
    if (png.width > 0xFFFF || png.height > 0xFFFF)
        return refuse(name + ": " + std::to_string(png.width) + "x" + std::to_string(png.height)
            + " pixels; a subtitle is at most 65535 a side");

    SubtitleImageResult result;
    SubtitleImage& image = result.image;
    image.width = uint16_t(png.width);
    image.height = uint16_t(png.height);
    const size_t pixels = size_t(png.width) * png.height;
    std::vector<uint8_t> found(pixels);
    std::array<Rgba, MaximumColours> colours{};
    int count = 0;

    if (png.indexed()) {
        if (png.palette.size() > MaximumColours)
            return refuse(name + ": indexed PNG with " + std::to_string(png.palette.size())
                + " palette entries; a subtitle has at most four colours");
        count = int(png.palette.size());
        std::copy(png.palette.begin(), png.palette.end(), colours.begin());
        found = png.indices;
    } else {
        for (size_t at = 0; at < pixels; ++at) {
            Rgba c{png.rgba[at * 4], png.rgba[at * 4 + 1], png.rgba[at * 4 + 2], png.rgba[at * 4 + 3]};
            if (c.alpha == 0)
                c = Rgba{};
            int number = 0;
            while (number < count && colours[size_t(number)] != c)
                ++number;
            if (number == count) {
                if (count == MaximumColours)
                    return refuse(name + ": more than four colours (a fifth, " + std::to_string(c.red) + ","
                        + std::to_string(c.green) + "," + std::to_string(c.blue) + "," + std::to_string(c.alpha)
                        + ", at column " + std::to_string(at % png.width) + " of row "
                        + std::to_string(at / png.width) + "); a subtitle has at most four");
                colours[size_t(count++)] = c;
            }
            found[at] = uint8_t(number);
        }
    }

    int transparent = -1;
    for (int i = 0; i < count && transparent < 0; ++i)
        if (colours[size_t(i)].alpha == 0)
            transparent = i;
    const std::array<uint8_t, MaximumColours> number = numbering(transparent);
    for (int i = 0; i < count; ++i)
        image.colours[number[size_t(i)]] = colours[size_t(i)];
    image.colourCount = count;
    image.indices.resize(pixels);
    for (size_t at = 0; at < pixels; ++at)
        image.indices[at] = number[found[at]];
    return result;
}

SubtitleImageResult readSubtitleImage(const std::string& path)
{
    PngReadResult png = readPng(path);
    if (!png)
        return refuse(png.error);
    return reduceToSubtitle(png.image, path);
}

} // namespace Qor::Tools
