#include "tools/ProgressLine.h"

#include <cstdio>

namespace Qor::Tools {

ProgressLine::ProgressLine(std::string tool, std::string unit, size_t total, bool shown, bool terminal)
    : tool(std::move(tool))
    , unit(std::move(unit))
    , total(total)
    , shown(shown && total > 0)
    , terminal(terminal)
{
}

std::string ProgressLine::text(size_t done, double seconds) const
{
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const double left = rate > 0 ? double(total - done) / rate : 0;
    char line[200];
    std::snprintf(line, sizeof line, "%s: %s %zu of %zu (%zu%%), %.1f %ss/s, %d:%02d left", tool.c_str(),
        unit.c_str(), done, total, total ? done * 100 / total : 100, rate, unit.c_str(), int(left) / 60,
        int(left) % 60);
    return line;
}

void ProgressLine::update(size_t done)
{
    if (!shown || done == lastDone)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - lastShown < std::chrono::milliseconds(terminal ? 250 : 2000))
        return;
    lastShown = now;
    lastDone = done;
    const std::string line = text(done, std::chrono::duration<double>(now - start).count());
    std::fprintf(stderr, terminal ? "\r%s\033[K" : "%s\n", line.c_str());
    std::fflush(stderr);
    written = true;
}

void ProgressLine::finish()
{
    if (shown && terminal && written)
        std::fputs("\r\033[K", stderr);
    shown = false;
}

} // namespace Qor::Tools
