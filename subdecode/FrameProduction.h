// Frame production: one held subtitle packet becomes one positioned overlay
// frame, handed to the downstream port, through the host calls of the C
// seam. Also the pieces of it that depend on nothing but their inputs: the
// channel tables, the pixel byte order and the reference canvas.
#ifndef KELVO_SUBDECODE_FRAMEPRODUCTION_H
#define KELVO_SUBDECODE_FRAMEPRODUCTION_H

#include "subdecode/Formats.h"
#include "subdecode/KelvoCore.h"
#include "subdecode/PacketHeader.h"

#include <cstdint>

namespace Qor {

// Per-colour channel values of one packet, in the order of Channel.
struct ChannelTables {
    uint8_t alpha[4];
    uint8_t red[4];
    uint8_t green[4];
    uint8_t blue[4];
};

// With `alpha` (a "GPHA" packet) each colour takes its own alpha byte;
// without, colour 0 is transparent and the others opaque. A colour whose
// alpha is 0 is all zero, whatever its palette says; the others keep their
// palette values unscaled.
ChannelTables buildChannelTables(const PaletteEntry (&palette)[4], const uint8_t* alpha);

// Points tables[b] at the table that supplies byte b of a pixel in `order`.
void orderTables(const ChannelTables& channels, const OutputOrder& order, const uint8_t* tables[4]);

// The same for the output format `fourcc` ("ARGB", "BGRA", "RGBA", "ABGR").
// Answers false, writing nothing, for any other code.
bool orderTables(const ChannelTables& channels, const char* fourcc, const uint8_t* tables[4]);

struct Canvas {
    int32_t width;
    int32_t height;
};

// The canvas the rectangle's fractions refer to: the display when the
// rectangle (inclusive `right`, `bottom`) lies inside it, else the first
// standard canvas that holds both, else one just large enough.
Canvas chooseReferenceCanvas(int32_t displayWidth, int32_t displayHeight, uint16_t right, uint16_t bottom);

// The byte every frame starts from where no pixel is written.
constexpr uint8_t FrameFill = 0x28;

// What the expand stage reads of one packet.
struct PixelSource {
    const PacketHeader* header;    // the parsed header; bitmapData points into the held packet
    int32_t dataLength;            // run-length bytes from header->bitmapData to the packet's end
    const uint8_t* image;          // the decode stage's 4-bit image; null without a decode stage
    const uint8_t* const* tables;  // tables[b][colour]: byte b of a pixel of that colour
};

// The pixel work of frame production, as stages the one host sequence runs
// in this order. A stage makes no host call and allocates nothing: the
// sequence locks the frame around fill and around expand, makes the decode
// stage's image, and calls fill and expand only with a payload.
struct FrameStages {
    // Sets to FrameFill at least every byte among the frame's first `size`
    // that expand leaves alone; it may set more, which expand then
    // overwrites. Rows lie `stride` pixels apart, no closer than `width`
    // when there are two or more.
    void (*fill)(uint8_t* pixels, int32_t size, int32_t width, int32_t height, int32_t stride);
    // Decodes the run-length data into the 4-bit image, with decodeBitmap's
    // contract. Null when expand reads the run-length data itself (a fused
    // stage): then no image is made and source.image is null.
    int32_t (*decode)(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image);
    // Writes every pixel of the header's width x height block, the
    // subtitle's top line first in memory, rows `stride` pixels apart, and
    // nothing outside the block.
    void (*expand)(const PixelSource& source, uint8_t* pixels, int32_t stride);
};

// The library's stages: the fill around the rows, and the decoder into pixels
// (PixelDecoder.h) in place of decode and expand.
extern const FrameStages libraryStages;

// What frame production needs of the component for one packet.
struct FrameJob {
    KelvoBuffer packet;         // the held packet; frame production takes no reference on it
    const InputFormat* format;  // how the packet's header is read
    const OutputOrder* order;   // the frame's pixel byte order
    KelvoAllocator allocator;
    KelvoSink sink;
};

// The one host sequence: parses the packet's header, asks the allocator for
// a width x height frame, fills, decodes and expands its pixels through
// `stages`, copies the packet's timing, places the frame on the reference
// canvas (read from and written back to `display`) and delivers it to the
// sink. Answers KELVO_ACCEPTED when the sink took the frame, whose reference
// is then the sink's; the caller drops the packet. Otherwise the frame, if
// one was made, is dropped and the answer is KELVO_REFUSED, or
// KELVO_OUT_OF_MEMORY when the decoder's image could not be allocated. A job
// without packet, allocator, sink or order is refused before any host call;
// a packet shorter than its header, or a frame whose byte size passes
// 2^31 - 1, before the allocator is asked.
int32_t produceFrame(const KelvoHostCalls& calls, const FrameJob& job, Canvas& display,
    const FrameStages& stages = libraryStages);

} // namespace Qor

#endif
