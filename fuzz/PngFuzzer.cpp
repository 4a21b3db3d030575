// fuzz_png: arbitrary bytes as a PNG image, read and reduced to a subtitle's
// four colours as kelvo-encode does. Run with a memory limit, an allocation
// out of proportion to the input is a finding. The run aborts when an
// accepted image's pixels do not match its size, when the reduction gives
// more than four colours or a colour number past them, or when a refusal is
// not one line naming the file.
#include "fuzz/ReaderChecks.h"
#include "tools/PngImage.h"
#include "tools/SubtitleImage.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Qor::Fuzzing;
    using namespace Qor::Tools;
    const std::vector<uint8_t> bytes(data, data + size);
    const PngReadResult read = decodePng(bytes, "f.png");
    if (refused(read.error, "f.png"))
        return 0;
    const PngImage& image = read.image;
    const size_t pixels = size_t(image.width) * image.height;
    require(image.width <= MaximumPngSide && image.height <= MaximumPngSide, "a side past the limit");
    require(image.indexed() ? image.indices.size() == pixels && image.rgba.empty()
                            : image.rgba.size() == pixels * 4 && image.indices.empty(),
        "pixels that do not match the size");
    for (const bool exact : {true, false}) {
        const SubtitleImageResult reduced = reduceToSubtitle(image, "f.png", exact);
        if (refused(reduced.error, "f.png")) {
            require(exact, "a reduction refused");
            continue;
        }
        const SubtitleImage& subtitle = reduced.image;
        require(subtitle.colourCount >= 0 && subtitle.colourCount <= 4, "more than four colours");
        require(subtitle.indices.size() == pixels, "colour numbers that do not match the size");
        for (uint8_t number : subtitle.indices)
            require(number < 4 && (number < subtitle.colourCount || subtitle.colourCount == 0), "a colour past the count");
        require(exact || subtitle.colourCount <= 4, "a reduction of more than four");
    }
    return 0;
}
