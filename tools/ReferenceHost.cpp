#include "tools/ReferenceHost.h"

#include <cstring>

namespace Qor::Tools {

HostBuffer::HostBuffer(std::vector<uint8_t> bytes, BufferLedger* ledger)
    : payload(std::move(bytes))
    , ledger(ledger)
{
    size = int32_t(payload.size());
    ++ledger->live;
    ++ledger->made;
}

HostBuffer::~HostBuffer()
{
    --ledger->live;
}

int32_t HostBuffer::addReference()
{
    return ++count;
}

int32_t HostBuffer::dropReference()
{
    const int32_t left = --count;
    if (left == 0)
        delete this;
    return left;
}

void* HostBuffer::lock()
{
    return payload.empty() ? nullptr : payload.data();
}

void HostBuffer::unlock() {}

HostAllocator::HostAllocator(BufferLedger* ledger, FaultList* faults, int32_t padding)
    : ledger(ledger)
    , faults(faults)
    , padding(padding)
{
}

void HostAllocator::configure(int32_t bitsPerPixel)
{
    configuredBits = bitsPerPixel;
}

MediaBuffer* HostAllocator::allocate(int32_t width, int32_t height, int32_t count)
{
    ++allocations;
    const int32_t bits = configuredBits;
    configuredBits = 0;
    if (bits != 32)
        faults->push_back("plug-in asked for a frame without configuring the allocator for 32 bits a pixel");
    if (width < 0 || height < 0 || count != 1) {
        faults->push_back("plug-in asked for " + std::to_string(count) + " frames of " + std::to_string(width) + "x"
            + std::to_string(height) + " pixels");
        return nullptr;
    }
    const int64_t stride = int64_t(width) + padding;
    auto* frame = new HostBuffer(std::vector<uint8_t>(size_t(stride) * size_t(height) * 4), ledger);
    frame->stride = int32_t(stride);
    frame->size = 0;
    frame->pixelWidth = width;
    frame->pixelHeight = height;
    return frame;
}

int32_t ReferenceHost::willDestroyPlugin(Plugin* plugin)
{
    notices.emplace_back('w', plugin);
    return 0;
}

int32_t ReferenceHost::didDestroyPlugin(Plugin* plugin)
{
    notices.emplace_back('d', plugin);
    return 0;
}

std::string ReferenceHost::checkDestroyed(const Plugin* plugin) const
{
    const bool inOrder = notices.size() == 2 && notices[0] == std::make_pair('w', plugin)
        && notices[1] == std::make_pair('d', plugin);
    if (inOrder)
        return "";
    std::string told;
    for (const auto& notice : notices)
        told += notice.first == 'w' ? " will" : " did";
    return "plug-in told the host" + (told.empty() ? std::string(" nothing") : told)
        + " about its destruction, not will then did, once each, for itself";
}

bool FrameSink::deliver(uint32_t code, Variant* value)
{
    if (code == MSG_STREAM_INFO) {
        ++streamInfos;
        return true;
    }
    if (code != MSG_SAMPLE)
        return false;
    if (!value || value->type != TypeObject || !value->value.asObject) {
        faults->push_back("plug-in delivered a sample without a buffer");
        return false;
    }
    // Only this host's allocator makes frames, so the buffer is a HostBuffer.
    auto* buffer = static_cast<HostBuffer*>(value->value.asObject);
    Frame& frame = frames.emplace_back();
    frame.width = buffer->pixelWidth;
    frame.height = buffer->pixelHeight;
    frame.timing = {buffer->timing[0], buffer->timing[1]};
    frame.left = buffer->left;
    frame.top = buffer->top;
    frame.right = buffer->right;
    frame.bottom = buffer->bottom;
    const size_t rowBytes = size_t(frame.width) * 4;
    if (int64_t(buffer->size) != int64_t(rowBytes) * frame.height)
        faults->push_back("plug-in gave a frame of " + std::to_string(frame.width) + "x" + std::to_string(frame.height)
            + " pixels the size " + std::to_string(buffer->size));
    const auto* payload = static_cast<const uint8_t*>(buffer->lock());
    if (payload) {
        // Appended row by row: nothing is cleared only to be written over.
        frame.pixels.reserve(rowBytes * size_t(frame.height));
        for (int32_t y = 0; y < frame.height; ++y) {
            const uint8_t* row = payload + size_t(buffer->stride) * 4 * size_t(y);
            frame.pixels.insert(frame.pixels.end(), row, row + rowBytes);
        }
    } else {
        frame.pixels.resize(rowBytes * size_t(frame.height));
    }
    buffer->unlock();
    buffer->dropReference();
    return true;
}

} // namespace Qor::Tools
