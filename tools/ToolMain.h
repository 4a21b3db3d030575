// What the tools' mains share: the messages a tool prints on standard
// error, one line each beginning with its name, with the exit status that
// goes with them; the loop over the command line, with the answers to
// --help and --version; and the frame of a run, which ends an interrupted
// tool by its signal once the run has taken back what it made. Each line is
// written with one call, so the lines of threads that warn together do not
// mix.
#ifndef KELVO_TOOLS_TOOLMAIN_H
#define KELVO_TOOLS_TOOLMAIN_H

#include <cstddef>
#include <functional>
#include <string>

namespace Qor::Tools {

class CommandLine;

// Names the tool that begins every message ("kelvo-encode"); call first in main.
void setToolName(const char* name);

// Every message below is one line on standard error: control characters
// in it (a file name may hold any) are written as escapes.

// "tool: message"; answers 1, the status of a refused input or a failed write.
int fail(const std::string& message);

// "tool: warning: message".
void warn(const std::string& message);

// "tool: message", for what a person may want to know (colours merged, say).
void note(const std::string& message);

// "tool: message (see tool --help)"; answers 2, the status of a bad command line.
int misuse(const std::string& message);

// `text` in double quotes, for a value quoted in a message.
std::string inQuotes(const std::string& text);

// "1 packet", "3 packets".
std::string counted(size_t count, const char* one, const char* many);

// What a tool's reader of one option answers readCommandLine, when not
// the exit status to end with: that it took the option, or that the
// argument is none of its options.
constexpr int ArgumentTaken = -1;
constexpr int UnknownArgument = -2;

// The one operand a tool takes: where it goes, and what a message calls it
// ("image"); `hint` ends the message that refuses a second one.
struct Operand {
    std::string& value;
    const char* what;
    const char* hint = "";
};

// Reads the command line `argc`, `argv` one argument at a time. --help
// (-h) and --version print `usage` or "tool VERSION" on standard output and
// answer 0; every other argument goes to `readOption`, with the line at it,
// and one that is none of its options is the `operand`, when it is not an
// option and the first, or else a misuse. An option given twice, or given a
// value it takes none of, is a misuse as soon as it is read. Answers
// ArgumentTaken when every argument was taken, or the exit status to end
// with.
int readCommandLine(int argc, char** argv, const std::string& usage, Operand operand,
    const std::function<int(CommandLine& line)>& readOption);

// Runs `work`, a tool's whole run after its command line, and answers its
// exit status. SIGINT, SIGTERM and SIGHUP are caught first
// (tools/Interruption.h); an allocation that fails is reported as
// "`input`: out of memory" (status 1); and when a signal came, the tool
// ends by it (status 128 + n) once `work` has returned, having removed
// what it made.
int runTool(const std::function<int()>& work, const std::string& input);

} // namespace Qor::Tools

#endif
