// The host's objects as the tests, the fuzz targets and the benchmark stand
// in for them: one family. Each counts what is done to it; given a log, it
// writes every call into it, so that one log shows the order of the calls
// on all of them; given a Breaches, it notes every breach of the ownership
// rules instead of trusting the component. A buffer's payload is a heap
// block of exactly its size, so that a read one byte past it is a fault the
// address sanitizer reports, and, when asked, it is freed at the last
// release, so that a read through a released buffer is one too.
// ReusingAllocator and TakingSink are the quiet members: they log nothing
// and allocate nothing while a packet goes through. Header-only, so that
// the fuzz build and the benchmark, which build no tests, can use it.
#ifndef KELVO_TESTS_SUPPORT_HOSTSTANDINS_H
#define KELVO_TESTS_SUPPORT_HOSTSTANDINS_H

#include "framework/Plugin.h"
#include "framework/PortInterface.h"
#include "host/Host.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Qor::Testing {

using CallLog = std::vector<std::string>;

// What went wrong, as fixed texts; empty while the rules hold.
struct Breaches {
    std::vector<const char*> notes;
    void note(const char* what) { notes.push_back(what); }
    bool empty() const { return notes.empty(); }
};

// Where a stand-in reports: the log of calls and the breaches, each optional.
struct Witness {
    CallLog* log = nullptr;
    Breaches* breaches = nullptr;

    void record(const char* object, const char* call) const
    {
        if (log)
            log->push_back(std::string(object) + call);
    }
    void note(const char* what) const
    {
        if (breaches)
            breaches->note(what);
    }
};

class StandInHost : public Host {
public:
    explicit StandInHost(Witness witness = {}) : witness(witness) {}

    int32_t willDestroyPlugin(Plugin* plugin) override
    {
        if (!willDestroy.empty() || !didDestroy.empty())
            witness.note("willDestroyPlugin out of turn");
        willDestroy.push_back(plugin);
        witness.record("host", ".willDestroy");
        return 0;
    }

    int32_t didDestroyPlugin(Plugin* plugin) override
    {
        if (!didDestroy.empty() || willDestroy.size() != 1 || willDestroy[0] != plugin)
            witness.note("didDestroyPlugin out of turn");
        didDestroy.push_back(plugin);
        witness.record("host", ".didDestroy");
        return 0;
    }

    // Whether the host heard of `plugin` exactly twice, before and after;
    // a breach is noted when not.
    bool toldTwice(const Plugin* plugin) const
    {
        const bool twice = willDestroy.size() == 1 && didDestroy.size() == 1 && willDestroy[0] == plugin
            && didDestroy[0] == plugin;
        if (!twice)
            witness.note("host not told exactly twice");
        return twice;
    }

    std::vector<Plugin*> willDestroy;
    std::vector<Plugin*> didDestroy;
    Witness witness;
};

class StandInBuffer : public MediaBuffer {
public:
    StandInBuffer() = default;
    explicit StandInBuffer(std::vector<uint8_t> bytes, const char* name = "buffer", Witness witness = {})
        : name(name), payload(std::move(bytes)), witness(witness)
    {
        size = int32_t(payload.size());
    }

    int32_t addReference() override
    {
        if (references <= 0)
            witness.note("addReference on a released buffer");
        witness.record(name, ".addReference");
        return ++references;
    }

    int32_t dropReference() override
    {
        if (references <= 0)
            witness.note("dropReference on a released buffer");
        witness.record(name, ".dropReference");
        ++drops;
        if (--references == 0 && freesPayload) {
            std::vector<uint8_t>().swap(payload);
            freed = true;
        }
        return references;
    }

    // The payload, or null when `nullPayload` says so, from the lock
    // numbered `nullFromLock` on, and once it is freed. A payload of no bytes
    // is one all the same, somewhere.
    void* lock() override
    {
        if (references <= 0)
            witness.note("lock on a released buffer");
        witness.record(name, ".lock");
        ++locks;
        if (nullPayload || (nullFromLock > 0 && locks >= nullFromLock) || freed)
            return nullptr;
        static uint8_t noBytes;
        return payload.empty() ? &noBytes : payload.data();
    }

    void unlock() override
    {
        if (references <= 0)
            witness.note("unlock on a released buffer");
        witness.record(name, ".unlock");
        if (++unlocks > locks)
            witness.note("unlock without lock");
    }

    bool released() const { return references <= 0; }
    // The payload; null once freed.
    const uint8_t* bytes() const { return payload.empty() ? nullptr : payload.data(); }

    const char* name = "buffer";
    std::vector<uint8_t> payload;
    Witness witness;
    bool nullPayload = false;
    int32_t nullFromLock = 0;
    bool freesPayload = false;
    bool freed = false;
    int32_t references = 1;
    int32_t drops = 0;
    int32_t locks = 0;
    int32_t unlocks = 0;
};

// Owns every buffer of a test, packets and frames, beyond their last
// release, so that their counts can be read at the end.
class BufferPool {
public:
    explicit BufferPool(Witness witness = {}) : witness(witness) {}

    StandInBuffer* make(const char* name, std::vector<uint8_t> bytes)
    {
        all.push_back(std::make_unique<StandInBuffer>(std::move(bytes), name, witness));
        all.back()->freesPayload = freesPayloads;
        return all.back().get();
    }

    // The buffer behind `buffer`, or null when it is not one of ours.
    StandInBuffer* find(const MediaBuffer* buffer) const
    {
        for (const auto& own : all)
            if (own.get() == buffer)
                return own.get();
        return nullptr;
    }

    // Whether every buffer's references balance to zero and its locks and
    // unlocks pair; a breach is noted for each that does not.
    bool allReleased() const
    {
        bool balanced = true;
        for (const auto& buffer : all) {
            if (buffer->references != 0) {
                witness.note(buffer->references > 0 ? "buffer never released" : "buffer released twice");
                balanced = false;
            }
            if (buffer->locks != buffer->unlocks) {
                witness.note("buffer left locked");
                balanced = false;
            }
        }
        return balanced;
    }

    const std::vector<std::unique_ptr<StandInBuffer>>& buffers() const { return all; }

    Witness witness;
    bool freesPayloads = false; // the buffers made from now on free their payload at the last release

private:
    std::vector<std::unique_ptr<StandInBuffer>> all;
};

// Frames of width x height, filled with 0xA5, rows `stridePadding` pixels
// wider than the frame. A payload holds stride x height pixels, or, when
// the stride is narrower than the width (a hostile allocator), width x
// height, which is the most the component may touch of such a frame.
class StandInAllocator : public BufferAllocator {
public:
    explicit StandInAllocator(BufferPool& pool) : pool(pool) {}

    void configure(int32_t bitsPerPixel) override
    {
        if (pool.witness.log)
            pool.witness.log->push_back("allocator.configure(" + std::to_string(bitsPerPixel) + ")");
        if (bitsPerPixel != 32)
            pool.witness.note("configure with other than 32 bits");
        configured = true;
    }

    MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) override
    {
        if (pool.witness.log)
            pool.witness.log->push_back("allocator.allocate(" + std::to_string(width) + "," + std::to_string(height)
                + "," + std::to_string(count) + ")");
        if (!configured)
            pool.witness.note("allocate without configure(32)");
        configured = false;
        ++allocations;
        if (width < 0 || height < 0 || count != 1) {
            pool.witness.note("allocate with a bad size or count");
            return nullptr;
        }
        const int64_t stride = int64_t(width) + stridePadding;
        const int64_t bytes = std::max<int64_t>(stride, width) * height * 4;
        if (refuse || bytes > byteLimit)
            return nullptr;
        StandInBuffer* frame = pool.make("frame", std::vector<uint8_t>(size_t(bytes), 0xA5));
        frame->size = 0;
        frame->stride = int32_t(stride);
        frame->nullPayload = nullPayload;
        frame->nullFromLock = nullFromLock;
        frames.push_back(frame);
        return frame;
    }

    BufferPool& pool;
    bool refuse = false;          // allocate() answers null
    bool nullPayload = false;     // frames whose lock() answers null
    int32_t nullFromLock = 0;     // frames whose lock() of that number and later answer null
    int32_t stridePadding = 0;    // pixels added to each row's stride; negative makes it narrower than a row
    int64_t byteLimit = int64_t(1) << 24; // larger frames are refused, as a host short of memory would
    int32_t allocations = 0;
    std::vector<StandInBuffer*> frames;

private:
    bool configured = false;
};

// The downstream port. It answers `answer` to every frame and
// `streamInfoAnswer` to every stream information, keeps each frame it takes
// until releaseTaken(). Given the pool, it shows every frame to `inspect`
// first, and notes a breach for anything delivered that is not one of the
// pool's frames, or not held once and unlocked.
class StandInSink : public PortInterface {
public:
    explicit StandInSink(Witness witness = {}, const BufferPool* pool = nullptr) : witness(witness), pool(pool) {}
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }

    bool deliver(uint32_t code, Variant* value) override
    {
        witness.record("sink", ".deliver");
        codes.push_back(code);
        values.push_back(value);
        if (code == MSG_STREAM_INFO)
            return streamInfoAnswer;
        if (code != MSG_SAMPLE) {
            witness.note("sink given an unknown code");
            return false;
        }
        auto* frame = value && value->type == TypeObject ? static_cast<MediaBuffer*>(value->value.asObject) : nullptr;
        const StandInBuffer* own = pool ? pool->find(frame) : nullptr;
        if (!frame || (pool && !own)) {
            witness.note("sink given something that is not a frame");
            return false;
        }
        if (own && (own->references != 1 || own->locks != own->unlocks))
            witness.note("frame delivered not held once, or locked");
        delivered.push_back(frame);
        if (inspect && own)
            inspect(*own);
        if (answer)
            taken.push_back(frame);
        return answer;
    }

    // Drops the reference of every taken frame.
    void releaseTaken()
    {
        for (MediaBuffer* frame : taken)
            frame->dropReference();
        taken.clear();
    }

    int32_t streamInfos() const { return int32_t(std::count(codes.begin(), codes.end(), uint32_t(MSG_STREAM_INFO))); }

    bool answer = true;
    bool streamInfoAnswer = true;
    std::function<void(const StandInBuffer&)> inspect;
    std::vector<uint32_t> codes;
    std::vector<Variant*> values;
    std::vector<MediaBuffer*> delivered;
    std::vector<MediaBuffer*> taken;
    Witness witness;

private:
    const BufferPool* pool;
};

// Hands out the same frame again and again, with one reference each time,
// rows `padding` pixels wider than the frame and rounded up to a multiple of
// `alignment` pixels. The payload grows to fit while `grows` is set; without
// it (a payload sized before the run, so that allocate() itself allocates
// nothing), a frame that does not fit is refused.
class ReusingAllocator : public BufferAllocator {
public:
    void configure(int32_t) override {}
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t) override
    {
        frame.stride = (width + padding + alignment - 1) / alignment * alignment;
        const size_t bytes = size_t(frame.stride) * size_t(height) * 4;
        if (frame.payload.size() < bytes) {
            if (!grows)
                return nullptr;
            frame.payload.resize(bytes, 0);
        }
        frame.references = 1;
        ++frames;
        return &frame;
    }

    StandInBuffer frame;
    int32_t padding = 0;
    int32_t alignment = 1;
    bool grows = true;
    int32_t frames = 0;
};

// The downstream port that takes every frame and lets it go at once, and
// answers every stream information with true.
class TakingSink : public PortInterface {
public:
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override
    {
        if (code == MSG_SAMPLE) {
            static_cast<MediaBuffer*>(value->value.asObject)->dropReference();
            ++taken;
        }
        return true;
    }

    int32_t taken = 0;
};

} // namespace Qor::Testing

#endif
