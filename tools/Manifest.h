// The renderer's manifest.jsonl: one JSON line per frame, saying where the
// frame sits, in what byte order, and which pictures hold it, with the size
// in bytes of each picture as it was written. The sizes let a later run
// tell the pictures this renderer wrote from pictures of the same names
// that someone else put there.
#ifndef KELVO_TOOLS_MANIFEST_H
#define KELVO_TOOLS_MANIFEST_H

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace Qor::Tools {

// The file name of the manifest in a render's folder.
constexpr char ManifestName[] = "manifest.jsonl";

struct ManifestLine {
    uint64_t packet = 0; // counted from 1
    std::array<uint32_t, 2> timing{};
    int32_t width = 0;
    int32_t height = 0;
    std::array<int32_t, 2> canvas{};
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    std::string order;
    std::string frame;   // "" for a frame of no pixels: null in the line
    std::string preview; // "" without previews: null in the line
    uint64_t frameBytes = 0;
    uint64_t previewBytes = 0;
};

// The line, newline included, with the fields in the order above and the
// two sizes as "bytes": [frame, preview] (null for a picture not written).
std::string manifestText(const ManifestLine& line);

// The pictures a manifest lists, each with its size as written.
using ManifestClaims = std::map<std::string, uint64_t>;

// Reads the manifest at `path` into `claims` and answers "", or answers why
// it is not a manifest this renderer wrote (a line that does not parse, or
// one without the fields and sizes the renderer writes), naming the line.
std::string readManifestClaims(const std::string& path, ManifestClaims& claims);

} // namespace Qor::Tools

#endif
