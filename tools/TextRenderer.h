// Text subtitles drawn by libass: a script loaded into a libass track (an
// ASS/SSA script by libass's own parser, SRT captions as events under the
// style header), the events with the lines they came from, and the picture
// of what is shown at a moment, libass's images blended into RGBA and cut
// to the pixels that show.
//
// A TextRenderer owns its libass library, renderer and track, which libass
// does not let threads share: each thread makes its own. Their messages go
// to one TextMessages, which may be shared.
#ifndef KELVO_TOOLS_TEXTRENDERER_H
#define KELVO_TOOLS_TEXTRENDERER_H

#include "tools/SubtitleScript.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct ass_library;
struct ass_renderer;
struct ass_track;

namespace Qor::Tools {

// The family libass falls back to when a face is not found.
constexpr char DefaultFontFamily[] = "DejaVu Sans";

// A subtitle file as the renderer takes it.
struct TextScript {
    ScriptKind kind = ScriptKind::Srt;
    std::string name; // begins every message
    std::string text; // an ASS/SSA script whole; for SRT, the header srtScriptHeader makes
    std::vector<Caption> captions; // SRT only
};

// What libass reports while it reads and draws, told once: a face that was
// not found and what stands in for it, a character no font has, libass's
// errors; and a failure when no font at all can be found. Safe to share
// between threads.
class TextMessages {
public:
    // `name` begins every message; `warn` is given each warning, one line.
    TextMessages(std::string name, std::function<void(const std::string&)> warn);

    // One message of libass at its level (0 fatal to 7 debug).
    void receive(int level, const std::string& message);
    // Why rendering cannot go on, or "".
    std::string failure() const;

private:
    void once(const std::string& key, const std::string& warning);

    const std::string name;
    const std::function<void(const std::string&)> warn;
    mutable std::mutex mutex;
    std::set<std::string> told;
    std::string failed;
};

// A rectangle of picture pixels, right and bottom exclusive.
struct TextBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    void add(const TextBox& other);
};

// What is shown at one moment.
struct TextPicture {
    TextBox reported; // the union of the rectangles of libass's images
    TextBox box;      // the pixels of some alpha, within `reported`; empty when nothing shows
    std::vector<uint8_t> rgba; // box's pixels, red, green, blue and (not premultiplied) alpha
};

class TextRenderer {
public:
    // A renderer for a picture of `width` x `height` pixels. Nothing is
    // loaded until load().
    TextRenderer(uint16_t width, uint16_t height, TextMessages& messages);
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // Loads `script` and answers "" with its events, each with its line,
    // in the order the track holds them; or answers why not. Refuses a
    // Dialogue line libass cannot read, an event that starts before 0 or
    // ends past LatestTime, one of more than MaximumEventTextBytes of text,
    // and a script of no ASS or SSA style section. An event that ends
    // before it starts is kept (never shown) with a line in `warnings`.
    std::string load(const TextScript& script, std::vector<TimedEvent>& events, std::vector<std::string>& warnings);

    // Draws what is shown at `time` (milliseconds) into `picture` and
    // answers "", or answers why not (no font at all).
    std::string render(int64_t time, TextPicture& picture);

private:
    std::string loadAss(const TextScript& script, std::vector<TimedEvent>& events, std::vector<std::string>& warnings);
    std::string loadSrt(const TextScript& script, std::vector<TimedEvent>& events);

    const uint16_t width;
    const uint16_t height;
    TextMessages& messages;
    ass_library* library = nullptr;
    ass_renderer* renderer = nullptr;
    ass_track* track = nullptr;
    std::vector<uint8_t> blend; // premultiplied pixels, kept from one picture to the next
};

} // namespace Qor::Tools

#endif
