// fuzz_ass: arbitrary bytes as an ASS/SSA script, read and drawn as
// kelvo-subtitles does: decoded, loaded into a libass track a line at a
// time, its time line cut, and the middle of each of its first intervals
// drawn on a small picture and blended into RGBA, unless the tool would
// refuse it for the glyph area it asks for. Run with a memory limit,
// an allocation out of proportion to the input is a finding. The run aborts
// when a refusal is not one line naming the file, when an event taken names
// a line the file does not have or has times outside 0 to LatestTime, or
// when a picture's box leaves the picture or libass's images, is not tight
// round its pixels of some alpha, or does not match its pixels' size.
#include "fuzz/ReaderChecks.h"
#include "tools/SubtitleScript.h"
#include "tools/TextRenderer.h"

#include <vector>

namespace {

using Qor::Fuzzing::require;

constexpr uint16_t Width = 320;
constexpr uint16_t Height = 180;
constexpr size_t MostIntervalsDrawn = 8;

bool inside(const Qor::Tools::TextBox& inner, const Qor::Tools::TextBox& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right
        && inner.bottom <= outer.bottom;
}

void checkPicture(const Qor::Tools::TextPicture& picture)
{
    using namespace Qor::Tools;
    if (picture.box.empty()) {
        require(picture.rgba.empty(), "pixels for an empty box");
        return;
    }
    require(inside(picture.box, TextBox{0, 0, Width, Height}), "a box past the picture");
    require(inside(picture.box, picture.reported), "a box outside libass's images");
    const size_t width = size_t(picture.box.width());
    const size_t height = size_t(picture.box.height());
    require(picture.rgba.size() == width * height * 4, "pixels that do not match the box");
    bool top = false, bottom = false, left = false, right = false;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            if (picture.rgba[(y * width + x) * 4 + 3] != 0) {
                top = top || y == 0;
                bottom = bottom || y == height - 1;
                left = left || x == 0;
                right = right || x == width - 1;
            }
    require(top && bottom && left && right, "a box not tight round its pixels");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Qor::Fuzzing;
    using namespace Qor::Tools;
    // One renderer for the whole run: making one loads the system's fonts.
    static TextMessages messages("f.ass", nullptr);
    static TextRenderer renderer(Width, Height, messages);

    TextScript script;
    script.kind = ScriptKind::Ass;
    script.name = "f.ass";
    std::string error = decodeScriptText(std::vector<uint8_t>(data, data + size), "f.ass", "", script.text);
    if (refused(error, "f.ass"))
        return 0;
    std::vector<TimedEvent> events;
    std::vector<std::string> warnings;
    error = renderer.load(script, events, warnings);
    if (refused(error, "f.ass", warnings)) {
        require(events.empty(), "events kept on refusal");
        return 0;
    }
    const size_t lines = splitLines(script.text).size();
    for (const TimedEvent& event : events) {
        require(event.line >= 1 && event.line <= lines, "an event's line is not in the file");
        require(event.start >= 0 && event.end <= LatestTime, "an event's times");
    }
    const std::vector<Interval> intervals = cutTimeline(events);
    for (size_t k = 0; k < intervals.size() && k < MostIntervalsDrawn; ++k) {
        // The tool refuses such a script before it draws anything.
        error = checkGlyphArea(intervals[k], events, Width, Height, "f.ass");
        if (refused(error, "f.ass"))
            return 0;
        TextPicture picture;
        error = renderer.render(intervals[k].start + (intervals[k].end - intervals[k].start) / 2, picture);
        require(error.empty(), "a picture refused with fonts installed");
        checkPicture(picture);
    }
    return 0;
}
