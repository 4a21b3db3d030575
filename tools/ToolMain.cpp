#include "tools/ToolMain.h"

#include "tools/CommandLine.h"
#include "tools/Interruption.h"

#include <cstdio>
#include <new>

#ifndef KELVO_VERSION
#define KELVO_VERSION "unknown"
#endif

namespace Qor::Tools {

namespace {

const char* toolName = "kelvo";

// `text` with its control characters written as escapes: whatever a file
// name or a value quoted from the input holds, a message stays one line.
std::string oneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            line += c;
            continue;
        }
        static const char hex[] = "0123456789ABCDEF";
        line += c == '\n' ? std::string("\\n") : c == '\t' ? std::string("\\t")
            : std::string("\\x") + hex[byte >> 4] + hex[byte & 15];
    }
    return line;
}

void say(const char* kind, const std::string& message, const char* after = "")
{
    std::fprintf(stderr, "%s: %s%s%s\n", toolName, kind, oneLine(message).c_str(), after);
}

} // namespace

void setToolName(const char* name)
{
    toolName = name;
}

int fail(const std::string& message)
{
    say("", message);
    return 1;
}

void warn(const std::string& message)
{
    say("warning: ", message);
}

void note(const std::string& message)
{
    say("", message);
}

int misuse(const std::string& message)
{
    const std::string help = std::string(" (see ") + toolName + " --help)";
    say("", message, help.c_str());
    return 2;
}

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string counted(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

int readCommandLine(int argc, char** argv, const std::string& usage, Operand operand,
    const std::function<int(CommandLine& line)>& readOption)
{
    CommandLine line(argc, argv);
    std::string text;
    while (line.more()) {
        if (const std::string problem = line.problem(); !problem.empty())
            return misuse(problem);
        if (line.option("help", "h")) {
            std::fputs(usage.c_str(), stdout);
            return 0;
        }
        if (line.option("version")) {
            std::printf("%s %s\n", toolName, KELVO_VERSION);
            return 0;
        }
        const int status = readOption(line);
        if (status == ArgumentTaken)
            continue;
        if (status != UnknownArgument)
            return status;
        if (!line.operand(text))
            return misuse("unknown option " + line.current());
        if (!operand.value.empty())
            return misuse(std::string("one ") + operand.what + " at a time: " + operand.value + " and " + text
                + operand.hint);
        operand.value = text;
    }
    if (const std::string problem = line.problem(); !problem.empty())
        return misuse(problem);
    return ArgumentTaken;
}

int runTool(const std::function<int()>& work, const std::string& input)
{
    catchInterruptions();
    int status = 1;
    try {
        status = work();
    } catch (const std::bad_alloc&) {
        status = fail(input + ": out of memory");
    }
    if (interrupted())
        endAsInterrupted();
    return status;
}

} // namespace Qor::Tools
