// The run-length bitmap decoder: the two interlaced fields of a subtitle
// packet into a 4-bit indexed image.
//
// The first field holds the bitmap's rows 0, 2, 4... counted from the top,
// the second rows 1, 3, 5...; every row is a sequence of run codes of one to
// four nibbles that starts on a byte boundary. The image is two pixels a byte,
// high nibble first, rows packed without gaps, and stored bottom-up, which is
// the order in which the indexed blit reads it.
#ifndef KELVO_SUBDECODE_BITMAPDECODER_H
#define KELVO_SUBDECODE_BITMAPDECODER_H

#include "subdecode/PacketHeader.h"

#include <cstdint>

namespace Qor {

// Decodes the `dataLength` bytes of run-length data at header->bitmapData
// (a negative length counts as none) into `image`, storing the size the image
// needs, ceil(width * height / 2), into `capacity`; reads nothing outside
// those bytes and writes only the pixels' nibbles. Answers DecodeOk;
// DecodeOutputTooSmall when `capacity` on entry is below the need, or `image`
// is null while pixels are due, writing nothing to `image`; DecodeNoRecord for
// a null `header`, reading and writing nothing and leaving `capacity` as it was.
int32_t decodeBitmap(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image);

} // namespace Qor

#endif
