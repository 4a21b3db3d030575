// Host objects for long randomised runs (the session property test and the
// fuzz targets): they keep no call log, only counts, and note every breach of
// the ownership rules instead of trusting the component. A buffer's payload
// is a heap block of exactly its size, freed at the buffer's last release, so
// that a read one byte past a packet or through the pointer of a released one
// is a fault the address sanitizer reports. Header-only, so that the fuzz
// build, which builds no tests, can use it too.
#ifndef KELVO_TESTS_SUPPORT_COUNTINGHOST_H
#define KELVO_TESTS_SUPPORT_COUNTINGHOST_H

#include "framework/Plugin.h"
#include "framework/PortInterface.h"
#include "host/Host.h"
#include "tests/support/HostStandIns.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace Qor::Testing {

// What went wrong, as fixed texts; empty while the rules hold.
struct Breaches {
    std::vector<const char*> notes;
    void note(const char* what) { notes.push_back(what); }
    bool empty() const { return notes.empty(); }
};

class CountingBuffer : public MediaBuffer {
public:
    CountingBuffer(const uint8_t* bytes, size_t length, Breaches& breaches)
        : payload(new uint8_t[length]), breaches(breaches)
    {
        if (length)
            std::memcpy(payload.get(), bytes, length);
        size = int32_t(length);
    }

    CountingBuffer(size_t length, uint8_t fill, Breaches& breaches)
        : payload(new uint8_t[length]), breaches(breaches)
    {
        std::memset(payload.get(), fill, length);
        size = int32_t(length);
    }

    int32_t addReference() override
    {
        if (references <= 0)
            breaches.note("addReference on a released buffer");
        return ++references;
    }

    int32_t dropReference() override
    {
        if (references <= 0)
            breaches.note("dropReference on a released buffer");
        ++drops;
        if (--references == 0)
            payload.reset();
        return references;
    }

    void* lock() override
    {
        if (references <= 0)
            breaches.note("lock on a released buffer");
        ++locks;
        return nullPayload ? nullptr : payload.get();
    }

    void unlock() override
    {
        if (references <= 0)
            breaches.note("unlock on a released buffer");
        if (++unlocks > locks)
            breaches.note("unlock without lock");
    }

    bool released() const { return references == 0; }
    // The payload while the buffer is held; null once it is released.
    const uint8_t* bytes() const { return payload.get(); }

    bool nullPayload = false; // lock() answers null
    int32_t references = 1;
    int32_t drops = 0;
    int32_t locks = 0;
    int32_t unlocks = 0;

private:
    std::unique_ptr<uint8_t[]> payload;
    Breaches& breaches;
};

// Owns every buffer of a run, packets and frames, beyond their last release,
// so that their counts can be read at the end.
class BufferStore {
public:
    explicit BufferStore(Breaches& breaches) : breaches(breaches) {}

    CountingBuffer* make(const uint8_t* bytes, size_t length)
    {
        all.push_back(std::make_unique<CountingBuffer>(bytes, length, breaches));
        return all.back().get();
    }

    CountingBuffer* make(size_t length, uint8_t fill)
    {
        all.push_back(std::make_unique<CountingBuffer>(length, fill, breaches));
        return all.back().get();
    }

    // The buffer behind `buffer`, or null when it is not one of ours.
    CountingBuffer* find(const MediaBuffer* buffer) const
    {
        for (const auto& own : all)
            if (own.get() == buffer)
                return own.get();
        return nullptr;
    }

    // Notes a breach for each buffer whose references do not balance to
    // zero or whose locks and unlocks do not pair; true when none.
    bool checkAllReleased()
    {
        bool balanced = true;
        for (const auto& buffer : all) {
            if (buffer->references != 0) {
                breaches.note(buffer->references > 0 ? "buffer never released" : "buffer released twice");
                balanced = false;
            }
            if (buffer->locks != buffer->unlocks) {
                breaches.note("buffer left locked");
                balanced = false;
            }
        }
        return balanced;
    }

    const std::vector<std::unique_ptr<CountingBuffer>>& buffers() const { return all; }

private:
    std::vector<std::unique_ptr<CountingBuffer>> all;
    Breaches& breaches;
};

class CountingHost : public PlaceholderHost {
public:
    explicit CountingHost(Breaches& breaches) : breaches(breaches) {}

    int32_t willDestroyPlugin(Plugin* plugin) override
    {
        if (willDestroy++ || didDestroy)
            breaches.note("willDestroyPlugin out of turn");
        told = plugin;
        return 0;
    }

    int32_t didDestroyPlugin(Plugin* plugin) override
    {
        if (didDestroy++ || !willDestroy || plugin != told)
            breaches.note("didDestroyPlugin out of turn");
        return 0;
    }

    // Notes a breach unless the host heard of `plugin` exactly twice, before and after.
    bool checkToldTwice(const Plugin* plugin)
    {
        const bool twice = willDestroy == 1 && didDestroy == 1 && told == plugin;
        if (!twice)
            breaches.note("host not told exactly twice");
        return twice;
    }

    int32_t willDestroy = 0;
    int32_t didDestroy = 0;
    const Plugin* told = nullptr;

private:
    Breaches& breaches;
};

// Frames of width x height with rows `stride` pixels apart. A payload holds
// stride x height pixels, or, when the stride is narrower than the width
// (a hostile allocator), width x height, which is the most the component may
// touch of such a frame.
class CountingAllocator : public BufferAllocator {
public:
    CountingAllocator(BufferStore& store, Breaches& breaches) : store(store), breaches(breaches) {}
    int32_t reserved1() override { return 0; }

    void configure(int32_t bitsPerPixel) override
    {
        if (bitsPerPixel != 32)
            breaches.note("configure with other than 32 bits");
        configured = true;
    }

    MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) override
    {
        if (!configured)
            breaches.note("allocate without configure(32)");
        configured = false;
        ++allocations;
        if (width < 0 || height < 0 || count != 1) {
            breaches.note("allocate with a bad size or count");
            return nullptr;
        }
        const int64_t stride = int64_t(width) + stridePadding;
        const int64_t rowPixels = stride < width ? width : stride;
        const int64_t bytes = rowPixels * height * 4;
        if (refuse || bytes > byteLimit)
            return nullptr;
        CountingBuffer* frame = store.make(size_t(bytes), 0xA5);
        frame->size = 0;
        frame->stride = int32_t(stride);
        frame->nullPayload = nullPayload;
        return frame;
    }

    bool refuse = false;
    bool nullPayload = false;
    int32_t stridePadding = 0;   // pixels added to each row's pitch; negative makes it narrower than a row
    int64_t byteLimit = int64_t(1) << 24; // larger frames are refused, as a host short of memory would
    int32_t allocations = 0;

private:
    bool configured = false;
    BufferStore& store;
    Breaches& breaches;
};

// The downstream port. It answers `answer` to every frame, keeps each frame
// it takes until releaseTaken(), and shows every frame to `inspect` first.
class CountingSink : public PortInterface {
public:
    CountingSink(BufferStore& store, Breaches& breaches) : store(store), breaches(breaches) {}
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }

    bool deliver(uint32_t code, Variant* value) override
    {
        if (code == MSG_STREAM_INFO) {
            ++streamInfos;
            return streamInfoAnswer;
        }
        if (code != MSG_SAMPLE) {
            breaches.note("sink given an unknown code");
            return false;
        }
        CountingBuffer* frame = value && value->type == TypeObject
            ? store.find(static_cast<MediaBuffer*>(value->value.asObject)) : nullptr;
        if (!frame) {
            breaches.note("sink given something that is not a frame");
            return false;
        }
        if (frame->references != 1 || frame->locks != frame->unlocks)
            breaches.note("frame delivered not held once, or locked");
        ++frames;
        if (inspect)
            inspect(*frame);
        if (answer)
            taken.push_back(frame);
        return answer;
    }

    void releaseTaken()
    {
        for (CountingBuffer* frame : taken)
            frame->dropReference();
        taken.clear();
    }

    bool answer = true;
    bool streamInfoAnswer = true;
    std::function<void(const CountingBuffer&)> inspect;
    std::vector<CountingBuffer*> taken;
    int32_t frames = 0;
    int32_t streamInfos = 0;

private:
    BufferStore& store;
    Breaches& breaches;
};

} // namespace Qor::Testing

#endif
