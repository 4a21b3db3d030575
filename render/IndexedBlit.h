// Expansion of a 4-bit indexed image into 32-bit pixels through four
// per-byte lookup tables, in its plain form: one nibble, four lookups and
// four byte stores a pixel. Frame production draws straight into the frame
// and does not run it; with the indexed decoder it is the reference the
// decoder into pixels is held to. Stands alone: it knows nothing of the
// component.
#ifndef KELVO_RENDER_INDEXEDBLIT_H
#define KELVO_RENDER_INDEXEDBLIT_H

#include <cstdint>

namespace Qor {

// Writes the width x height block of `indices` (two pixels a byte, high
// nibble first, rows without gaps) into `pixels`, rows `stride` four-byte
// pixels apart. Byte b of every pixel is tables[b][index]. The source's last
// stored row is written first: to destination row originY onward when
// `topDown` is set, else to row rows-1-originY backward. Nothing outside the
// block is touched, and no table entry is read for an index that does not
// occur; the caller keeps the block inside the destination and gives tables
// with an entry for every index that occurs.
void blitIndexedBitmap(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t stride, int32_t rows,
    const uint8_t* const tables[4], bool topDown);

} // namespace Qor

#endif
