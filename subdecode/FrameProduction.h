// Frame production: one held subtitle packet becomes one positioned overlay
// frame, handed to the downstream port, through the calls of the C seam.
// Also the pieces of it that depend on nothing but their inputs: the
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

// The canvas the rectangle's fractions refer to: the last canvas (the
// stream's picture, or one raised past it) when the rectangle (inclusive
// `right`, `bottom`) lies inside it, else the first standard canvas that
// holds both, else one just large enough.
Canvas chooseReferenceCanvas(int32_t lastWidth, int32_t lastHeight, uint16_t right, uint16_t bottom);

// The byte every frame starts from where no pixel is written.
constexpr uint8_t FrameFill = 0x28;

// What frame production needs of the component for one packet.
struct FrameJob {
    KelvoBuffer packet;         // the held packet; frame production takes no reference on it
    const InputFormat* format;  // how the packet's header is read
    const OutputOrder* order;   // the frame's pixel byte order
    KelvoAllocator allocator;
    KelvoSink sink;
};

// The one host sequence: parses the packet's
// header, asks the allocator for a width x height frame, fills with
// FrameFill the frame's bytes around the picture's rows, copies the packet's
// timing, draws the run-length data straight into the frame (PixelDecoder.h),
// places the frame on the reference canvas (chosen from `lastCanvas`, which
// becomes it) and delivers it to the sink. Answers KELVO_ACCEPTED when the
// sink took the frame, whose reference is then the sink's; the caller drops
// the packet. Otherwise the frame, if one was made, is dropped and the
// answer is KELVO_REFUSED. A job without packet, allocator, sink or order is
// refused before any host call; a packet shorter than its header, or a
// frame whose byte size passes 2^31 - 1, before the allocator is asked.
// Allocates nothing.
int32_t produceFrame(const KelvoCalls& calls, const FrameJob& job, Canvas& lastCanvas);

} // namespace Qor

#endif
