#include "boundary/native/NativeHostCalls.h"

#include "framework/PortInterface.h"
#include "framework/Variant.h"
#include "host/Host.h"

#include <new>

namespace Qor {

namespace {

MediaBuffer* media(KelvoBuffer buffer)
{
    return static_cast<MediaBuffer*>(buffer);
}

void* lock(KelvoBuffer buffer)
{
    return media(buffer)->lock();
}

void unlock(KelvoBuffer buffer)
{
    media(buffer)->unlock();
}

void dropReference(KelvoBuffer buffer)
{
    media(buffer)->dropReference();
}

int32_t size(KelvoBuffer buffer)
{
    return media(buffer)->size;
}

void setSize(KelvoBuffer buffer, int32_t size)
{
    media(buffer)->size = size;
}

int32_t stride(KelvoBuffer buffer)
{
    return media(buffer)->stride;
}

void timing(KelvoBuffer buffer, uint32_t timing[2])
{
    timing[0] = media(buffer)->timing[0];
    timing[1] = media(buffer)->timing[1];
}

void setTiming(KelvoBuffer buffer, const uint32_t timing[2])
{
    media(buffer)->timing[0] = timing[0];
    media(buffer)->timing[1] = timing[1];
}

void setRectangle(KelvoBuffer buffer, double left, double top, double right, double bottom)
{
    MediaBuffer* frame = media(buffer);
    frame->left = left;
    frame->top = top;
    frame->right = right;
    frame->bottom = bottom;
}

void configure(KelvoAllocator allocator, int32_t bitsPerPixel)
{
    static_cast<BufferAllocator*>(allocator)->configure(bitsPerPixel);
}

KelvoBuffer allocate(KelvoAllocator allocator, int32_t width, int32_t height, int32_t count)
{
    return static_cast<BufferAllocator*>(allocator)->allocate(width, height, count);
}

int32_t deliverFrame(KelvoSink sink, KelvoBuffer frame)
{
    Variant v = objectVariant(media(frame));
    return static_cast<PortInterface*>(sink)->deliver(MSG_SAMPLE, &v) ? 1 : 0;
}

int32_t forwardStreamInfo(KelvoSink sink, KelvoMessage message)
{
    return static_cast<PortInterface*>(sink)->deliver(MSG_STREAM_INFO, static_cast<Variant*>(message)) ? 1 : 0;
}

} // namespace

const KelvoHostCalls nativeHostCalls = {
    lock,
    unlock,
    dropReference,
    size,
    setSize,
    stride,
    timing,
    setTiming,
    setRectangle,
    configure,
    allocate,
    deliverFrame,
    forwardStreamInfo,
};

bool nativeAnswer(int32_t result)
{
    if (result == KELVO_OUT_OF_MEMORY)
        throw std::bad_alloc();
    return result == KELVO_ACCEPTED;
}

} // namespace Qor
