// The pieces of frame production that depend on nothing but their inputs:
// the channel tables, the pixel byte order and the reference canvas.
#ifndef KELVO_SUBDECODE_FRAMEPRODUCTION_H
#define KELVO_SUBDECODE_FRAMEPRODUCTION_H

#include "subdecode/PacketHeader.h"

#include <cstdint>

namespace Qor {

// Per-colour channel values of one packet.
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

// Points tables[b] at the table that supplies byte b of a pixel in the output
// format `fourcc` ("ARGB", "BGRA", "RGBA", "ABGR"). Answers false, writing
// nothing, for any other code.
bool orderTables(const ChannelTables& channels, const char* fourcc, const uint8_t* tables[4]);

struct Canvas {
    int32_t width;
    int32_t height;
};

// The canvas the rectangle's fractions refer to: the display when the
// rectangle (inclusive `right`, `bottom`) lies inside it, else the first
// standard canvas that holds both, else one just large enough.
Canvas chooseReferenceCanvas(int32_t displayWidth, int32_t displayHeight, uint16_t right, uint16_t bottom);

} // namespace Qor

#endif
