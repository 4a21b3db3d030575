// The pixel work of frame production in its plainest form: the decoder one
// nibble at a time, the blit four table lookups per pixel, the fill over every
// byte of the frame. Frame production runs them as its stages. The tests compare the library's routines with these on
// random inputs, and the benchmark measures the library against them.
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

// blitIndexedBitmap pixel by pixel: one nibble, four table lookups, four byte
// stores. Same arguments, same bytes written.
void plainBlitIndexedBitmap(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown);

// The component's frame production for the held `packet`, the same host
// sequence over plain stages: the fill over all of the frame's `size` bytes,
// the plain decoder and the plain blit. `displayWidth` and `displayHeight`
// are the component's display size, read and written as it does. Answers
// the downstream port's answer, or false on a refusal; drops the packet when
// the frame is taken, the frame when not; throws std::bad_alloc when the
// decoder's image cannot be had.
bool plainProduceFrame(MediaBuffer* packet, bool hasAlpha, const char* outputFourcc, BufferAllocator* allocator,
    PortInterface* sink, int32_t& displayWidth, int32_t& displayHeight);

} // namespace Qor::Testing

#endif
