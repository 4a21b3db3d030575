// The two pictures the renderer makes of a frame: the frame itself as RGBA,
// and a preview of the frame placed on the video picture as a host would
// place it, over a checkerboard so that transparency shows.
#ifndef KELVO_TOOLS_FRAMEPICTURES_H
#define KELVO_TOOLS_FRAMEPICTURES_H

#include "subdecode/Formats.h"
#include "tools/PngImage.h"
#include "tools/ReferenceHost.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

// A packet's rectangle on the picture, right and bottom inclusive.
struct PacketRectangle {
    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t right = 0;
    uint16_t bottom = 0;
};

// The longest side of a preview; larger pictures are shown scaled down.
constexpr int32_t MaximumPreviewSide = 4096;

// Reads the rectangle from the packet's header (bytes 31 to 38); false,
// leaving `rectangle` alone, for a packet too short to have one.
bool readPacketRectangle(const std::vector<uint8_t>& packet, PacketRectangle& rectangle);

// The frame's pixels as an RGBA image; `order` is the byte order the frame
// came in, from the core's table. A frame of no pixels gives an image of no
// pixels.
PngImage frameAsRgba(const Frame& frame, const OutputOrder& order);

// The preview's size: the picture, or the canvas when the stream gives no
// picture, scaled down to fit MaximumPreviewSide.
PictureSize previewSize(PictureSize canvas, PictureSize picture);

// The frame (as frameAsRgba made it) placed at its fractions of the
// preview, scaled by the preview's size over the canvas with the nearest
// pixel, and blended by its alpha (not premultiplied) over a checkerboard
// of 16-pixel squares.
PngImage composePreview(const PngImage& frame, const Frame& placement, PictureSize canvas, PictureSize picture);

// The checkerboard's colour at a preview pixel.
Rgba checkerboardAt(int32_t x, int32_t y);

} // namespace Qor::Tools

#endif
