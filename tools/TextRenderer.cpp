#include "tools/TextRenderer.h"

#include <ass/ass.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>

namespace Qor::Tools {

namespace {

// libass keeps glyphs and their bitmaps for the next picture; a caption
// seldom repeats, so a small cache does nearly as well as its large default.
constexpr int GlyphCacheSize = 2000;
constexpr int BitmapCacheMegabytes = 16;

void receiveMessage(int level, const char* format, va_list arguments, void* data)
{
    // Below: libass's debugging chatter, several lines for every event.
    if (level > 2)
        return;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    static_cast<TextMessages*>(data)->receive(level, text);
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The text between `open` and the first `close` after it, from `from` on.
std::string between(const std::string& text, const char* open, const char* close, size_t from = 0)
{
    const size_t start = text.find(open, from);
    if (start == std::string::npos)
        return "";
    const size_t first = start + std::strlen(open);
    const size_t stop = text.find(close, first);
    return text.substr(first, stop == std::string::npos ? std::string::npos : stop - first);
}

bool startsWithDialogue(std::string_view line)
{
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line.compare(0, 9, "Dialogue:") == 0;
}

bool isSectionLine(std::string_view line, std::string_view section)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    if (line.size() != section.size())
        return false;
    for (size_t i = 0; i < line.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(section[i])))
            return false;
    return true;
}

// The largest glyph an event's text may ask for, in the script's units.
struct GlyphExtent {
    double size = 0;
    double scale = 1; // ScaleX, ScaleY, \fscx, \fscy as fractions
    double shear = 0; // \fax, \fay
    double shearY = 0; // \fay alone: a line's height grows with its length
    double border = 0; // outlines, shadows and blurs
    double spacing = 0; // Spacing, \fsp: more room between glyphs
    bool turned = false; // Angle, \frz, \frx, \fry: a line's box grows with its length

    void add(const ASS_Style& style)
    {
        size = std::max(size, std::fabs(style.FontSize));
        scale = std::max({scale, std::fabs(style.ScaleX), std::fabs(style.ScaleY)});
        border = std::max({border, std::fabs(style.Outline), std::fabs(style.Shadow), std::fabs(style.Blur)});
        spacing = std::max(spacing, std::fabs(style.Spacing));
        turned = turned || style.Angle != 0;
    }
};

// The longest runs of characters an event's text holds: between spaces
// (where libass may wrap a line) and between line breaks.
struct TextRuns {
    size_t characters = 0;
    size_t word = 0, longestWord = 0;
    size_t line = 0, longestLine = 0;

    void character()
    {
        ++characters;
        longestWord = std::max(longestWord, ++word);
        longestLine = std::max(longestLine, ++line);
    }
    void space() { word = 0; }
    void lineBreak() { word = line = 0; }
};

// The drawings (\p1 and on) an event's text holds, each as its width plus
// its height in the script's units.
class Drawings {
public:
    std::vector<double> sides;

    bool open() const { return scale_ > 0; }

    // A \p tag: a drawing of that level begins where `level` is 1 or more.
    void begin(double level)
    {
        end();
        if (level < 1)
            return;
        scale_ = std::ldexp(1.0, 1 - int(std::min(level, 64.0)));
        low_[0] = low_[1] = HUGE_VAL;
        high_[0] = high_[1] = -HUGE_VAL;
        axis_ = 0;
    }

    // A coordinate, x and y in turn.
    void coordinate(double value)
    {
        value = std::isfinite(value) ? value * scale_ : 1e12;
        low_[axis_] = std::min(low_[axis_], value);
        high_[axis_] = std::max(high_[axis_], value);
        axis_ ^= 1;
    }

    void end()
    {
        if (!open())
            return;
        double side = 0;
        for (int axis = 0; axis < 2; ++axis)
            side += high_[axis] >= low_[axis] ? high_[axis] - low_[axis] : 0;
        sides.push_back(side);
        scale_ = 0;
    }

private:
    double scale_ = 0; // of the drawing being read; 0 outside drawings
    double low_[2] = {};
    double high_[2] = {};
    int axis_ = 0;
};

const ASS_Style* styleNamed(const ASS_Track& track, std::string_view name)
{
    for (int i = 0; i < track.n_styles; ++i)
        if (track.styles[i].Name && name == track.styles[i].Name)
            return &track.styles[i];
    return nullptr;
}

double numberAt(const char*& p)
{
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    if (end == p)
        return 0;
    p = end;
    return std::isfinite(value) ? std::fabs(value) : 1e12;
}

// What drawing `event` may cost, in picture pixels: its glyphs each drawn
// whole at the largest size, scale, shear, spacing and border its style,
// the styles it switches to (\r) and its override tags ask for; and where
// the text is turned or sheared upwards, the box of each of its lines,
// which libass draws into one bitmap; and the box of each drawing. Only
// the tags that change a glyph's size or a line's box, and a drawing's
// coordinates, are read; libass reads the rest.
double glyphArea(const ASS_Track& track, const ASS_Event& event, uint16_t width, uint16_t height)
{
    GlyphExtent extent;
    if (event.Style >= 0 && event.Style < track.n_styles)
        extent.add(track.styles[event.Style]);
    TextRuns runs;
    Drawings drawings;
    bool wraps = track.WrapStyle != 2;
    int depth = 0;
    for (const char* p = event.Text; *p;) {
        if (*p == '{') {
            ++depth;
            ++p;
            continue;
        }
        if (*p == '}') {
            depth = std::max(0, depth - 1);
            ++p;
            continue;
        }
        if (depth == 0 && drawings.open()) {
            char* end = nullptr;
            const bool number = std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '+' || *p == '.';
            const double value = number ? std::strtod(p, &end) : 0;
            if (number && end != p)
                drawings.coordinate(value);
            p = number && end != p ? end : p + 1;
            continue;
        }
        if (depth == 0 && *p == ' ')
            runs.space();
        if (depth == 0 && p[0] == '\\' && p[1] == 'N')
            runs.lineBreak();
        if (depth == 0 && p[0] == '\\' && p[1] == 'n') // a line break only where nothing wraps
            wraps ? runs.space() : runs.lineBreak();
        if (depth == 0 || *p != '\\') {
            if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80)
                runs.character();
            ++p;
            continue;
        }
        const char* name = ++p;
        while (std::isalpha(static_cast<unsigned char>(*p)))
            ++p;
        const std::string_view tag(name, size_t(p - name));
        if (!tag.empty() && tag[0] == 'r') {
            const char* stop = name + 1;
            while (*stop && *stop != '\\' && *stop != '}')
                ++stop;
            const ASS_Style* style = styleNamed(track, std::string_view(name + 1, size_t(stop - name - 1)));
            if (style)
                extent.add(*style);
            p = stop;
        } else if (tag == "fs") {
            extent.size = std::max(extent.size, numberAt(p));
        } else if (tag == "fscx" || tag == "fscy") {
            extent.scale = std::max(extent.scale, numberAt(p) / 100);
        } else if (tag == "fax" || tag == "fay") {
            const double shear = numberAt(p);
            extent.shear = std::max(extent.shear, shear);
            if (tag == "fay")
                extent.shearY = std::max(extent.shearY, shear);
        } else if (tag == "fsp") {
            extent.spacing = std::max(extent.spacing, numberAt(p));
        } else if (tag == "fr" || tag == "frz" || tag == "frx" || tag == "fry") {
            extent.turned = extent.turned || numberAt(p) != 0;
        } else if (tag == "p") {
            drawings.begin(numberAt(p));
        } else if (tag == "q") {
            wraps = wraps && numberAt(p) != 2;
        } else if (tag == "bord" || tag == "xbord" || tag == "ybord" || tag == "shad" || tag == "xshad"
            || tag == "yshad" || tag == "blur" || tag == "be") {
            extent.border = std::max(extent.border, numberAt(p));
        }
    }
    drawings.end();
    // libass lays a script out on its PlayResX x PlayResY and scales that to the picture.
    const double resY = track.PlayResY > 0 ? track.PlayResY : track.PlayResX > 0 ? track.PlayResX * 3.0 / 4 : 288;
    const double resX = track.PlayResX > 0 ? track.PlayResX : resY * 4 / 3;
    const double toPicture = std::max(height / std::max(resY, 1.0), width / std::max(resX, 1.0));
    const double side = std::max(1.0, (extent.size * extent.scale * (1 + extent.shear) + 2 * extent.border) * toPicture);
    const double advance = side + extent.spacing * extent.scale * toPicture;
    const double characters = double(std::max<size_t>(runs.characters, 1));
    double area = side * advance * characters;
    if (extent.turned || extent.shearY > 0) {
        // A wrapped line is as long as the picture is wide, or its longest word.
        double margins = 0;
        if (event.Style >= 0 && event.Style < track.n_styles)
            margins = std::abs(track.styles[event.Style].MarginL) + std::abs(track.styles[event.Style].MarginR);
        margins = std::max(margins, double(std::abs(event.MarginL)) + std::abs(event.MarginR));
        const double whole = advance * characters;
        const double longest = wraps ? std::max(width + margins * toPicture, advance * runs.longestWord)
                                     : advance * runs.longestLine;
        const double line = std::max(advance, std::min(whole, longest));
        const double box = std::max((line + side) * (line + side) / 2, line * (extent.shearY * line + side));
        area += std::ceil(whole / line) * box;
    }
    // A drawing's box, turned or not, is at most half the square of its width plus height.
    for (const double drawing : drawings.sides) {
        const double sum = std::max(1.0, (drawing * extent.scale + 4 * extent.border) * toPicture);
        area += sum * sum / 2;
    }
    return area;
}

// A libass image's rectangle, and the smallest one holding its pixels of
// some alpha (libass pads its bitmaps for blurs and outlines).
void measure(const ASS_Image& image, TextBox& whole, TextBox& inked)
{
    whole = TextBox{image.dst_x, image.dst_y, image.dst_x + image.w, image.dst_y + image.h};
    inked = TextBox{};
    if ((image.color & 0xFF) == 0xFF)
        return; // a colour of no opacity
    int left = image.w;
    int right = -1;
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < image.h; ++y) {
        const uint8_t* row = image.bitmap + size_t(y) * size_t(image.stride);
        int first = 0;
        while (first < image.w && row[first] == 0)
            ++first;
        if (first == image.w)
            continue;
        int last = image.w - 1;
        while (row[last] == 0)
            --last;
        left = std::min(left, first);
        right = std::max(right, last);
        if (top < 0)
            top = y;
        bottom = y;
    }
    if (top >= 0)
        inked = TextBox{image.dst_x + left, image.dst_y + top, image.dst_x + right + 1, image.dst_y + bottom + 1};
}

// Blends `image` over the premultiplied pixels of `box`.
void blendImage(const ASS_Image& image, const TextBox& box, uint8_t* pixels)
{
    const uint32_t red = image.color >> 24;
    const uint32_t green = (image.color >> 16) & 0xFF;
    const uint32_t blue = (image.color >> 8) & 0xFF;
    const uint32_t opacity = 255 - (image.color & 0xFF); // libass gives transparency
    if (opacity == 0)
        return;
    const int top = std::max(image.dst_y, box.top);
    const int bottom = std::min(image.dst_y + image.h, box.bottom);
    const int left = std::max(image.dst_x, box.left);
    const int right = std::min(image.dst_x + image.w, box.right);
    for (int y = top; y < bottom; ++y) {
        const uint8_t* mask = image.bitmap + size_t(y - image.dst_y) * size_t(image.stride) - image.dst_x;
        uint8_t* out = pixels + (size_t(y - box.top) * size_t(box.width()) + size_t(left - box.left)) * 4;
        for (int x = left; x < right; ++x, out += 4) {
            const uint32_t alpha = (mask[x] * opacity + 127) / 255;
            if (alpha == 0)
                continue;
            const uint32_t keep = 255 - alpha;
            out[0] = uint8_t((red * alpha + out[0] * keep + 127) / 255);
            out[1] = uint8_t((green * alpha + out[1] * keep + 127) / 255);
            out[2] = uint8_t((blue * alpha + out[2] * keep + 127) / 255);
            out[3] = uint8_t(alpha + (out[3] * keep + 127) / 255);
        }
    }
}

} // namespace

void TextBox::add(const TextBox& other)
{
    if (other.empty())
        return;
    if (empty()) {
        *this = other;
        return;
    }
    left = std::min(left, other.left);
    top = std::min(top, other.top);
    right = std::max(right, other.right);
    bottom = std::max(bottom, other.bottom);
}

TextMessages::TextMessages(std::string name, std::function<void(const std::string&)> warn)
    : name(std::move(name)), warn(std::move(warn))
{
}

void TextMessages::once(const std::string& key, const std::string& warning)
{
    if (told.insert(key).second && warn)
        warn(name + ": " + warning);
}

void TextMessages::receive(int level, const std::string& message)
{
    std::lock_guard<std::mutex> lock(mutex);
    // "fontselect: Using default font family: (Face, 400, 0) -> /path/face.ttf, 0, PostScriptName"
    if (startsWith(message, "fontselect: Using ")) {
        const std::string asked = between(message, ": (", ", ");
        const size_t arrow = message.find(") -> ");
        const std::string path = arrow == std::string::npos ? "" : between(message, ") -> ", ", ", arrow);
        const size_t last = message.rfind(", ");
        const std::string face = last == std::string::npos ? "" : message.substr(last + 2);
        once("font " + asked, "font \"" + asked + "\" not found; " + face + " (" + path + ") stands in for it");
        return;
    }
    // "fontselect: failed to find any fallback with glyph 0x4E00 for font: (Face, 400, 0)"
    if (startsWith(message, "fontselect: failed to find any fallback")) {
        const std::string asked = between(message, "for font: (", ", ");
        const std::string glyph = between(message, "with glyph 0x", " ");
        if (glyph == "0" || glyph.empty()) {
            if (failed.empty())
                failed = name + ": no font found for \"" + asked + "\", nor any to stand in for it (is "
                    + DefaultFontFamily + " installed?)";
            return;
        }
        once("glyph " + asked, "no font has the character U+" + glyph + " (asked of \"" + asked
                + "\"); such characters are left out");
        return;
    }
    if (level <= 1)
        once("libass " + message, "libass: " + message);
}

std::string TextMessages::failure() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return failed;
}

TextRenderer::TextRenderer(uint16_t width, uint16_t height, TextMessages& messages)
    : width(width), height(height), messages(messages)
{
    library = ass_library_init();
    if (!library)
        throw std::bad_alloc();
    ass_set_message_cb(library, receiveMessage, &messages);
    ass_set_extract_fonts(library, 1);
    renderer = ass_renderer_init(library);
    if (!renderer) {
        ass_library_done(library);
        throw std::bad_alloc();
    }
    ass_set_frame_size(renderer, width, height);
    ass_set_storage_size(renderer, width, height);
    ass_set_fonts(renderer, nullptr, DefaultFontFamily, ASS_FONTPROVIDER_FONTCONFIG, nullptr, 1);
    ass_set_cache_limits(renderer, GlyphCacheSize, BitmapCacheMegabytes);
}

TextRenderer::~TextRenderer()
{
    if (track)
        ass_free_track(track);
    ass_renderer_done(renderer);
    ass_library_done(library);
}

std::string TextRenderer::load(const TextScript& script, std::vector<TimedEvent>& events,
    std::vector<std::string>& warnings)
{
    events.clear();
    if (track)
        ass_free_track(track);
    track = ass_new_track(library);
    if (!track)
        throw std::bad_alloc();
    std::vector<TimedEvent> found;
    const std::string error = script.kind == ScriptKind::Ass ? loadAss(script, found, warnings) : loadSrt(script, found);
    if (!error.empty()) {
        ass_free_track(track);
        track = nullptr;
        return error;
    }
    events.swap(found);
    return "";
}

std::string TextRenderer::loadSrt(const TextScript& script, std::vector<TimedEvent>& events)
{
    std::string header = script.text;
    ass_process_codec_private(track, header.data(), int(header.size()));
    for (size_t i = 0; i < script.captions.size(); ++i) {
        const Caption& caption = script.captions[i];
        // ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text
        std::string chunk = std::to_string(i) + ",0,Default,,0,0,0,," + caption.text;
        const int before = track->n_events;
        ass_process_chunk(track, chunk.data(), int(chunk.size()), caption.start, caption.end - caption.start);
        if (track->n_events != before + 1)
            return script.name + ": line " + std::to_string(caption.line) + ": libass did not take the caption";
        events.push_back(
            TimedEvent{caption.start, caption.end, caption.line, glyphArea(*track, track->events[before], width, height)});
    }
    return "";
}

std::string TextRenderer::loadAss(const TextScript& script, std::vector<TimedEvent>& events,
    std::vector<std::string>& warnings)
{
    // libass reads the script a line at a time, so that every event it
    // takes is known by its line, and a Dialogue line it drops is found.
    const std::vector<std::string_view> lines = splitLines(script.text);
    bool inEvents = false;
    std::string line;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string where = script.name + ": line " + std::to_string(i + 1) + ": ";
        if (!lines[i].empty() && lines[i].front() == '[')
            inEvents = isSectionLine(lines[i], "[Events]");
        line.assign(lines[i]);
        const int before = track->n_events;
        ass_process_data(track, line.data(), int(line.size()));
        if (track->n_events == before) {
            if (inEvents && startsWithDialogue(lines[i]))
                return where + "libass cannot read this Dialogue line (do its fields follow the Format line?)";
            continue;
        }
        for (int e = before; e < track->n_events; ++e) {
            const ASS_Event& event = track->events[e];
            const int64_t start = event.Start;
            const int64_t end = event.Start + event.Duration;
            if (start < 0)
                return where + "the event starts at " + timeText(start) + ", before 0:00:00";
            if (event.Duration > LatestTime || end > LatestTime)
                return where + "the event ends past " + timeText(LatestTime)
                    + ", the latest time a 32-bit millisecond timing word holds";
            if (std::strlen(event.Text) > MaximumEventTextBytes)
                return where + "the event has more than " + std::to_string(MaximumEventTextBytes) + " bytes of text";
            if (event.Duration <= 0)
                warnings.push_back(where + "the event ends at " + timeText(end) + ", not after its start at "
                    + timeText(start) + "; it is never shown");
            events.push_back(TimedEvent{start, end, i + 1, glyphArea(*track, event, width, height)});
        }
    }
    if (track->track_type == ass_track::TRACK_TYPE_UNKNOWN)
        return script.name + ": not an ASS or SSA script: it has no [V4+ Styles] or [V4 Styles] section";
    return "";
}

std::string TextRenderer::render(int64_t time, TextPicture& picture)
{
    picture = TextPicture{};
    if (!track)
        return "no script loaded";
    const ASS_Image* images = ass_render_frame(renderer, track, time, nullptr);
    if (std::string failure = messages.failure(); !failure.empty())
        return failure;
    for (const ASS_Image* image = images; image; image = image->next) {
        if (image->w <= 0 || image->h <= 0)
            continue;
        TextBox whole;
        TextBox inked;
        measure(*image, whole, inked);
        picture.reported.add(whole);
        picture.box.add(inked);
    }
    const TextBox inked = picture.box;
    picture.box = TextBox{};
    if (inked.empty())
        return "";
    blend.assign(size_t(inked.width()) * size_t(inked.height()) * 4, 0);
    for (const ASS_Image* image = images; image; image = image->next)
        if (image->w > 0 && image->h > 0)
            blendImage(*image, inked, blend.data());
    // Mask values too faint for their colour's opacity round to nothing.
    int left = inked.width();
    int right = -1;
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < inked.height(); ++y) {
        const uint8_t* row = blend.data() + size_t(y) * size_t(inked.width()) * 4;
        for (int x = 0; x < inked.width(); ++x)
            if (row[size_t(x) * 4 + 3] != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                bottom = y;
                if (top < 0)
                    top = y;
            }
    }
    if (top < 0)
        return "";
    const TextBox box{inked.left + left, inked.top + top, inked.left + right + 1, inked.top + bottom + 1};
    picture.box = box;
    picture.rgba.resize(size_t(box.width()) * size_t(box.height()) * 4);
    uint8_t* out = picture.rgba.data();
    for (int y = box.top; y < box.bottom; ++y) {
        const uint8_t* in = blend.data() + (size_t(y - inked.top) * size_t(inked.width()) + size_t(box.left - inked.left)) * 4;
        for (int x = box.left; x < box.right; ++x, in += 4, out += 4) {
            const uint32_t alpha = in[3];
            for (size_t c = 0; c < 3; ++c)
                out[c] = alpha ? uint8_t(std::min<uint32_t>(255, (in[c] * 255 + alpha / 2) / alpha)) : 0;
            out[3] = uint8_t(alpha);
        }
    }
    return "";
}

} // namespace Qor::Tools
