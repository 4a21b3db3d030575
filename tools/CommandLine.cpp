#include "tools/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace Qor::Tools {

CommandLine::CommandLine(int argc, char** argv)
    : arguments(argv, argv + argc)
{
}

std::string CommandLine::problem() const
{
    if (!repeated.empty())
        return repeated + " given twice; give it once";
    if (!unusedValueOf.empty())
        return unusedValueOf + " takes no value";
    if (hasInlineValue)
        return "--" + lastMatched + " takes no value";
    return "";
}

bool CommandLine::option(const char* longName, const char* shortName)
{
    if (hasInlineValue && unusedValueOf.empty())
        unusedValueOf = "--" + lastMatched;
    if (!more() || optionsEnded)
        return false;
    const std::string& argument = arguments[next];
    if (argument == "--") {
        optionsEnded = true;
        ++next;
        return false;
    }
    const std::string name = std::string("--") + longName;
    hasInlineValue = false;
    const std::string shortForm = *shortName ? std::string("-") + shortName : std::string();
    if (argument == name || (!shortForm.empty() && argument == shortForm))
        return matched(longName);
    if (argument.compare(0, name.size() + 1, name + "=") == 0) {
        hasInlineValue = true;
        inlineValue = argument.substr(name.size() + 1);
        return matched(longName);
    }
    // "-oFILE": a short option with its value attached.
    if (!shortForm.empty() && argument.size() > shortForm.size() && argument.compare(0, 2, shortForm) == 0) {
        hasInlineValue = true;
        inlineValue = argument.substr(shortForm.size());
        return matched(longName);
    }
    return false;
}

bool CommandLine::matched(const char* longName)
{
    ++next;
    lastMatched = longName;
    if (!seen.insert(longName).second && repeated.empty())
        repeated = std::string("--") + longName;
    return true;
}

bool CommandLine::value(std::string& text)
{
    if (hasInlineValue) {
        hasInlineValue = false;
        text = inlineValue;
        return true;
    }
    if (!more())
        return false;
    text = arguments[next++];
    return true;
}

bool CommandLine::operand(std::string& text)
{
    if (hasInlineValue && unusedValueOf.empty())
        unusedValueOf = "--" + lastMatched;
    hasInlineValue = false;
    if (!more())
        return false;
    const std::string& argument = arguments[next];
    if (argument == "--" && !optionsEnded) {
        optionsEnded = true;
        ++next;
        return operand(text);
    }
    if (!optionsEnded && argument.size() > 1 && argument[0] == '-')
        return false;
    text = argument;
    ++next;
    return true;
}

bool parseUnsigned(const std::string& text, uint64_t maximum, uint64_t& number)
{
    const bool hexadecimal = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t start = hexadecimal ? 2 : 0;
    const uint64_t base = hexadecimal ? 16 : 10;
    if (text.size() == start)
        return false;
    uint64_t result = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = uint64_t(c - '0');
        else if (hexadecimal && c >= 'a' && c <= 'f')
            digit = uint64_t(c - 'a' + 10);
        else if (hexadecimal && c >= 'A' && c <= 'F')
            digit = uint64_t(c - 'A' + 10);
        else
            return false;
        if (digit > maximum || result > (maximum - digit) / base)
            return false;
        result = result * base + digit;
    }
    number = result;
    return true;
}

bool parsePair(const std::string& text, char separator, uint64_t maximum, uint64_t& first, uint64_t& second)
{
    const size_t at = text.find(separator);
    if (at == std::string::npos)
        return false;
    uint64_t a = 0;
    uint64_t b = 0;
    if (!parseUnsigned(text.substr(0, at), maximum, a) || !parseUnsigned(text.substr(at + 1), maximum, b))
        return false;
    first = a;
    second = b;
    return true;
}

bool parseList(const std::string& text, size_t count, uint64_t maximum, std::vector<uint64_t>& numbers)
{
    std::vector<uint64_t> found;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        uint64_t number = 0;
        if (!parseUnsigned(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), maximum,
                number))
            return false;
        found.push_back(number);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (found.size() != count)
        return false;
    numbers = found;
    return true;
}

int keywordIndex(const std::string& text, std::initializer_list<const char*> words)
{
    int index = 0;
    for (const char* word : words) {
        const std::string candidate(word);
        if (candidate.size() == text.size()
            && std::equal(text.begin(), text.end(), candidate.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               }))
            return index;
        ++index;
    }
    return -1;
}

bool parsePixelLimit(const std::string& text, uint64_t& pixels)
{
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t number = 0;
    if (parsePair(text, 'x', 65535, width, height))
        number = width * height;
    else if (!parseUnsigned(text, uint64_t(65535) * 65535, number))
        return false;
    if (number == 0)
        return false;
    pixels = number;
    return true;
}

} // namespace Qor::Tools
