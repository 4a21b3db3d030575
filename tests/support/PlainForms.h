// The decoder and frame production in their plainest forms: the decoder one
// nibble at a time, one run of each field in turn; frame production as the
// component's host sequence over the fill of every byte of the frame, that
// decoder and the plain blit (render/IndexedBlit.h). The tests compare the
// library's routines with these on random inputs, and the benchmark
// measures the library against them.
#ifndef KELVO_TESTS_SUPPORT_PLAINFORMS_H
#define KELVO_TESTS_SUPPORT_PLAINFORMS_H

#include "subdecode/PacketHeader.h"

#include <cstdint>

namespace Qor {
class BufferAllocator;
class MediaBuffer;
class PortInterface;
} // namespace Qor

namespace Qor::Testing {

// decodeBitmap as its steps read: one run of each field in turn, the pixel
// index reduced modulo the width for every run, every nibble read and every
// pixel written by itself. Same answers, same bytes written.
int32_t plainDecodeBitmap(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image);

// The component's frame production for the held `packet`, the same host
// calls in the same order: the fill over all of the frame's `size` bytes,
// the plain decoder into a 4-bit image, and the plain blit. `lastWidth` and
// `lastHeight` are the component's last canvas, read and written as it does.
// Answers the downstream port's answer, or false on a refusal; drops the
// packet when the frame is taken, the frame when not. Throws std::bad_alloc,
// before any host call, when the image cannot be had.
bool plainProduceFrame(MediaBuffer* packet, bool hasAlpha, const char* outputFourcc, BufferAllocator* allocator,
    PortInterface* sink, int32_t& lastWidth, int32_t& lastHeight);

} // namespace Qor::Testing

#endif
