// The encoder's list of images: JSON lines, one packet each, with the
// fields the renderer writes to its manifest, so that a render's manifest
// encodes back into its stream:
//   "frame" (or "image")  the PNG, relative to the list's folder
//   "timing": [A, B]      the timing words (default 0, 0)
//   "left", "top" with "canvas": [W, H]
//                         the place as fractions of the canvas; or instead
//   "at": [X, Y]          the picture column and row
// Other fields, nested or not, are ignored; so are blank lines.
#ifndef KELVO_TOOLS_IMAGELIST_H
#define KELVO_TOOLS_IMAGELIST_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

class InputFile;

// One packet to make: an image and where and when it goes.
struct ListEntry {
    std::string image;
    std::string where; // what names the entry in a message ("list.jsonl: line 3")
    uint16_t x = 0;
    uint16_t y = 0;
    std::array<uint32_t, 2> timing{};
};

// Reads the entries of the list that `input` holds, images relative to
// `folder` (ending in "/", or empty), into `entries` and answers "", or
// answers a one-line reason naming the line and the field, such as a
// number out of its field's range; a list of no entries is refused.
std::string readImageList(InputFile& input, const std::string& folder, std::vector<ListEntry>& entries);

// The same for the file at `path` ("-": standard input, images relative to
// the current folder).
std::string readImageList(const std::string& path, std::vector<ListEntry>& entries);

} // namespace Qor::Tools

#endif
