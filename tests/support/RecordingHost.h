// Host objects for the unit tests: they count references, record every call
// the component makes on them into one shared log, and can be told to refuse.
#ifndef KELVO_TESTS_SUPPORT_RECORDINGHOST_H
#define KELVO_TESTS_SUPPORT_RECORDINGHOST_H

#include "framework/Plugin.h"
#include "framework/PortInterface.h"
#include "host/Host.h"
#include "tests/support/HostStandIns.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Qor::Testing {

using CallLog = std::vector<std::string>;

class RecordingHost : public PlaceholderHost {
public:
    explicit RecordingHost(CallLog* log = nullptr) : log(log) {}
    int32_t willDestroyPlugin(Plugin* plugin) override;
    int32_t didDestroyPlugin(Plugin* plugin) override;

    std::vector<Plugin*> willDestroy;
    std::vector<Plugin*> didDestroy;
    CallLog* log;
};

// A buffer that is never freed by its last release, so that tests can check
// its count afterwards; its owner (a BufferPool) frees it.
class RecordingBuffer : public MediaBuffer {
public:
    RecordingBuffer(std::string name, std::vector<uint8_t> payload, CallLog* log);
    int32_t addReference() override;
    int32_t dropReference() override;
    void* lock() override;
    void unlock() override;

    std::string name;
    std::vector<uint8_t> payload;
    bool nullPayload = false;   // lock() answers null
    int32_t nullFromLock = 0;   // when above 0, that lock and every later one answer null
    int32_t references = 1;
    int32_t drops = 0;
    int32_t locks = 0;
    int32_t unlocks = 0;
    CallLog* log;
};

// Owns every buffer a test makes, packets and frames alike.
class BufferPool {
public:
    explicit BufferPool(CallLog* log = nullptr) : log(log) {}
    RecordingBuffer* make(std::string name, std::vector<uint8_t> payload);
    // True when every buffer's references are balanced to zero.
    bool allReleased() const;
    const std::vector<std::unique_ptr<RecordingBuffer>>& buffers() const { return all; }

    CallLog* log;

private:
    std::vector<std::unique_ptr<RecordingBuffer>> all;
};

class RecordingAllocator : public BufferAllocator {
public:
    RecordingAllocator(BufferPool* pool, CallLog* log = nullptr) : pool(pool), log(log) {}
    int32_t reserved1() override { return 0; }
    void configure(int32_t bitsPerPixel) override;
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) override;

    bool refuse = false;          // allocate() answers null
    bool nullPayload = false;     // frames whose lock() answers null
    int32_t nullFromLock = 0;     // frames whose lock() of that number and later answer null
    int32_t extraStride = 0;      // pixels added to each row's pitch
    std::vector<RecordingBuffer*> frames;
    BufferPool* pool;
    CallLog* log;
};

// The downstream port. A taken frame's reference is kept in `taken`.
class RecordingSink : public PortInterface {
public:
    explicit RecordingSink(CallLog* log = nullptr) : log(log) {}
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override;
    // Drops the references of every taken frame.
    void releaseTaken();

    bool answer = true;
    std::vector<uint32_t> codes;
    std::vector<Variant*> values;
    std::vector<MediaBuffer*> delivered;
    std::vector<MediaBuffer*> taken;
    CallLog* log;
};

} // namespace Qor::Testing

#endif
