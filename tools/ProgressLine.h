// The progress line of a long run on standard error: how many of the units
// of work are done, the rate and the time left. On a terminal one line is
// rewritten in place four times a second; elsewhere (with the tool's
// --progress) a new line is printed every two seconds. finish() clears the
// terminal's line, so that what the tool prints next starts clean.
#ifndef KELVO_TOOLS_PROGRESSLINE_H
#define KELVO_TOOLS_PROGRESSLINE_H

#include <chrono>
#include <cstddef>
#include <string>

namespace Qor::Tools {

class ProgressLine {
public:
    // `tool` begins the line ("kelvo-render"), `unit` names what is counted
    // ("packet"); `total` is how many there are. Nothing is shown unless
    // `shown`; `terminal` says whether standard error is one.
    ProgressLine(std::string tool, std::string unit, size_t total, bool shown, bool terminal);
    ~ProgressLine() { finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Says that `done` units are finished: counted only when their work is
    // complete, so that the line shows 100% only at the end. Call from one
    // thread; cheap between the moments the line is redrawn.
    void update(size_t done);

    // Clears the line on a terminal; later updates show nothing.
    void finish();

    // The text of the line for `done` units after `seconds`, for tests.
    std::string text(size_t done, double seconds) const;

private:
    std::string tool;
    std::string unit;
    size_t total;
    bool shown;
    bool terminal;
    bool written = false;
    size_t lastDone = size_t(-1);
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown{};
};

} // namespace Qor::Tools

#endif
