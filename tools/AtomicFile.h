// Whole-file writes that never leave a half-written file behind: the bytes go
// to a temporary file in the target's directory, which is renamed over the
// target only once everything is written.
#ifndef KELVO_TOOLS_ATOMICFILE_H
#define KELVO_TOOLS_ATOMICFILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

// Replaces `path` with `bytes` and answers "", or answers a one-line reason
// naming `path`, leaving `path` as it was and no temporary file behind.
std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// Reads the whole of `path` ("-": standard input) into `bytes` and answers
// "", or answers a one-line reason naming `path`, leaving `bytes` empty.
std::string readWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

} // namespace Qor::Tools

#endif
