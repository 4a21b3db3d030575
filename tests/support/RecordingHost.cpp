#include "tests/support/RecordingHost.h"

#include <algorithm>

namespace Qor::Testing {

namespace {
void record(CallLog* log, std::string entry)
{
    if (log)
        log->push_back(std::move(entry));
}
} // namespace

int32_t RecordingHost::willDestroyPlugin(Plugin* plugin)
{
    willDestroy.push_back(plugin);
    record(log, "host.willDestroy");
    return 0;
}

int32_t RecordingHost::didDestroyPlugin(Plugin* plugin)
{
    didDestroy.push_back(plugin);
    record(log, "host.didDestroy");
    return 0;
}

RecordingBuffer::RecordingBuffer(std::string name, std::vector<uint8_t> bytes, CallLog* log)
    : name(std::move(name)), payload(std::move(bytes)), log(log)
{
    size = int32_t(payload.size());
}

int32_t RecordingBuffer::addReference()
{
    record(log, name + ".addReference");
    return ++references;
}

int32_t RecordingBuffer::dropReference()
{
    record(log, name + ".dropReference");
    ++drops;
    return --references;
}

void* RecordingBuffer::lock()
{
    record(log, name + ".lock");
    ++locks;
    return nullPayload || (nullFromLock > 0 && locks >= nullFromLock) ? nullptr : payload.data();
}

void RecordingBuffer::unlock()
{
    record(log, name + ".unlock");
    ++unlocks;
}

RecordingBuffer* BufferPool::make(std::string name, std::vector<uint8_t> payload)
{
    all.push_back(std::make_unique<RecordingBuffer>(std::move(name), std::move(payload), log));
    return all.back().get();
}

bool BufferPool::allReleased() const
{
    return std::all_of(all.begin(), all.end(), [](const auto& b) { return b->references == 0; });
}

void RecordingAllocator::configure(int32_t bitsPerPixel)
{
    record(log, "allocator.configure(" + std::to_string(bitsPerPixel) + ")");
}

MediaBuffer* RecordingAllocator::allocate(int32_t width, int32_t height, int32_t count)
{
    record(log, "allocator.allocate(" + std::to_string(width) + "," + std::to_string(height) + ","
            + std::to_string(count) + ")");
    if (refuse)
        return nullptr;
    const int32_t stride = width + extraStride;
    const size_t bytes = size_t(stride) * size_t(height) * 4;
    RecordingBuffer* frame = pool->make("frame", std::vector<uint8_t>(bytes, 0xA5));
    frame->size = 0;
    frame->stride = stride;
    frame->nullPayload = nullPayload;
    frame->nullFromLock = nullFromLock;
    frames.push_back(frame);
    return frame;
}

bool RecordingSink::deliver(uint32_t code, Variant* value)
{
    record(log, "sink.deliver");
    codes.push_back(code);
    values.push_back(value);
    if (code == MSG_SAMPLE && value) {
        auto* frame = static_cast<MediaBuffer*>(value->value.asObject);
        delivered.push_back(frame);
        if (answer)
            taken.push_back(frame);
    }
    return answer;
}

void RecordingSink::releaseTaken()
{
    for (MediaBuffer* frame : taken)
        frame->dropReference();
    taken.clear();
}

} // namespace Qor::Testing
