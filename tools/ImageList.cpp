#include "tools/ImageList.h"

#include "tools/InputFile.h"
#include "tools/JsonLines.h"

#include <cmath>

namespace Qor::Tools {

namespace {

using nlohmann::json;

// `value` as a whole number from 0 to `maximum`: an integer, or a number
// with a fraction of zero (1.0). False for anything else.
bool wholeNumber(const json& value, uint64_t maximum, uint64_t& out)
{
    if (value.is_number_unsigned()) {
        out = value.get<uint64_t>();
        return out <= maximum;
    }
    if (!value.is_number_float())
        return false; // a negative integer, or not a number
    const double number = value.get<double>();
    if (!(number >= 0 && number <= double(maximum)) || number != std::floor(number))
        return false;
    out = uint64_t(number);
    return true;
}

bool numberPair(const json& value, uint64_t maximum, uint64_t& a, uint64_t& b)
{
    return value.is_array() && value.size() == 2 && wholeNumber(value[0], maximum, a)
        && wholeNumber(value[1], maximum, b);
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Reads one line's entry into `entry`; answers "" or what is wrong.
std::string readEntry(const json& object, const std::string& folder, ListEntry& entry)
{
    if (!object.is_object())
        return ": a line must be an object, not " + shownJson(object);
    const auto field = [&](const char* key) -> const json* {
        const auto found = object.find(key);
        return found == object.end() ? nullptr : &*found;
    };
    const json* image = field("image") ? field("image") : field("frame");
    if (!image || !image->is_string() || image->get_ref<const std::string&>().empty())
        return ": no image: \"frame\" or \"image\" must name a PNG file";
    const std::string& name = image->get_ref<const std::string&>();
    entry.image = name[0] == '/' ? name : folder + name;
    uint64_t a = 0;
    uint64_t b = 0;
    if (const json* timing = field("timing")) {
        if (!numberPair(*timing, 0xFFFFFFFF, a, b))
            return ": \"timing\" must be two 32-bit words [A, B], not " + shownJson(*timing);
        entry.timing = {uint32_t(a), uint32_t(b)};
    }
    uint64_t x = 0;
    uint64_t y = 0;
    if (const json* at = field("at")) {
        if (!numberPair(*at, 0xFFFF, x, y))
            return ": \"at\" must be [X, Y], each from 0 to 65535, not " + shownJson(*at);
    } else if (field("left") || field("top")) {
        const json* left = field("left");
        const json* top = field("top");
        const json* canvas = field("canvas");
        if (!left || !top || !left->is_number() || !top->is_number() || !canvas
            || !numberPair(*canvas, 0xFFFFFFFF, a, b))
            return ": \"left\" and \"top\" need each other and \"canvas\": [W, H]";
        const json column = std::round(left->get<double>() * double(a));
        const json row = std::round(top->get<double>() * double(b));
        if (!wholeNumber(column, 0xFFFF, x) || !wholeNumber(row, 0xFFFF, y))
            return ": \"left\" and \"top\" of the canvas are not a place from 0,0 to 65535,65535";
    }
    entry.x = uint16_t(x);
    entry.y = uint16_t(y);
    return "";
}

} // namespace

std::string readImageList(InputFile& input, const std::string& folder, std::vector<ListEntry>& entries)
{
    entries.clear();
    const std::string error = readJsonLines(input, [&](const json& object, const std::string& where) {
        ListEntry& entry = entries.emplace_back();
        entry.where = where;
        const std::string refusal = readEntry(object, folder, entry);
        return refusal.empty() ? refusal : where + refusal;
    });
    if (!error.empty()) {
        entries.clear();
        return error;
    }
    if (entries.empty())
        return input.name() + ": no packets listed";
    return "";
}

std::string readImageList(const std::string& path, std::vector<ListEntry>& entries)
{
    InputFile input;
    if (std::string error = input.open(path); !error.empty())
        return error;
    return readImageList(input, path == "-" ? std::string() : directoryOf(path), entries);
}

} // namespace Qor::Tools
