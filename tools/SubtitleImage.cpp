#include "tools/SubtitleImage.h"


#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace Qor::Tools {

namespace {

constexpr int MaximumColours = 4;
constexpr int ReductionRounds = 24;

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

uint32_t packed(const Rgba& c)
{
    return uint32_t(c.red) << 24 | uint32_t(c.green) << 16 | uint32_t(c.blue) << 8 | c.alpha;
}

std::string text(const Rgba& c)
{
    return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + ","
        + std::to_string(c.alpha);
}

std::string plural(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Every distinct colour of an image, in the order first met, with the
// number of pixels of each; every pixel's colour as an index into them.
struct ColourTable {
    std::vector<Rgba> colours;
    std::vector<uint64_t> counts;
    std::vector<uint32_t> pixelColour;
    size_t fifthAt = 0; // the pixel where a fifth colour was first met
};

ColourTable tabulate(const PngImage& png)
{
    ColourTable table;
    const size_t pixels = size_t(png.width) * png.height;
    table.pixelColour.resize(pixels);
    std::unordered_map<uint32_t, uint32_t> known;
    for (size_t at = 0; at < pixels; ++at) {
        Rgba c = png.indexed() ? png.palette[png.indices[at]]
                               : Rgba{png.rgba[at * 4], png.rgba[at * 4 + 1], png.rgba[at * 4 + 2], png.rgba[at * 4 + 3]};
        if (c.alpha == 0)
            c = Rgba{};
        const auto [place, added] = known.emplace(packed(c), uint32_t(table.colours.size()));
        if (added) {
            if (table.colours.size() == MaximumColours)
                table.fifthAt = at;
            table.colours.push_back(c);
            table.counts.push_back(0);
        }
        ++table.counts[place->second];
        table.pixelColour[at] = place->second;
    }
    return table;
}

struct Point {
    double v[4];
};

Point premultiplied(const Rgba& c)
{
    const double a = c.alpha / 255.0;
    return Point{{c.red * a, c.green * a, c.blue * a, double(c.alpha)}};
}

double distance(const Point& p, const Point& q)
{
    double sum = 0;
    for (int i = 0; i < 4; ++i)
        sum += (p.v[i] - q.v[i]) * (p.v[i] - q.v[i]);
    return sum;
}

// The centre nearest to `p` from centre `first` on.
size_t nearest(const Point& p, const std::vector<Point>& centres, size_t first = 0)
{
    size_t best = first;
    for (size_t k = first + 1; k < centres.size(); ++k)
        if (distance(p, centres[k]) < distance(p, centres[best]))
            best = k;
    return best;
}

// A colour at least half opaque shows more than it hides: it is never
// dropped into transparency, however few its pixels, but joins the nearest
// visible colour.
constexpr uint8_t HalfOpaque = 128;

// Gathers the table's colours into at most four groups; answers each
// colour's group and the groups' representatives. When there are transparent
// pixels, group 0 is transparent black and stays so.
std::vector<size_t> gather(const ColourTable& table, std::vector<Rgba>& representatives)
{
    const size_t n = table.colours.size();
    std::vector<Point> points(n);
    for (size_t i = 0; i < n; ++i)
        points[i] = premultiplied(table.colours[i]);
    const auto transparentAt = std::find(table.colours.begin(), table.colours.end(), Rgba{});
    const bool transparent = transparentAt != table.colours.end();

    // Seeds: transparent black, the commonest other colour, then each time
    // the colour that most pixels would lie furthest from the seeds so far.
    std::vector<Point> centres;
    if (transparent)
        centres.push_back(Point{{0, 0, 0, 0}});
    while (centres.size() < MaximumColours) {
        size_t pick = n;
        double score = 0;
        for (size_t i = 0; i < n; ++i) {
            const double weight = double(table.counts[i])
                * (centres.empty() ? 1.0 : distance(points[i], centres[nearest(points[i], centres)]));
            if (weight > score) {
                score = weight;
                pick = i;
            }
        }
        if (pick == n)
            break;
        centres.push_back(points[pick]);
    }

    std::vector<size_t> group(n);
    const auto groupOf = [&](size_t i) {
        const bool visible = table.colours[i].alpha >= HalfOpaque;
        return nearest(points[i], centres, transparent && visible && centres.size() > 1 ? 1 : 0);
    };
    for (int round = 0; round < ReductionRounds; ++round) {
        bool moved = false;
        for (size_t i = 0; i < n; ++i) {
            const size_t k = groupOf(i);
            moved = moved || group[i] != k || round == 0;
            group[i] = k;
        }
        if (!moved)
            break;
        std::vector<Point> sums(centres.size(), Point{{0, 0, 0, 0}});
        std::vector<double> weights(centres.size(), 0);
        for (size_t i = 0; i < n; ++i) {
            for (int c = 0; c < 4; ++c)
                sums[group[i]].v[c] += points[i].v[c] * double(table.counts[i]);
            weights[group[i]] += double(table.counts[i]);
        }
        for (size_t k = transparent ? 1 : 0; k < centres.size(); ++k)
            if (weights[k] > 0)
                for (int c = 0; c < 4; ++c)
                    centres[k].v[c] = sums[k].v[c] / weights[k];
    }

    representatives.assign(centres.size(), Rgba{});
    for (size_t k = transparent ? 1 : 0; k < centres.size(); ++k) {
        const Point& p = centres[k];
        const auto channel = [](double value) { return uint8_t(std::clamp(value + 0.5, 0.0, 255.0)); };
        const double alpha = std::max(p.v[3], 1.0);
        representatives[k] = Rgba{channel(p.v[0] * 255.0 / alpha), channel(p.v[1] * 255.0 / alpha),
            channel(p.v[2] * 255.0 / alpha), channel(p.v[3])};
        if (representatives[k].alpha == 0)
            representatives[k].alpha = 1; // only transparent black is colour 0's by right
    }
    return group;
}

SubtitleImageResult reduce(const PngImage& png, const ColourTable& table, const std::string& name)
{
    std::vector<Rgba> representatives;
    const std::vector<size_t> group = gather(table, representatives);
    const size_t groups = representatives.size();
    std::vector<uint64_t> pixels(groups, 0);
    std::vector<size_t> members(groups, 0);
    for (size_t i = 0; i < table.colours.size(); ++i) {
        pixels[group[i]] += table.counts[i];
        ++members[group[i]];
    }
    const bool transparent = std::find(table.colours.begin(), table.colours.end(), Rgba{}) != table.colours.end();
    const size_t first = group[table.pixelColour[0]];
    // Colour 0: transparent black, or the top-left pixel's group; then by pixels, most first.
    std::vector<size_t> order(groups);
    std::iota(order.begin(), order.end(), 0);
    const size_t zero = transparent ? 0 : first;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if ((a == zero) != (b == zero))
            return a == zero;
        return pixels[a] > pixels[b];
    });
    std::vector<uint8_t> number(groups);
    for (size_t i = 0; i < groups; ++i)
        number[order[i]] = uint8_t(i);

    SubtitleImageResult result;
    SubtitleImage& image = result.image;
    image.width = uint16_t(png.width);
    image.height = uint16_t(png.height);
    image.colourCount = int(groups);
    for (size_t k = 0; k < groups; ++k)
        image.colours[number[k]] = representatives[k];
    image.indices.resize(table.pixelColour.size());
    for (size_t at = 0; at < table.pixelColour.size(); ++at)
        image.indices[at] = number[group[table.pixelColour[at]]];

    image.reduction = name + ": " + std::to_string(table.colours.size()) + " colours reduced to "
        + std::to_string(groups) + ":";
    for (size_t i = 0; i < groups; ++i) {
        const size_t k = order[i];
        const bool clear = i == 0 && transparent;
        image.reduction += std::string(i == 0 ? " " : "; ") + "colour " + std::to_string(i) + " "
            + (clear ? std::string("transparent") : text(representatives[k])) + " ("
            + plural(pixels[k], "pixel", "pixels") + ", " + plural(members[k], "colour", "colours") + ")";
    }
    return result;
}

} // namespace

SubtitleImageResult reduceToSubtitle(const PngImage& png, const std::string& name, bool exact)
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

    if (png.indexed() && png.palette.size() <= MaximumColours) {
        count = int(png.palette.size());
        std::copy(png.palette.begin(), png.palette.end(), colours.begin());
        found = png.indices;
    } else if (png.indexed()) {
        // A long palette: the entries in use, in palette order.
        std::vector<uint64_t> used(png.palette.size(), 0);
        for (uint8_t index : png.indices)
            ++used[index];
        std::vector<uint8_t> renumbered(png.palette.size(), 0);
        size_t inUse = 0;
        for (size_t i = 0; i < used.size(); ++i)
            if (used[i] > 0) {
                if (inUse < MaximumColours)
                    colours[inUse] = png.palette[i];
                renumbered[i] = uint8_t(std::min<size_t>(inUse, 255));
                ++inUse;
            }
        if (inUse > MaximumColours) {
            if (exact)
                return refuse(name + ": indexed PNG using " + std::to_string(inUse) + " of its "
                    + std::to_string(png.palette.size()) + " palette entries; a subtitle has at most four colours");
            return reduce(png, tabulate(png), name);
        }
        count = int(inUse);
        for (size_t at = 0; at < pixels; ++at)
            found[at] = renumbered[png.indices[at]];
    } else {
        const ColourTable table = tabulate(png);
        if (table.colours.size() > MaximumColours) {
            if (!exact)
                return reduce(png, table, name);
            const Rgba& c = table.colours[MaximumColours];
            return refuse(name + ": more than four colours (a fifth, " + text(c) + ", at column "
                + std::to_string(table.fifthAt % png.width) + " of row " + std::to_string(table.fifthAt / png.width)
                + "); a subtitle has at most four");
        }
        count = int(table.colours.size());
        std::copy(table.colours.begin(), table.colours.end(), colours.begin());
        for (size_t at = 0; at < pixels; ++at)
            found[at] = uint8_t(table.pixelColour[at]);
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

std::vector<std::string> formatWarnings(const SubtitleImage& image, const std::string& name, const std::string& format)
{
    std::vector<std::string> warnings;
    if (format != "GPHB" || image.colourCount == 0)
        return warnings;
    bool transparent = false;
    std::string translucent;
    for (int i = 0; i < image.colourCount; ++i) {
        const Rgba& c = image.colours[size_t(i)];
        transparent = transparent || c.alpha == 0;
        if (i > 0 && c.alpha < OpaqueLooking)
            translucent += (translucent.empty() ? "" : ", ") + std::to_string(i) + " (alpha "
                + std::to_string(c.alpha) + ")";
    }
    if (!transparent) {
        const Rgba& c = image.colours[0];
        const uint64_t pixels = uint64_t(std::count(image.indices.begin(), image.indices.end(), uint8_t(0)));
        warnings.push_back(name + ": no colour is transparent, and GPHB shows colour 0 as transparent: "
            + std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + " ("
            + std::to_string(pixels) + " of " + std::to_string(image.indices.size())
            + " pixels) will not show; a GPHA stream (-f GPHA) keeps it");
    }
    if (!translucent.empty())
        warnings.push_back(name + ": a GPHB stream shows colours opaque; translucent colour " + translucent
            + " becomes opaque (GPHA keeps alpha)");
    return warnings;
}

SubtitleImageResult readSubtitleImage(const std::string& path, bool exact, PngLimit limit)
{
    PngReadResult png = readPng(path, limit);
    if (!png)
        return refuse(png.error);
    return reduceToSubtitle(png.image, path, exact);
}

} // namespace Qor::Tools
