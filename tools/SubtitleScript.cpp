#include "tools/SubtitleScript.h"

#include "tools/InputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <optional>

#include <iconv.h>

namespace Qor::Tools {

namespace {

constexpr size_t FirstBlockBytes = 65536;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

bool sameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string hexByte(uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string quoted(std::string_view text)
{
    constexpr size_t Longest = 40;
    if (text.size() > Longest)
        return "\"" + std::string(text.substr(0, Longest)) + "...\"";
    return "\"" + std::string(text) + "\"";
}

// The line and column (both from 1) of byte `offset` of `text`.
std::pair<size_t, size_t> placeOf(std::string_view text, size_t offset)
{
    size_t line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++line;
            lineStart = i + 1;
        }
    }
    return {line, offset - lineStart + 1};
}

std::string at(const std::string& name, size_t line)
{
    return name + ": line " + std::to_string(line) + ": ";
}

// The well-formed UTF-8 sequences of more than one byte, by their lead
// byte: how long each is, and the range its second byte must fall in, which
// leaves out overlong forms, surrogates and code points past U+10FFFF. The
// bytes after the second are always 0x80 to 0xBF.
struct LeadByte {
    uint8_t first;
    uint8_t last;
    size_t length;
    uint8_t low;
    uint8_t high;
};
constexpr LeadByte leadBytes[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF},
    {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F},
    {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF},
    {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// The offset of the first byte of `text` that does not begin or continue a
// well-formed UTF-8 character (no overlong forms, surrogates or code points
// past U+10FFFF), or of its first NUL; npos when there is none.
size_t firstBadUtf8(std::string_view text, bool& nul)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const uint8_t lead = bytes[i];
        if (lead == 0) {
            nul = true;
            return i;
        }
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const LeadByte* found = nullptr;
        for (const LeadByte& row : leadBytes)
            if (lead >= row.first && lead <= row.last)
                found = &row;
        if (!found || i + found->length > size)
            return i;
        const size_t length = found->length;
        if (bytes[i + 1] < found->low || bytes[i + 1] > found->high)
            return i;
        for (size_t k = 2; k < length; ++k)
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF)
                return i;
        i += length;
    }
    return std::string_view::npos;
}

std::string checkUtf8(std::string_view text, const std::string& name, const std::string& encoding)
{
    bool nul = false;
    const size_t bad = firstBadUtf8(text, nul);
    if (bad == std::string_view::npos)
        return "";
    const auto [line, column] = placeOf(text, bad);
    if (nul)
        return at(name, line) + "a NUL character at column " + std::to_string(column)
            + "; a subtitle file is text";
    const std::string byte = hexByte(uint8_t(text[bad]));
    if (!encoding.empty())
        return at(name, line) + "byte " + byte + " at column " + std::to_string(column) + " is not UTF-8";
    return at(name, line) + "byte " + byte + " at column " + std::to_string(column)
        + " is not UTF-8; name the file's encoding with --encoding (WINDOWS-1252, say)";
}

bool isUtf8Name(const std::string& encoding)
{
    return sameLetters(encoding, "UTF-8") || sameLetters(encoding, "UTF8");
}

// Converts `bytes` from `encoding` to UTF-8 through iconv.
std::string convert(std::string_view bytes, const std::string& encoding, const std::string& name, std::string& text)
{
    iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == iconv_t(-1))
        return name + ": the encoding " + quoted(encoding) + " is not one iconv converts";
    std::string out(bytes.size() + bytes.size() / 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    size_t written = 0;
    std::string error;
    while (inLeft > 0) {
        char* next = &out[written];
        size_t outLeft = out.size() - written;
        const size_t result = iconv(converter, &in, &inLeft, &next, &outLeft);
        written = size_t(next - out.data());
        if (result != size_t(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        const size_t offset = bytes.size() - inLeft;
        const size_t line = placeOf(std::string_view(out.data(), written), written).first;
        if (errno == EILSEQ)
            error = at(name, line) + "byte " + hexByte(uint8_t(bytes[offset])) + " at byte offset "
                + std::to_string(offset) + " is not " + encoding;
        else
            error = at(name, line) + "the file ends inside a character of " + encoding;
        break;
    }
    iconv_close(converter);
    if (!error.empty())
        return error;
    out.resize(written);
    text.swap(out);
    return "";
}

// A byte-order mark at the start of `bytes`: its length and encoding.
struct ByteOrderMark {
    size_t length = 0;
    const char* encoding = "";
};

ByteOrderMark byteOrderMark(const uint8_t* bytes, size_t size)
{
    const auto starts = [&](std::initializer_list<uint8_t> mark) {
        return size >= mark.size() && std::equal(mark.begin(), mark.end(), bytes);
    };
    if (starts({0xEF, 0xBB, 0xBF}))
        return {3, "UTF-8"};
    if (starts({0xFF, 0xFE, 0x00, 0x00}))
        return {4, "UTF-32LE"};
    if (starts({0x00, 0x00, 0xFE, 0xFF}))
        return {4, "UTF-32BE"};
    if (starts({0xFF, 0xFE}))
        return {2, "UTF-16LE"};
    if (starts({0xFE, 0xFF}))
        return {2, "UTF-16BE"};
    return {};
}

// Reads up to `wanted` more bytes of `input` onto the end of `bytes`;
// `ended` says whether the input ended before them. Answers "" or the reason.
std::string readMore(InputFile& input, std::vector<uint8_t>& bytes, size_t wanted, bool& ended)
{
    const size_t start = bytes.size();
    bytes.resize(start + wanted);
    size_t got = 0;
    std::string error = input.read(bytes.data() + start, wanted, got);
    bytes.resize(start + got);
    ended = got < wanted;
    return error;
}

// A time [H:]MM:SS[,mmm] in milliseconds; answers "" or what is wrong with it.
std::string readTime(std::string_view text, int64_t& milliseconds)
{
    if (!text.empty() && text[0] == '-')
        return quoted(text) + " is a negative time";
    std::string_view fraction;
    const size_t point = text.find_first_of(",.");
    std::string_view clock = text.substr(0, point);
    if (point != std::string_view::npos)
        fraction = text.substr(point + 1);
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t colon = clock.find(':', start);
        parts.push_back(clock.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    const std::string form = " is not a time ([H:]MM:SS,mmm)";
    if (parts.size() < 2 || parts.size() > 3 || (point != std::string_view::npos && !allDigits(fraction)))
        return quoted(text) + form;
    for (std::string_view part : parts)
        if (!allDigits(part))
            return quoted(text) + form;
    const std::string_view hours = parts.size() == 3 ? parts[0] : std::string_view("0");
    const std::string_view minutes = parts[parts.size() - 2];
    const std::string_view seconds = parts.back();
    if (minutes.size() > 2 || seconds.size() > 2)
        return quoted(text) + form;
    const auto number = [](std::string_view digits) {
        int64_t value = 0;
        for (char c : digits)
            value = value * 10 + (c - '0');
        return value;
    };
    const std::string_view hourDigits = hours.substr(std::min(hours.find_first_not_of('0'), hours.size()));
    if (number(minutes) >= 60 || number(seconds) >= 60)
        return quoted(text) + ": minutes and seconds are below 60";
    int64_t thousandths = 0;
    for (size_t i = 0; i < 3; ++i)
        thousandths = thousandths * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    const int64_t total = hourDigits.size() > 6
        ? LatestTime + 1
        : ((number(hourDigits) * 60 + number(minutes)) * 60 + number(seconds)) * 1000 + thousandths;
    if (total > LatestTime)
        return quoted(text) + " is past " + timeText(LatestTime)
            + ", the latest time a 32-bit millisecond timing word holds";
    milliseconds = total;
    return "";
}

// True for a line that claims to be a time line: a time, "-->", a time.
bool looksLikeTimeLine(std::string_view line)
{
    const std::string_view text = trimmed(line);
    return !text.empty() && (isDigit(text[0]) || (text[0] == '-' && text.size() > 1 && isDigit(text[1])))
        && text.find("-->") != std::string_view::npos;
}

// Reads "START --> END", anything after END (such as a position) ignored.
std::string readTimeLine(std::string_view line, int64_t& start, int64_t& end)
{
    const std::string_view text = trimmed(line);
    const size_t arrow = text.find("-->");
    const std::string_view first = trimmed(text.substr(0, arrow));
    std::string_view second = trimmed(text.substr(arrow + 3));
    second = second.substr(0, std::min(second.find_first_of(" \t"), second.size()));
    if (second.empty())
        return "the time line has no end time after \"-->\"";
    std::string problem = readTime(first, start);
    if (problem.empty())
        problem = readTime(second, end);
    return problem;
}

struct NamedColour {
    const char* name;
    uint32_t rgb;
};

constexpr NamedColour namedColours[] = {{"white", 0xFFFFFF}, {"black", 0x000000}, {"red", 0xFF0000},
    {"lime", 0x00FF00}, {"green", 0x008000}, {"blue", 0x0000FF}, {"yellow", 0xFFFF00}, {"cyan", 0x00FFFF},
    {"aqua", 0x00FFFF}, {"magenta", 0xFF00FF}, {"fuchsia", 0xFF00FF}, {"grey", 0x808080}, {"gray", 0x808080},
    {"silver", 0xC0C0C0}, {"orange", 0xFFA500}, {"purple", 0x800080}, {"maroon", 0x800000},
    {"navy", 0x000080}, {"olive", 0x808000}, {"teal", 0x008080}};

} // namespace

bool parseColour(std::string_view text, uint32_t& rgb)
{
    for (const NamedColour& colour : namedColours)
        if (sameLetters(text, colour.name)) {
            rgb = colour.rgb;
            return true;
        }
    if (!text.empty() && text[0] == '#')
        text.remove_prefix(1);
    if (text.size() != 6 && text.size() != 3)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        const int digit = isDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (digit < 0)
            return false;
        value = value << 4 | uint32_t(digit);
        if (text.size() == 3)
            value = value << 4 | uint32_t(digit);
    }
    rgb = value;
    return true;
}

namespace {

// An ASS colour override: blue, green, red.
std::string assColour(uint32_t rgb)
{
    char text[32];
    std::snprintf(text, sizeof text, "{\\c&H%02X%02X%02X&}", rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16);
    return text;
}

// The value of attribute `name` in the inside of a tag, such as color="#fff".
bool attribute(std::string_view inside, std::string_view name, std::string_view& value)
{
    for (size_t i = 0; i + name.size() < inside.size(); ++i) {
        if ((i > 0 && !isBlank(inside[i - 1])) || !sameLetters(inside.substr(i, name.size()), name))
            continue;
        size_t p = i + name.size();
        while (p < inside.size() && isBlank(inside[p]))
            ++p;
        if (p >= inside.size() || inside[p] != '=')
            continue;
        ++p;
        while (p < inside.size() && isBlank(inside[p]))
            ++p;
        const char quote = p < inside.size() && (inside[p] == '"' || inside[p] == '\'') ? inside[p] : 0;
        if (quote)
            ++p;
        size_t stop = p;
        while (stop < inside.size() && (quote ? inside[stop] != quote : !isBlank(inside[stop])))
            ++stop;
        value = inside.substr(p, stop - p);
        return true;
    }
    return false;
}

} // namespace

std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

bool knownEncoding(const std::string& encoding)
{
    const iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == iconv_t(-1))
        return false;
    iconv_close(converter);
    return true;
}

std::string decodeScriptText(const std::vector<uint8_t>& bytes, const std::string& name, const std::string& encoding,
    std::string& text)
{
    text.clear();
    const ByteOrderMark mark = byteOrderMark(bytes.data(), bytes.size());
    const std::string source = mark.length ? mark.encoding : encoding;
    const std::string_view body(reinterpret_cast<const char*>(bytes.data()) + mark.length, bytes.size() - mark.length);
    std::string decoded;
    if (source.empty() || isUtf8Name(source)) {
        decoded.assign(body);
    } else if (const std::string error = convert(body, source, name, decoded); !error.empty()) {
        return error;
    }
    if (const std::string error = checkUtf8(decoded, name, source); !error.empty())
        return error;
    text.swap(decoded);
    return "";
}

std::string readScriptFile(const std::string& path, const std::string& encoding, std::string& text)
{
    text.clear();
    InputFile input;
    if (std::string error = input.open(path); !error.empty())
        return error;
    const std::string& name = input.name();
    const std::string most = "more than the " + std::to_string(MaximumScriptBytes >> 20) + " MiB a subtitle file may have";
    const std::string tooLong = name + ": " + most;
    if (input.size() > int64_t(MaximumScriptBytes))
        return name + ": " + std::to_string(input.size()) + " bytes, " + most;
    std::vector<uint8_t> bytes;
    bool ended = false;
    if (std::string error = readMore(input, bytes, FirstBlockBytes, ended); !error.empty())
        return error;
    // Text has no NUL bytes; UTF-16 and UTF-32 have many, and say so first.
    const ByteOrderMark mark = byteOrderMark(bytes.data(), bytes.size());
    const auto nul = std::find(bytes.begin(), bytes.end(), uint8_t(0));
    if (!mark.length && encoding.empty() && nul != bytes.end()) {
        const size_t offset = size_t(nul - bytes.begin());
        const size_t line = placeOf(std::string_view(reinterpret_cast<const char*>(bytes.data()), offset), offset).first;
        return at(name, line) + "a NUL byte at byte offset " + std::to_string(offset)
            + ": not a text file (UTF-16 without a byte-order mark needs --encoding UTF-16LE or UTF-16BE)";
    }
    while (!ended) {
        if (bytes.size() > MaximumScriptBytes)
            return tooLong;
        const size_t wanted = std::min<size_t>(MaximumScriptBytes + 1 - bytes.size(), size_t(1) << 20);
        if (std::string error = readMore(input, bytes, wanted, ended); !error.empty())
            return error;
    }
    if (bytes.size() > MaximumScriptBytes)
        return tooLong;
    return decodeScriptText(bytes, name, encoding, text);
}

std::string detectScriptKind(std::string_view text, const std::string& name, ScriptKind& kind)
{
    const std::vector<std::string_view> lines = splitLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimmed(lines[i]);
        if (line.empty() || line[0] == ';')
            continue;
        if (sameLetters(line, "[Script Info]")) {
            kind = ScriptKind::Ass;
            return "";
        }
        if (allDigits(line) || looksLikeTimeLine(line)) {
            kind = ScriptKind::Srt;
            return "";
        }
        return at(name, i + 1) + quoted(line)
            + " begins neither an SRT file (a caption number or a time line) nor an ASS/SSA script (\"[Script Info]\")";
    }
    return name + ": no captions: the file holds no text";
}

std::string parseSrt(std::string_view text, const std::string& name, std::vector<Caption>& captions,
    std::vector<std::string>& warnings)
{
    captions.clear();
    std::vector<Caption> found;
    const std::vector<std::string_view> lines = splitLines(text);
    bool open = false;
    Caption current;
    const auto finish = [&] {
        if (!open)
            return;
        open = false;
        while (!current.text.empty() && current.text.back() == '\n')
            current.text.pop_back();
        if (current.text.empty())
            return;
        if (current.end <= current.start) {
            warnings.push_back(at(name, current.line) + "the caption ends at " + timeText(current.end)
                + ", not after its start at " + timeText(current.start) + "; it is left out");
            return;
        }
        current.text = srtTextToAss(current.text);
        if (!current.text.empty()) // not a caption of tags that change nothing
            found.push_back(std::move(current));
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::string_view content = trimmed(line);
        if (looksLikeTimeLine(content)) {
            finish();
            current = Caption{};
            current.line = i + 1;
            if (const std::string problem = readTimeLine(content, current.start, current.end); !problem.empty())
                return at(name, i + 1) + problem;
            open = true;
            continue;
        }
        if (content.empty()) {
            // A caption's text ends at a blank line; what comes before the
            // next time line still belongs to it, as when a blank line was
            // typed in the middle of a caption.
            if (open && !current.text.empty() && current.text.back() != '\n')
                current.text += '\n';
            continue;
        }
        if (allDigits(content) && i + 1 < lines.size() && looksLikeTimeLine(lines[i + 1]))
            continue; // the next caption's number
        if (!open)
            return at(name, i + 1) + quoted(content) + " is neither a caption number before a time line nor a time line";
        if (current.text.size() + content.size() >= MaximumEventTextBytes)
            return at(name, current.line) + "the caption has more than " + std::to_string(MaximumEventTextBytes)
                + " bytes of text (it reaches line " + std::to_string(i + 1) + ")";
        if (!current.text.empty() && current.text.back() != '\n')
            current.text += '\n';
        current.text += content;
    }
    finish();
    captions.swap(found);
    return "";
}

std::string srtTextToAss(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    std::vector<std::optional<uint32_t>> colours; // one for each <font> open
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            out += "\\N";
            continue;
        }
        if (c != '<') {
            out += c;
            continue;
        }
        const size_t close = text.find('>', i + 1);
        const size_t nextOpen = text.find('<', i + 1);
        if (close == std::string_view::npos || nextOpen < close) {
            out += c;
            continue;
        }
        std::string_view inside = trimmed(text.substr(i + 1, close - i - 1));
        const bool closing = !inside.empty() && inside[0] == '/';
        if (closing)
            inside = trimmed(inside.substr(1));
        const size_t nameEnd = std::min(inside.find_first_of(" \t"), inside.size());
        const std::string_view tag = inside.substr(0, nameEnd);
        static const char* const simple[] = {"i", "b", "u", "s"};
        bool known = false;
        for (const char* letter : simple)
            if (sameLetters(tag, letter)) {
                out += std::string("{\\") + letter + (closing ? "0}" : "1}");
                known = true;
            }
        if (sameLetters(tag, "font")) {
            known = true;
            if (closing) {
                if (!colours.empty()) {
                    const bool hadColour = colours.back().has_value();
                    colours.pop_back();
                    std::optional<uint32_t> outer;
                    for (auto it = colours.rbegin(); it != colours.rend() && !outer; ++it)
                        outer = *it;
                    if (hadColour)
                        out += outer ? assColour(*outer) : std::string("{\\c}");
                }
            } else {
                std::string_view value;
                uint32_t rgb = 0;
                if (attribute(inside.substr(nameEnd), "color", value) && parseColour(value, rgb)) {
                    colours.push_back(rgb);
                    out += assColour(rgb);
                } else {
                    colours.push_back(std::nullopt);
                }
            }
        }
        if (!known) {
            out += c;
            continue;
        }
        i = close;
    }
    return out;
}

CaptionStyle defaultCaptionStyle(uint16_t height)
{
    CaptionStyle style;
    style.size = std::max(8, (height + 9) / 18);
    style.outline = std::max(1, (style.size + 10) / 20);
    style.margin = std::max(4, (height + 10) / 20);
    return style;
}

std::string srtScriptHeader(const CaptionStyle& style, uint16_t width, uint16_t height)
{
    const auto colour = [](uint32_t rgb) {
        char text[16];
        std::snprintf(text, sizeof text, "&H00%02X%02X%02X", rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16);
        return std::string(text);
    };
    const std::string margin = std::to_string(style.margin);
    return "[Script Info]\nScriptType: v4.00+\nPlayResX: " + std::to_string(width) + "\nPlayResY: "
        + std::to_string(height)
        + "\nWrapStyle: 0\nScaledBorderAndShadow: yes\n\n[V4+ Styles]\n"
          "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
          "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, "
          "MarginL, MarginR, MarginV, Encoding\n"
          "Style: Default,"
        + style.font + "," + std::to_string(style.size) + "," + colour(style.colour) + ",&H000000FF,"
        + colour(style.outlineColour) + ",&H00000000,0,0,0,0,100,100,0,0,1," + std::to_string(style.outline) + ",0,"
        + (style.top ? "8" : "2") + "," + margin + "," + margin + "," + margin
        + ",1\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
}

std::vector<Interval> cutTimeline(const std::vector<TimedEvent>& events)
{
    std::vector<int64_t> cuts;
    std::vector<size_t> order;
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].end > events[i].start) {
            cuts.push_back(events[i].start);
            cuts.push_back(events[i].end);
            order.push_back(i);
        }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return events[a].start < events[b].start; });

    std::vector<Interval> intervals;
    std::vector<size_t> shown;
    size_t next = 0;
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        const int64_t start = cuts[k];
        shown.erase(std::remove_if(shown.begin(), shown.end(), [&](size_t e) { return events[e].end <= start; }),
            shown.end());
        const size_t before = shown.size();
        for (; next < order.size() && events[order[next]].start == start; ++next)
            shown.push_back(order[next]);
        if (shown.empty())
            continue;
        std::sort(shown.begin(), shown.end());
        Interval interval;
        interval.start = start;
        interval.end = cuts[k + 1];
        interval.events = shown;
        // Events carried over from the interval before are those that did
        // not start here; there are some exactly when that interval ends here.
        interval.continues = before > 0 && !intervals.empty() && intervals.back().end == start;
        intervals.push_back(std::move(interval));
    }
    return intervals;
}

double glyphAreaBudget(uint16_t width, uint16_t height)
{
    return std::min(16.0 * width * height, double(uint64_t(1) << 26));
}

std::string checkGlyphArea(const Interval& interval, const std::vector<TimedEvent>& events, uint16_t width,
    uint16_t height, const std::string& name)
{
    double area = 0;
    for (size_t e : interval.events)
        area += events[e].glyphArea;
    const double budget = glyphAreaBudget(width, height);
    if (area <= budget)
        return "";
    char text[160];
    std::snprintf(text, sizeof text, "glyphs of %.1f million pixels, more than the %.1f million a %ux%u picture allows",
        std::min(area, 1e15) / 1e6, budget / 1e6, unsigned(width), unsigned(height));
    return name + ": " + describeInterval(interval, events) + ": the text shown then asks for " + text
        + " (is a size, scale, spacing, border, blur, turn or drawing far too large?)";
}

std::string describeInterval(const Interval& interval, const std::vector<TimedEvent>& events)
{
    std::string text = interval.events.size() == 1 ? "line " : "lines ";
    for (size_t i = 0; i < interval.events.size(); ++i)
        text += (i ? ", " : "") + std::to_string(events[interval.events[i]].line);
    return text + ", at " + timeText(interval.start);
}

std::string timeText(int64_t milliseconds)
{
    char text[48];
    const char* sign = milliseconds < 0 ? "-" : "";
    const uint64_t value = milliseconds < 0 ? uint64_t(-(milliseconds + 1)) + 1 : uint64_t(milliseconds);
    std::snprintf(text, sizeof text, "%s%llu:%02llu:%02llu.%03llu", sign, (unsigned long long)(value / 3600000),
        (unsigned long long)(value / 60000 % 60), (unsigned long long)(value / 1000 % 60),
        (unsigned long long)(value % 1000));
    return text;
}

} // namespace Qor::Tools
