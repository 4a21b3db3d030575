// Small pieces shared by the tools' command lines: an option reader that
// takes "--name value", "--name=value", "-n value" and "-nvalue", and number
// parsers that refuse anything but the whole text as a number in range.
#ifndef KELVO_TOOLS_COMMANDLINE_H
#define KELVO_TOOLS_COMMANDLINE_H

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace Qor::Tools {

// Walks argv; options and operands may come in any order, and "--" ends the options.
class CommandLine {
public:
    CommandLine(int argc, char** argv);

    // True while arguments are left.
    bool more() const { return next < arguments.size(); }
    // True when the current argument is the option `longName` (or
    // `shortName`, when not empty); consumes it. A "--name=value" form
    // keeps its value for value().
    bool option(const char* longName, const char* shortName = "");
    // The value of the option just matched, from "=value" or the next
    // argument; false when there is none.
    bool value(std::string& text);
    // The current argument as an operand when it is not an option; consumes it.
    bool operand(std::string& text);
    // The argument that matched nothing, for a message.
    const std::string& current() const { return arguments[next]; }
    // What is wrong with the options read so far: one given twice, or a
    // value attached to an option that takes none. "" when nothing is.
    std::string problem() const;

private:
    bool matched(const char* longName);

    std::vector<std::string> arguments;
    std::set<std::string> seen;
    std::string repeated;
    std::string unusedValueOf;
    std::string lastMatched;
    size_t next = 1;
    bool optionsEnded = false;
    bool hasInlineValue = false;
    std::string inlineValue;
};

// The whole of `text` as a number no larger than `maximum`: decimal, or
// hexadecimal after "0x". False, leaving `number` alone, otherwise.
bool parseUnsigned(const std::string& text, uint64_t maximum, uint64_t& number);

// Two numbers no larger than `maximum` joined by `separator` ("720x576", "40,400").
bool parsePair(const std::string& text, char separator, uint64_t maximum, uint64_t& first, uint64_t& second);

// Numbers no larger than `maximum` separated by commas, exactly `count` of them.
bool parseList(const std::string& text, size_t count, uint64_t maximum, std::vector<uint64_t>& numbers);

// The index of `text` among `words`, in any case ("gpha" is "GPHA"), or -1.
int keywordIndex(const std::string& text, std::initializer_list<const char*> words);

// A number of pixels from 1 to 65535 x 65535, given as a number or as WxH.
bool parsePixelLimit(const std::string& text, uint64_t& pixels);

} // namespace Qor::Tools

#endif
