// One line of a JSON-lines file as the tools write them: a flat object
// whose values are numbers, texts, null, true, false or arrays of numbers.
#ifndef KELVO_TOOLS_JSONLINE_H
#define KELVO_TOOLS_JSONLINE_H

#include <map>
#include <string>
#include <vector>

namespace Qor::Tools {

struct JsonValue {
    enum Kind { Null, Number, Text, Boolean, Numbers } kind = Null;
    double number = 0;
    std::string text;
    bool boolean = false;
    std::vector<double> numbers;
};

using JsonObject = std::map<std::string, JsonValue>;

// Parses `line` into `object` and answers "", or answers what is wrong and
// at which column (counted from 1). Nested objects, arrays of anything but
// numbers and a key given twice are refused.
std::string parseJsonLine(const std::string& line, JsonObject& object);

} // namespace Qor::Tools

#endif
