// The checks the fuzz targets of the tools' readers share. A check that
// fails prints what does not hold and aborts, which the fuzzing engine and
// the replay program report as a finding.
#ifndef KELVO_FUZZ_READERCHECKS_H
#define KELVO_FUZZ_READERCHECKS_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace Qor::Fuzzing {

// Aborts, saying `what`, unless `holds`.
inline void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz target check failed: %s\n", what);
    std::abort();
}

// Aborts unless `refusal` is what a tool may print: one line that begins
// with the input's `name` and ": ".
inline void requireOneLine(const std::string& refusal, const std::string& name)
{
    require(refusal.rfind(name + ": ", 0) == 0, "a refusal that does not name the file");
    require(refusal.find_first_of("\r\n") == std::string::npos, "a refusal of more than one line");
}

// Checks what a reader answered, `error` ("" when it took its input) and
// any `warnings`, as requireOneLine does; true when the reader refused.
inline bool refused(const std::string& error, const std::string& name, const std::vector<std::string>& warnings = {})
{
    for (const std::string& warning : warnings)
        requireOneLine(warning, name);
    if (error.empty())
        return false;
    requireOneLine(error, name);
    return true;
}

} // namespace Qor::Fuzzing

#endif
