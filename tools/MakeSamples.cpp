// kelvo-make-samples: draws the sample subtitle images of samples/ with the
// block font: outlined captions of one or two lines, some on a translucent
// box, some as indexed PNGs and some as RGBA PNGs.
#include "tools/BlockFont.h"
#include "tools/CommandLine.h"
#include "tools/PngImage.h"
#include "tools/ToolMain.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

namespace {

using namespace Qor::Tools;

constexpr int GlyphAdvance = GlyphWidth + 1; // cells, gap included
constexpr int LineAdvance = GlyphHeight + 2;

constexpr uint8_t Clear = 0;
constexpr uint8_t Ink = 1;
constexpr uint8_t Outline = 2;
constexpr uint8_t Accent = 3; // a second ink, or the box behind the text

struct Caption {
    const char* file;
    std::vector<const char*> lines;
    std::vector<uint8_t> lineInk; // the colour number of each line's text
    int scale;                    // pixels a font cell
    int outline;                  // pixels of outline around the text
    int padding;                  // pixels between the outline and the edge
    bool box;                     // colour 3 fills everything behind the text
    std::array<Rgba, 4> colours;
    bool indexed;                 // an indexed PNG; otherwise RGBA
};

const Caption captions[] = {
    {"station-caption.png", {"THE LAST TRAIN LEAVES AT 11:40.", "PLEASE MIND THE GAP!"}, {Ink, Accent}, 2, 2, 0, false,
        {Rgba{0, 0, 0, 0}, Rgba{255, 255, 255, 255}, Rgba{16, 16, 16, 255}, Rgba{255, 214, 0, 255}}, true},
    {"station-sign.png", {"PLATFORM 4"}, {Ink}, 3, 2, 0, false,
        {Rgba{0, 0, 0, 0}, Rgba{250, 200, 30, 255}, Rgba{20, 40, 110, 255}, Rgba{0, 0, 0, 0}}, false},
    {"night-caption.png", {"WHERE ARE WE GOING?", "- NORTH, TO THE SEA."}, {Ink, Ink}, 2, 1, 5, true,
        {Rgba{0, 0, 0, 0}, Rgba{255, 255, 255, 255}, Rgba{0, 0, 0, 208}, Rgba{12, 24, 72, 128}}, true},
    {"night-note.png", {"- WAVES -"}, {Ink}, 2, 1, 4, true,
        {Rgba{0, 0, 0, 0}, Rgba{170, 255, 200, 255}, Rgba{0, 60, 30, 255}, Rgba{30, 30, 30, 144}}, false},
    {"wide-caption.png", {"NEXT STOP: CENTRAL", "DOORS OPEN ON THE LEFT"}, {Ink, Accent}, 3, 2, 0, false,
        {Rgba{0, 0, 0, 0}, Rgba{255, 255, 255, 255}, Rgba{0, 0, 0, 255}, Rgba{120, 220, 255, 255}}, false},
};

int textWidth(const char* line, int scale)
{
    const int length = int(std::strlen(line));
    return length == 0 ? 0 : (length * GlyphAdvance - 1) * scale;
}

PngImage draw(const Caption& caption)
{
    const int scale = caption.scale;
    int widest = 0;
    for (const char* line : caption.lines)
        widest = std::max(widest, textWidth(line, scale));
    const int border = caption.outline + caption.padding;
    const int lines = int(caption.lines.size());
    const int width = widest + 2 * border;
    const int height = (lines * LineAdvance - 2) * scale + 2 * border;
    std::vector<uint8_t> colour(size_t(width) * height, caption.box ? Accent : Clear);
    std::vector<bool> inked(colour.size(), false);

    for (int n = 0; n < lines; ++n) {
        const char* line = caption.lines[size_t(n)];
        const int left = border + (widest - textWidth(line, scale)) / 2;
        const int top = border + n * LineAdvance * scale;
        for (int c = 0; line[c] != 0; ++c)
            for (int y = 0; y < GlyphHeight * scale; ++y)
                for (int x = 0; x < GlyphWidth * scale; ++x)
                    if (glyphCell(line[c], x / scale, y / scale)) {
                        const size_t at = size_t(top + y) * width + size_t(left + c * GlyphAdvance * scale + x);
                        inked[at] = true;
                        colour[at] = caption.lineInk[size_t(n)];
                    }
    }
    // The outline: every pixel within `outline` pixels of ink, diagonals included.
    const int reach = caption.outline;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t at = size_t(y) * width + size_t(x);
            if (inked[at])
                continue;
            bool near = false;
            for (int dy = -reach; dy <= reach && !near; ++dy)
                for (int dx = -reach; dx <= reach && !near; ++dx) {
                    const int nx = x + dx;
                    const int ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < width && ny < height && inked[size_t(ny) * width + size_t(nx)];
                }
            if (near)
                colour[at] = Outline;
        }

    PngImage image;
    image.width = uint32_t(width);
    image.height = uint32_t(height);
    if (caption.indexed) {
        image.palette.assign(caption.colours.begin(), caption.colours.end());
        image.indices = colour;
    } else {
        image.rgba.reserve(colour.size() * 4);
        for (uint8_t number : colour) {
            const Rgba& c = caption.colours[number];
            image.rgba.insert(image.rgba.end(), {c.red, c.green, c.blue, c.alpha});
        }
    }
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    const char* const usage = "Usage: kelvo-make-samples DIR\n"
                              "Draws the sample subtitle images (the PNGs of samples/) into DIR, made when missing.\n"
                              "\n"
                              "  -h, --help     show this help and exit\n"
                              "      --version  show the version and exit\n";
    setToolName("kelvo-make-samples");
    std::string directory;
    const int status =
        readCommandLine(argc, argv, usage, {directory, "directory"}, [](CommandLine&) { return UnknownArgument; });
    if (status != ArgumentTaken)
        return status;
    if (directory.empty())
        return misuse("no directory given");
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        return fail(directory + ": cannot make the directory: " + error.message());
    }
    for (const Caption& caption : captions) {
        const std::string path = directory + "/" + caption.file;
        const std::string failure = writePng(path, draw(caption));
        if (!failure.empty())
            return fail(failure);
    }
    return 0;
}
