#include "tools/JsonLines.h"

#include "tools/InputFile.h"

#include <cstdio>

namespace Qor::Tools {

namespace {

bool isSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string byteText(uint8_t c)
{
    char text[16];
    if (c >= 0x20 && c < 0x7F)
        std::snprintf(text, sizeof text, "\"%c\"", char(c));
    else
        std::snprintf(text, sizeof text, "byte 0x%02X", c);
    return text;
}

// The library's message without its own prefix ("[json.exception...] " and
// "parse error at line 1, column 10: "): the caller names the place.
std::string reasonOf(const char* what)
{
    std::string text = what;
    const size_t bracket = text.find("] ");
    if (text.rfind("[json.exception.", 0) == 0 && bracket != std::string::npos)
        text.erase(0, bracket + 2);
    const size_t place = text.find(": ");
    if (text.rfind("parse error", 0) == 0 && place != std::string::npos)
        text.erase(0, place + 2);
    return text;
}

} // namespace

std::string readJsonLines(InputFile& input,
    const std::function<std::string(const nlohmann::json& object, const std::string& where)>& take)
{
    JsonLinesReader lines(input);
    for (;;) {
        nlohmann::json object;
        bool end = false;
        if (std::string error = lines.next(object, end); !error.empty() || end)
            return error;
        if (std::string error = take(object, input.name() + ": line " + std::to_string(lines.lineNumber()));
            !error.empty())
            return error;
    }
}

std::string JsonLinesReader::where() const
{
    return input.name() + ": line " + std::to_string(line);
}

std::string JsonLinesReader::next(nlohmann::json& object, bool& end)
{
    end = false;
    std::string text;
    for (;;) {
        text.clear();
        ++line;
        bool begun = false; // past the spaces that may open a line
        uint8_t c = 0;
        size_t got = 0;
        for (;;) {
            if (std::string error = input.read(&c, 1, got); !error.empty())
                return error;
            if (got == 0 || c == '\n')
                break;
            if (!started) {
                started = true;
                // A byte-order mark, which some editors put first.
                if (c == 0xEF) {
                    uint8_t rest[2] = {};
                    if (std::string error = input.read(rest, 2, got); !error.empty())
                        return error;
                    if (got == 2 && rest[0] == 0xBB && rest[1] == 0xBF)
                        continue;
                    return input.name() + ": not JSON lines: byte 0xEF at byte offset 0, not \"{\"";
                }
            }
            if (!begun && !isSpace(c)) {
                if (c != '{' && line == 1)
                    return input.name() + ": not JSON lines: " + byteText(c) + " at byte offset "
                        + std::to_string(input.position() - 1) + ", not \"{\"";
                if (c != '{')
                    return where() + ", column " + std::to_string(text.size() + 1) + ": " + byteText(c)
                        + " where an object's \"{\" must be";
                begun = true;
            }
            text += char(c);
            if (text.size() > LongestJsonLine)
                return where() + ": longer than " + std::to_string(LongestJsonLine)
                    + " bytes; a line describes one picture (is this a list?)";
        }
        if (!begun) {
            if (got == 0) {
                end = true;
                return "";
            }
            continue; // a blank line
        }
        // The field being read when a number overflows, for the message.
        std::string field;
        const nlohmann::json::parser_callback_t note = [&field](int depth, nlohmann::json::parse_event_t event,
                                                          nlohmann::json& parsed) {
            if (event == nlohmann::json::parse_event_t::key && depth == 1 && parsed.is_string())
                field = parsed.get<std::string>();
            return true;
        };
        try {
            object = nlohmann::json::parse(text, note);
        } catch (const nlohmann::json::parse_error& error) {
            return where() + ", column " + std::to_string(error.byte) + ": " + reasonOf(error.what());
        } catch (const nlohmann::json::exception& error) {
            // The key as JSON writes it, so that a "\n" in it keeps the message one line.
            return where() + (field.empty() ? std::string() : ", field " + shownJson(field)) + ": "
                + reasonOf(error.what());
        }
        return "";
    }
}

std::string shownJson(const nlohmann::json& value)
{
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > 40)
        text = text.substr(0, 37) + "...";
    return text;
}

} // namespace Qor::Tools
