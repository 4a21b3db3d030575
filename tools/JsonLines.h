// JSON lines: one JSON object a line, as the renderer writes its manifest
// and as the encoder reads a list of images. The parsing is the JSON
// library's (full escapes, nested values, numbers of any size); this unit
// reads the lines, a buffer at a time, and names the line, the column and,
// for a number out of range, the field in every refusal.
#ifndef KELVO_TOOLS_JSONLINES_H
#define KELVO_TOOLS_JSONLINES_H

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <string>

namespace Qor::Tools {

class InputFile;

// The longest line taken: an object describing one picture is a few
// hundred bytes, and nested values of other programs rarely make it more.
constexpr size_t LongestJsonLine = size_t(1) << 20;

// Reads `input` one object at a time. A UTF-8 byte-order mark at the start
// of the input, blank lines and a carriage return before each line feed are
// passed over. Each line must begin with "{": the first other byte is
// refused as soon as it is read, before the rest of its line, so bytes that
// are not JSON lines at all cost nothing to refuse.
class JsonLinesReader {
public:
    explicit JsonLinesReader(InputFile& input) : input(input) {}

    // The next object into `object` and "", with `end` false; at the end of
    // the input "" with `end` true; or a one-line refusal naming the input
    // and the line ("list.jsonl: line 3, column 12: ...").
    std::string next(nlohmann::json& object, bool& end);

    // The number of the line last read, counted from 1.
    size_t lineNumber() const { return line; }

private:
    std::string where() const;

    InputFile& input;
    size_t line = 0;
    bool started = false;
};

// Reads every object of `input` with a JsonLinesReader and hands each to
// `take`, with where it stands ("list.jsonl: line 3"). Answers "" at the
// end of the input, or the first refusal: the reader's, or what `take`
// answered when not "".
std::string readJsonLines(InputFile& input,
    const std::function<std::string(const nlohmann::json& object, const std::string& where)>& take);

// What a message shows of a JSON value: its text, cut short when long.
std::string shownJson(const nlohmann::json& value);

} // namespace Qor::Tools

#endif
