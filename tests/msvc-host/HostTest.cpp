// A host built for Microsoft's C++ ABI, driving kelvosubdecode.dll as such
// a host does: LoadLibrary, the entry point, then only virtual calls and
// field accesses through its own copy of the contract (Contract.h). It runs
// whole sessions in both input formats and all four output orders and
// checks every pixel against a colour worked out here, the rectangle's
// fractions and the timing; the refusals of hostile samples; the property
// names appended to its vector and freed by its own runtime's rules; the
// final release with the host told before and after; every buffer's
// references balanced; and deletion through an interface pointer.
// It prints one line per failed check and exits non-zero when any failed.
#include "tests/msvc-host/Contract.h"
#include "tests/msvc-host/HostRuntime.h"
#include "tests/msvc-host/Packets.h"

namespace {

using namespace Qor;
using namespace HostRuntime;

#if defined(_WIN64)
constexpr const char* entryName = "getPlugin";
constexpr const char* targetName = "x64";
#else
// 32-bit Windows decorates a cdecl name with a leading underscore.
constexpr const char* entryName = "_getPlugin";
constexpr const char* targetName = "i686";
#endif

GetPluginFunction getPlugin = nullptr;

// Calls on the host's objects, in order, as one line of words.
class CallLog {
public:
    void add(const char* word)
    {
        for (const char* c = length ? " " : ""; *c; ++c)
            append(*c);
        for (; *word; ++word)
            append(*word);
        text[length] = 0;
    }
    void clear()
    {
        length = 0;
        text[0] = 0;
    }
    bool is(const char* expected) const { return sameText(text, expected); }
    bool contains(const char* word) const
    {
        const size_t n = textLength(word);
        for (int i = 0; i + int(n) <= length; ++i) {
            size_t k = 0;
            while (k < n && text[i + int(k)] == word[k])
                ++k;
            if (k == n)
                return true;
        }
        return false;
    }

private:
    void append(char c)
    {
        if (length < int(sizeof text) - 1)
            text[length++] = c;
    }
    char text[512] = {};
    int length = 0;
};

class CountingHost final : public Host {
public:
    int32_t willDestroyPlugin(Plugin* plugin) override
    {
        events.add("will");
        told[toldCount++ % 2] = plugin;
        // The object is still whole when the host is told first.
        countWhenTold = plugin->referenceCount();
        return 0;
    }
    int32_t didDestroyPlugin(Plugin* plugin) override
    {
        events.add("did");
        told[toldCount++ % 2] = plugin;
        return 0;
    }

    CallLog events;
    Plugin* told[2] = {};
    int toldCount = 0;
    int32_t countWhenTold = -1;
};

// A host buffer: counts its references, logs its calls, frees its payload
// at the last release; the object stays for the final checks.
class SessionBuffer final : public MediaBuffer {
public:
    SessionBuffer(const char* name, uint8_t* bytes, int32_t bytesSize, CallLog* log)
        : name(name), payload(bytes), payloadSize(bytesSize), log(log)
    {
        size = bytesSize;
        timing[0] = timing[1] = 0;
        left = top = right = bottom = 0;
        stride = 0;
    }
    ~SessionBuffer() override { delete[] payload; }
    int32_t addReference() override { return ++references; }
    int32_t dropReference() override
    {
        logCall(".dropReference");
        if (--references == 0) {
            delete[] payload;
            payload = nullptr;
        }
        return references;
    }
    void* lock() override
    {
        logCall(".lock");
        return payload;
    }
    void unlock() override { logCall(".unlock"); }

    const char* name;
    uint8_t* payload;
    int32_t payloadSize;
    CallLog* log;
    int32_t references = 1;

private:
    void logCall(const char* call)
    {
        char word[40];
        int n = 0;
        for (const char* c = name; *c && n < 20; ++c)
            word[n++] = *c;
        for (const char* c = call; *c && n < 39; ++c)
            word[n++] = *c;
        word[n] = 0;
        log->add(word);
    }
};

constexpr int mostBuffers = 64;

// Frames of width + padding pixels a row, filled with 0xA5.
class SessionAllocator final : public BufferAllocator {
public:
    explicit SessionAllocator(CallLog* log) : log(log) {}
    ~SessionAllocator() override
    {
        for (int i = 0; i < count; ++i)
            delete frames[i];
    }
    void configure(int32_t bits) override
    {
        log->add(bits == 32 ? "configure(32)" : "configure(?)");
    }
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t frameCount) override
    {
        log->add("allocate");
        CHECK(frameCount == 1);
        if (giveNothing || count == mostBuffers)
            return nullptr;
        const int32_t stride = width + padding;
        const int32_t bytes = stride * height * 4;
        auto* payload = new uint8_t[bytes > 0 ? bytes : 1];
        for (int32_t i = 0; i < bytes; ++i)
            payload[i] = 0xA5;
        auto* frame = new SessionBuffer("frame", payload, bytes, log);
        frame->size = 0;
        frame->stride = stride;
        frames[count++] = frame;
        return frame;
    }

    SessionBuffer* frames[mostBuffers] = {};
    int count = 0;
    CallLog* log;
    int32_t padding = 0;
    bool giveNothing = false;
};

class SessionSink final : public PortInterface {
public:
    explicit SessionSink(CallLog* log) : log(log) {}
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override
    {
        log->add("sink.deliver");
        if (code == MSG_SAMPLE) {
            CHECK(value->type == TypeObject);
            auto* frame = static_cast<SessionBuffer*>(value->value.asObject);
            if (takeFrames && count < mostBuffers)
                frames[count++] = frame;
            return takeFrames;
        }
        if (code == MSG_STREAM_INFO)
            lastStreamInfo = value;
        return streamInfoAnswer;
    }

    SessionBuffer* frames[mostBuffers] = {};
    int count = 0;
    Variant* lastStreamInfo = nullptr;
    CallLog* log;
    bool takeFrames = true;
    bool streamInfoAnswer = true;
};

String identifier(const char* text)
{
    return String{const_cast<char*>(text), uint32_t(textLength(text)), nullptr};
}

Variant object(void* pointer)
{
    Variant v{};
    v.type = TypeObject;
    v.value.asObject = pointer;
    return v;
}

template <typename T>
T* lookup(Plugin* plugin, const char* text)
{
    void* found = nullptr;
    CHECK(plugin->queryInterface(identifier(text), &found) == 0);
    return static_cast<T*>(found);
}

bool stringIs(const String* string, const char* text)
{
    if (!string->data)
        return *text == 0 && string->length == 0;
    return string->length == textLength(text) && sameText(string->data, text);
}

bool wideStringIs(const WString* string, const char* text)
{
    if (!string->data || string->length != textLength(text))
        return false;
    for (uint32_t i = 0; i <= string->length; ++i)
        if (string->data[i] != uint8_t(text[i]))
            return false;
    return true;
}

// Whether a string's storage is a heap block with room for its text and
// its terminator: a unit short passes unseen under Wine's heap otherwise.
template <typename StringType>
bool storageHoldsTerminator(const StringType* string)
{
    return string->data && heapIsSound(string->data)
        && heapBlockSize(string->data) >= (string->length + 1) * sizeof(string->data[0]);
}

// The host's std::allocator<const char*> in a release build: below 4096
// bytes operator new; from 4096 on, sizeof(void*) + 31 bytes more, the
// storage aligned to 32 and the heap block's address kept just before it.
const char** vectorAllocate(size_t count)
{
    const size_t bytes = count * sizeof(const char*);
    if (bytes < 4096)
        return static_cast<const char**>(operator new(bytes));
    const uintptr_t block = reinterpret_cast<uintptr_t>(operator new(bytes + sizeof(void*) + 31));
    const uintptr_t storage = (block + sizeof(void*) + 31) & ~uintptr_t(31);
    reinterpret_cast<uintptr_t*>(storage)[-1] = block;
    return reinterpret_cast<const char**>(storage);
}

// Its deallocation, with the checks the release runtime makes of a large block.
void vectorDeallocate(const char** storage, size_t count)
{
    void* block = storage;
    if (count * sizeof(const char*) >= 4096) {
        CHECK(reinterpret_cast<uintptr_t>(storage) % 32 == 0);
        const uintptr_t container = reinterpret_cast<uintptr_t*>(storage)[-1];
        const uintptr_t backShift = reinterpret_cast<uintptr_t>(storage) - container;
        CHECK(backShift >= sizeof(void*) && backShift <= sizeof(void*) + 31);
        block = reinterpret_cast<void*>(container);
    }
    CHECK(heapIsSound(block));
    operator delete(block);
}

HostVector vectorOf(size_t size, size_t capacity, const char* fill)
{
    HostVector v{nullptr, nullptr, nullptr};
    if (capacity == 0)
        return v;
    v.first = vectorAllocate(capacity);
    for (size_t i = 0; i < size; ++i)
        v.first[i] = fill;
    v.last = v.first + size;
    v.end = v.first + capacity;
    return v;
}

// One component, as every section starts it.
struct Component {
    Component()
    {
        CHECK(getPlugin(&host, &plugin) == 0);
        CHECK(plugin != nullptr);
        if (!plugin)
            ExitProcess(1);
        component = lookup<ComponentInterface>(plugin, "com.kelvo.vandrel.interface.component");
        transform = lookup<TransformInterface>(plugin, "com.kelvo.vandrel.interface.transform");
        frameSide = transform;
        packetSide = transform;
    }
    // The last release: the host is told before and after, with the plugin.
    void release()
    {
        CHECK(plugin->dropReference() == 0);
        CHECK(host.events.is("will did"));
        CHECK(host.told[0] == plugin && host.told[1] == plugin);
        CHECK(host.countWhenTold == 0);
    }
    String* stringProperty(const char* key, uint8_t preset = 0)
    {
        Variant v{};
        v.type = preset;
        CHECK(component->getProperty(key, &v));
        CHECK(v.type == TypeString);
        return v.type == TypeString ? v.value.asString : nullptr;
    }
    uint32_t packedProperty(const char* key)
    {
        Variant v{};
        v.type = TypeFourCC;
        CHECK(component->getProperty(key, &v));
        CHECK(v.type == TypeFourCC);
        return v.value.asFourcc;
    }

    // Opens both ports, as `in` and `out`; false when either is refused.
    bool openPorts(const char* packetCode, const char* frameCode)
    {
        in = packetSide->openPort(PortFormat{1, packetCode, 0});
        out = frameSide->openPort(PortFormat{1, frameCode, 0});
        CHECK(in && out);
        return in && out;
    }

    CountingHost host;
    Plugin* plugin = nullptr;
    ComponentInterface* component = nullptr;
    TransformInterface* transform = nullptr;
    InputInterface* frameSide = nullptr;    // opens the port that sends frames
    OutputInterface* packetSide = nullptr;  // opens the port that receives packets
    PortInterface *in = nullptr, *out = nullptr;
};

// A null `out` is ignored: getPlugin answers 0, writes nothing (there is
// nowhere to write; a write through it faults) and calls nothing on the host.
void getPluginWithoutOut()
{
    setSection("getPlugin without out");
    CountingHost host;
    CHECK(getPlugin(&host, nullptr) == 0);
    CHECK(host.events.is("") && host.toldCount == 0);
    CHECK(heapIsSound());
}

void pluginCountsAndLookups()
{
    setSection("plugin and lookups");
    Component c;
    CHECK(c.plugin->referenceCount() == 1);
    CHECK(c.plugin->references == 1);
    CHECK(c.plugin->hostObject == &c.host);
    CHECK(c.plugin->auxiliary == 0);
    CHECK(c.plugin->auxiliaryValue() == 0);
    CHECK(c.plugin->getHost() == &c.host);
    CHECK(c.plugin->addReference() == 2);
    CHECK(c.plugin->dropReference() == 1);
    CHECK(c.host.events.is(""));

    // A host converts TransformComponent* through its virtual-base table.
    auto* whole = lookup<TransformComponent>(c.plugin, "com.kelvo.vandrel.component.transform");
    CHECK(whole != nullptr);
    CHECK(static_cast<ComponentInterface*>(whole) == c.component);
    CHECK(static_cast<TransformInterface*>(whole) == c.transform);
    const char* refused[] = {"com.kelvo.vandrel.interface.input", "com.kelvo.vandrel.component.output",
        "com.kelvo.vandrel.interface.transform ", "COM.KELVO.VANDREL.INTERFACE.COMPONENT", ""};
    for (const char* text : refused) {
        void* found = &c;
        CHECK(c.plugin->queryInterface(identifier(text), &found) == 3);
        CHECK(found == nullptr);
    }
    String empty{nullptr, 0, nullptr};
    void* found = &c;
    CHECK(c.plugin->queryInterface(empty, &found) == 3 && found == nullptr);
    CHECK(c.plugin->referenceCount() == 1);

    CHECK(c.component->defaultOperation1(7));
    CHECK(c.component->defaultOperation2());
    CHECK(c.component->defaultOperation3(1, 2));
    CHECK(c.component->defaultOperation4(1, 2));
    CHECK(c.component->defaultOperation5(1, 2));
    CHECK(c.component->defaultOperation6(1, 2));
    CHECK(!c.component->defaultOperation7(1, 2, 3, 4, 5));
    c.release();
}

void propertiesAndPorts()
{
    setSection("properties and ports");
    Component c;
    Variant v{};
    v.type = TypeFourCC;
    CHECK(c.component->getProperty("Name", &v));
    CHECK(v.type == TypeWString && wideStringIs(v.value.asWString, "Kelvo Subtitle Decoder"));
    CHECK(v.type == TypeWString && storageHoldsTerminator(v.value.asWString));
    String* type = c.stringProperty("Type");
    CHECK(type && stringIs(type, "Overlay|Decoder|KELVO"));
    CHECK(type && storageHoldsTerminator(type));
    CHECK(c.stringProperty("Type", TypeObject) == type);
    String* input = c.stringProperty("InputFormat");
    CHECK(input && !input->data && input->length == 0);

    Variant untouched{};
    untouched.type = 99;
    untouched.value.bits = 0x1122334455667788ull;
    const char* unknownKeys[] = {"inputformat", "Input", "InputFormat ", "Size"};
    for (const char* key : unknownKeys) {
        Variant probe = untouched;
        CHECK(!c.component->getProperty(key, &probe));
        CHECK(probe.type == 99 && probe.value.bits == 0x1122334455667788ull);
    }

    // Crosswise: OutputInterface opens the packet port, InputInterface the frame port.
    CHECK(c.packetSide->openPort(PortFormat{1, "RGBA", 0}) == nullptr);
    CHECK(c.frameSide->openPort(PortFormat{1, "GPHA", 0}) == nullptr);
    const char* wrongCodes[] = {"gpha", "GPH", "GPHAX", "GPHA "};
    for (const char* wrong : wrongCodes)
        CHECK(c.packetSide->openPort(PortFormat{1, wrong, 0}) == nullptr);
    CHECK(c.packetSide->openPort(PortFormat{0, "GPHA", 0}) == nullptr);
    CHECK(c.packetSide->openPort(PortFormat{2, "GPHA", 0}) == nullptr);
    CHECK(c.stringProperty("InputFormat")->data == nullptr);

    char code[] = "GPHA";  // the host's own text, kept alive while the port is open
    PortInterface* packets = c.packetSide->openPort(PortFormat{1, code, 0xDEAD});
    PortInterface* frames = c.frameSide->openPort(PortFormat{1, "BGRA", 0});
    CHECK(packets != nullptr && frames != nullptr && packets != frames);
    if (!packets || !frames)
        return;
    CHECK(c.packetSide->openPort(PortFormat{1, "GPHB", 0}) == nullptr);
    CHECK(c.frameSide->openPort(PortFormat{1, "RGBA", 0}) == nullptr);
    CHECK(stringIs(c.stringProperty("InputFormat"), "GPHA"));
    CHECK(stringIs(c.stringProperty("OutputFormat"), "BGRA"));
    CHECK(storageHoldsTerminator(c.stringProperty("InputFormat")));
    CHECK(storageHoldsTerminator(c.stringProperty("OutputFormat")));
    CHECK(c.packedProperty("InputFormat") == 0x41485047u);
    CHECK(c.packedProperty("OutputFormat") == 0x41524742u);

    // The port protocol's plain answers.
    CHECK(!packets->query(QRY_READY, 0) && !frames->query(QRY_READY, 0));
    CHECK(packets->query(0x40000001, 0) && frames->query(0x40000001, 0));
    CHECK(!packets->request(0, 0) && !frames->request(1, 2));
    CHECK(packets->notify(EVT_SET_SINK, nullptr));
    CHECK(!packets->query(QRY_READY, 0));
    CHECK(frames->notify(0x30000001, nullptr));
    CHECK(!packets->deliver(0x20000001, nullptr));

    CHECK(!c.packetSide->closePort(frames));
    CHECK(!c.packetSide->closePort(nullptr));
    CHECK(!c.frameSide->closePort(packets));
    CHECK(c.packetSide->closePort(packets));
    CHECK(!c.packetSide->closePort(packets));
    CHECK(c.frameSide->closePort(frames));
    CHECK(c.stringProperty("OutputFormat")->data == nullptr);
    CHECK(c.stringProperty("InputFormat")->length == 0);
    PortInterface* again = c.packetSide->openPort(PortFormat{1, "GPHB", 0});
    CHECK(again != nullptr && stringIs(c.stringProperty("InputFormat"), "GPHB"));
    CHECK(c.packedProperty("InputFormat") == 0x42485047u);
    c.release();  // with a port open
}

// The names go into the host's vector in its own runtime's storage.
void propertyNamesInTheHostsVector()
{
    setSection("property names");
    Component c;
    const char* keys[] = {"InputFormat", "Name", "OutputFormat", "Type"};
    auto endsWithKeys = [&](const HostVector& v) {
        if (v.last - v.first < 4)
            return false;
        for (int i = 0; i < 4; ++i)
            if (!sameText(v.last[i - 4], keys[i]))
                return false;
        return true;
    };

    HostVector empty{nullptr, nullptr, nullptr};
    CHECK(c.component->getPropertyNames(empty));
    CHECK(empty.last - empty.first == 4 && empty.end >= empty.last && endsWithKeys(empty));
    vectorDeallocate(empty.first, size_t(empty.end - empty.first));

    const char* mark = "host's own";
    HostVector two = vectorOf(2, 2, mark);
    CHECK(c.component->getPropertyNames(two));
    CHECK(two.last - two.first == 6 && two.first[0] == mark && two.first[1] == mark && endsWithKeys(two));
    vectorDeallocate(two.first, size_t(two.end - two.first));

    HostVector roomy = vectorOf(1, 8, mark);
    const char** storage = roomy.first;
    CHECK(c.component->getPropertyNames(roomy));
    CHECK(roomy.first == storage && roomy.end == storage + 8 && roomy.last - roomy.first == 5);
    CHECK(endsWithKeys(roomy));
    vectorDeallocate(roomy.first, 8);

    // Room for exactly four: the storage stays where it is.
    HostVector exact = vectorOf(2, 6, mark);
    storage = exact.first;
    CHECK(c.component->getPropertyNames(exact));
    CHECK(exact.first == storage && exact.end == storage + 6 && exact.last == exact.end);
    CHECK(exact.first[1] == mark && endsWithKeys(exact));
    vectorDeallocate(exact.first, 6);

    // A vector whose size is short of its capacity by two grows, and its old
    // block is freed whole, by its capacity: a large block of 4096 bytes
    // whose size alone would make a small one.
    const size_t wide = 4096 / sizeof(const char*);
    HostVector spare = vectorOf(wide - 2, wide, mark);
    void* oldBlock = reinterpret_cast<void*>(reinterpret_cast<uintptr_t*>(spare.first)[-1]);
    CHECK(heapIsSound(oldBlock));
    CHECK(c.component->getPropertyNames(spare));
    CHECK(spare.first != nullptr && spare.last - spare.first == ptrdiff_t(wide + 2) && endsWithKeys(spare));
    CHECK(spare.first[0] == mark && spare.first[wide - 3] == mark);
    CHECK(!heapIsSound(oldBlock));
    CHECK(heapIsSound());
    vectorDeallocate(spare.first, size_t(spare.end - spare.first));

    // Past 4096 bytes the host's runtime aligns the storage and keeps the
    // heap block's address before it: a small vector that grows into a
    // large one on i686, a large one that grows on x64.
    HostVector full = vectorOf(1022, 1022, mark);
    CHECK(c.component->getPropertyNames(full));
    const size_t capacity = size_t(full.end - full.first);
    CHECK(full.last - full.first == 1026 && capacity >= 1026 && endsWithKeys(full));
    CHECK(full.first[0] == mark && full.first[1021] == mark);
    if (capacity * sizeof(const char*) >= 4096)
        CHECK(reinterpret_cast<uintptr_t>(full.first) % 32 == 0);
    vectorDeallocate(full.first, capacity);

    // A vector that cannot take four more is refused and left as it was.
    // Its pointers are never read, so they need no storage.
    const uintptr_t start = 64;
    const uintptr_t most = uintptr_t(PTRDIFF_MAX) / sizeof(const char*);
    HostVector huge;
    huge.first = reinterpret_cast<const char**>(start);
    huge.last = reinterpret_cast<const char**>(start + (most - 2) * sizeof(const char*));
    huge.end = huge.last;
    const HostVector before = huge;
    CHECK(!c.component->getPropertyNames(huge));
    CHECK(huge.first == before.first && huge.last == before.last && huge.end == before.end);
    CHECK(heapIsSound());
    c.release();
}

// The bytes a pixel of colour `index` must have, from the palette, the
// alpha and the output order alone: a transparent colour is four zeros,
// any other keeps its palette values unscaled.
void expectedPixel(const PacketContents& c, int index, const char* order, uint8_t out[4])
{
    const uint8_t a = c.hasAlpha ? c.alpha[index] : (index == 0 ? 0 : 255);
    const Colour p = a == 0 ? Colour{0, 0, 0} : c.palette[index];
    const uint8_t r = p.red, g = p.green, b = p.blue;
    const uint8_t rgba[4] = {r, g, b, a}, bgra[4] = {b, g, r, a}, argb[4] = {a, r, g, b}, abgr[4] = {a, b, g, r};
    const uint8_t* chosen = sameText(order, "RGBA") ? rgba
        : sameText(order, "BGRA")                   ? bgra
        : sameText(order, "ARGB")                   ? argb
                                                    : abgr;
    for (int i = 0; i < 4; ++i)
        out[i] = chosen[i];
}

SessionBuffer* packetBuffer(const PacketBytes& packet, CallLog* log)
{
    return new SessionBuffer("packet", packet.bytes, packet.size, log);
}

void session(const char* inputCode, const char* order)
{
    static char name[] = "session GPHx to xxxx";
    for (int i = 0; i < 4; ++i) {
        name[8 + i] = inputCode[i];
        name[16 + i] = order[i];
    }
    setSection(name);
    CallLog log;
    Component c;
    SessionAllocator allocator(&log);
    allocator.padding = 5;
    SessionSink sink(&log);
    if (!c.openPorts(inputCode, order))
        return;
    PortInterface* in = c.in;
    PortInterface* out = c.out;

    Variant v = object(&allocator);
    CHECK(out->notify(EVT_SET_ALLOCATOR, &v));
    v = object(&sink);
    CHECK(out->notify(EVT_SET_SINK, &v));
    CHECK(in->query(QRY_READY, 0) && out->query(QRY_READY, 0));
    StreamInfo info{0, 720, 576};
    v = object(&info);
    CHECK(in->deliver(MSG_STREAM_INFO, &v));
    CHECK(sink.lastStreamInfo == &v);

    constexpr int packetCount = 12;
    const bool alpha = sameText(inputCode, "GPHA");
    Random random(0x5eed + uint32_t(order[0]) * 131 + uint32_t(order[1]) * 7 + (alpha ? 1000 : 0));
    PacketContents sources[packetCount];
    SessionBuffer* packets[packetCount] = {};
    for (int n = 0; n < packetCount; ++n) {
        PacketContents& s = sources[n];
        s.width = uint16_t(1 + random.below(200));
        s.height = uint16_t(1 + random.below(60));
        drawRandomImage(s, random);
        for (Colour& colour : s.palette)
            colour = Colour{uint8_t(random.next()), uint8_t(random.next()), uint8_t(random.next())};
        s.hasAlpha = alpha;
        const uint8_t alphas[4] = {uint8_t(random.below(2) ? 0 : 40), 255, 0, 128};
        for (int i = 0; i < 4; ++i)
            s.alpha[i] = alphas[i];
        s.left = uint16_t(random.below(720 - s.width));
        s.top = uint16_t(random.below(576 - s.height));
        packets[n] = packetBuffer(writePacket(s, random), &log);
        packets[n]->timing[0] = uint32_t(1000 * n);
        packets[n]->timing[1] = uint32_t(n);

        log.clear();
        v = object(packets[n]);
        CHECK(in->deliver(MSG_SAMPLE, &v));
        if (n == 0)
            CHECK(log.is("packet.lock packet.unlock packet.lock packet.unlock configure(32) allocate frame.lock "
                         "frame.unlock frame.lock frame.unlock sink.deliver packet.dropReference"));
    }

    CHECK(sink.count == packetCount);
    for (int n = 0; n < sink.count && n < packetCount; ++n) {
        const PacketContents& s = sources[n];
        const SessionBuffer* frame = sink.frames[n];
        CHECK(frame->size == s.width * s.height * 4);
        CHECK(frame->timing[0] == uint32_t(1000 * n) && frame->timing[1] == uint32_t(n));
        // The stream's picture (720 x 576) holds every rectangle, so it is the canvas.
        CHECK(frame->left == double(s.left) / 720);
        CHECK(frame->top == double(s.top) / 576);
        CHECK(frame->right == double(s.left + s.width - 1) / 720);
        CHECK(frame->bottom == double(s.top + s.height - 1) / 576);
        // Pixels where the picture is; the fill byte 0x28 in the rest of
        // the first `size` bytes; the allocator's 0xA5 beyond.
        int wrong = 0;
        const int32_t rowBytes = frame->stride * 4;
        for (int32_t o = 0; o < frame->payloadSize; ++o) {
            const int32_t y = o / rowBytes;
            const int32_t x = (o % rowBytes) / 4;
            uint8_t want;
            if (x < s.width && y < s.height) {
                uint8_t pixel[4];
                expectedPixel(s, s.indices[y * s.width + x], order, pixel);
                want = pixel[o % 4];
            } else {
                want = o < frame->size ? 0x28 : 0xA5;
            }
            wrong += frame->payload[o] != want;
        }
        CHECK(wrong == 0);
        if (wrong) {
            print("  frame ");
            printNumber(n);
            print(": wrong bytes ");
            printNumber(wrong);
            print("\n");
        }
    }

    CHECK(out->notify(EVT_STOP, nullptr));
    CHECK(!in->query(QRY_READY, 0));
    CHECK(c.packetSide->closePort(in));
    CHECK(c.frameSide->closePort(out));
    c.release();
    for (int n = 0; n < sink.count; ++n)
        sink.frames[n]->dropReference();
    for (int n = 0; n < packetCount; ++n) {
        CHECK(packets[n]->references == 0);
        delete packets[n];
        delete[] sources[n].indices;
    }
    for (int n = 0; n < allocator.count; ++n)
        CHECK(allocator.frames[n]->references == 0);
}

// Samples the component must refuse, each leaving every reference where
// the port protocol says: a refused sample before the sink is not taken;
// a taken one stays held until the next sample or the stop.
void refusals()
{
    setSection("refusals");
    CallLog log;
    Component c;
    SessionAllocator allocator(&log);
    SessionSink sink(&log);
    if (!c.openPorts("GPHB", "RGBA"))
        return;
    PortInterface* in = c.in;
    PortInterface* out = c.out;
    Variant v = object(&allocator);
    CHECK(out->notify(EVT_SET_ALLOCATOR, &v));

    Random random(77);
    PacketContents s;
    s.width = 40;
    s.height = 10;
    s.left = 10;
    s.top = 10;
    s.palette[1] = Colour{1, 2, 3};
    drawRandomImage(s, random);
    auto valid = [&] { return packetBuffer(writePacket(s, random), &log); };

    // Before the sink: refused and not taken, no call on the buffer.
    SessionBuffer* early = valid();
    log.clear();
    v = object(early);
    CHECK(!in->deliver(MSG_SAMPLE, &v));
    CHECK(log.is("") && early->references == 1);

    Variant sinkValue = object(&sink);
    CHECK(out->notify(EVT_SET_SINK, &sinkValue));

    // No payload: answered true, no frame, held.
    SessionBuffer* empty = new SessionBuffer("packet", nullptr, 0, &log);
    log.clear();
    v = object(empty);
    CHECK(in->deliver(MSG_SAMPLE, &v));
    CHECK(!log.contains("allocate") && empty->references == 1);

    // Shorter than its header: refused without a frame; the previous sample goes.
    auto* shortBytes = new uint8_t[30];
    for (int i = 0; i < 30; ++i)
        shortBytes[i] = 0x11;
    SessionBuffer* cut = new SessionBuffer("packet", shortBytes, 30, &log);
    log.clear();
    v = object(cut);
    CHECK(!in->deliver(MSG_SAMPLE, &v));
    CHECK(!log.contains("allocate") && empty->references == 0 && cut->references == 1);

    // 65535 x 65535 pixels do not fit a frame's size: refused before any allocation.
    PacketContents tiny = s;
    tiny.width = 1;
    tiny.height = 1;
    PacketBytes hugeBytes = writePacket(tiny, random);
    hugeBytes.bytes[27] = hugeBytes.bytes[28] = hugeBytes.bytes[29] = hugeBytes.bytes[30] = 0xFF;
    SessionBuffer* huge = packetBuffer(hugeBytes, &log);
    log.clear();
    v = object(huge);
    CHECK(!in->deliver(MSG_SAMPLE, &v));
    CHECK(!log.contains("allocate") && cut->references == 0 && huge->references == 1);

    // The allocator gives nothing.
    allocator.giveNothing = true;
    SessionBuffer* unframed = valid();
    v = object(unframed);
    CHECK(!in->deliver(MSG_SAMPLE, &v));
    CHECK(unframed->references == 1 && huge->references == 0);
    allocator.giveNothing = false;

    // Rows closer than a row's width: the frame goes back, not downstream.
    allocator.padding = -1;
    SessionBuffer* narrow = valid();
    log.clear();
    v = object(narrow);
    CHECK(!in->deliver(MSG_SAMPLE, &v));
    CHECK(!log.contains("sink.deliver") && allocator.count == 1 && allocator.frames[0]->references == 0);
    allocator.padding = 0;

    // The sink refuses: the frame is released, the packet stays held.
    sink.takeFrames = false;
    SessionBuffer* refused = valid();
    v = object(refused);
    CHECK(!in->deliver(MSG_SAMPLE, &v));
    CHECK(allocator.count == 2 && allocator.frames[1]->references == 0 && refused->references == 1);
    CHECK(narrow->references == 0);

    // Stream information of another tag is forwarded as it is, with the sink's answer.
    sink.streamInfoAnswer = false;
    Variant other{};
    other.type = 3;
    CHECK(!in->deliver(MSG_STREAM_INFO, &other));
    CHECK(sink.lastStreamInfo == &other);

    CHECK(!out->deliver(MSG_SAMPLE, &v));
    CHECK(out->notify(EVT_STOP, nullptr));
    CHECK(refused->references == 0);
    CHECK(out->notify(EVT_STOP, nullptr));
    CHECK(!in->query(QRY_READY, 0));
    CHECK(in->notify(EVT_SET_SINK, &sinkValue));
    CHECK(!in->query(QRY_READY, 0));

    c.release();
    SessionBuffer* all[] = {early, empty, cut, huge, unframed, narrow, refused};
    CHECK(early->references == 1);
    early->dropReference();
    for (SessionBuffer* buffer : all) {
        CHECK(buffer->references == 0);
        delete buffer;
    }
    delete[] s.indices;
}

// A host may delete the component through any interface: the scalar
// deleting destructor behind each face destroys and frees the whole
// object (a held sample is released), and the host is not told.
void deletionThroughInterfaces()
{
    setSection("deletion");
    for (int face = 0; face < 3; ++face) {
        CallLog log;
        Component c;
        SessionSink sink(&log);
        if (!c.openPorts("GPHB", "ARGB"))
            return;
        Variant v = object(&sink);
        CHECK(c.out->notify(EVT_SET_SINK, &v));
        SessionBuffer* held = new SessionBuffer("packet", nullptr, 0, &log);
        v = object(held);
        CHECK(c.in->deliver(MSG_SAMPLE, &v));
        CHECK(held->references == 1);
        if (face == 0)
            delete c.component;
        else if (face == 1)
            delete static_cast<OutputInterface*>(c.transform);
        else
            delete lookup<TransformComponent>(c.plugin, "com.kelvo.vandrel.component.transform");
        CHECK(held->references == 0);
        CHECK(c.host.events.is(""));
        delete held;
    }
    CHECK(heapIsSound());
}

} // namespace

extern "C" int hostMain()
{
    print("msvc host test (");
    print(targetName);
    print("): kelvosubdecode.dll\n");
    void* library = LoadLibraryA("kelvosubdecode.dll");
    if (!library) {
        print("cannot load kelvosubdecode.dll: error ");
        printNumber(int32_t(GetLastError()));
        print("\n");
        ExitProcess(2);
    }
    getPlugin = reinterpret_cast<GetPluginFunction>(GetProcAddress(library, entryName));
    if (!getPlugin) {
        print("kelvosubdecode.dll has no ");
        print(entryName);
        print("\n");
        ExitProcess(2);
    }

    getPluginWithoutOut();
    pluginCountsAndLookups();
    propertiesAndPorts();
    propertyNamesInTheHostsVector();
    const char* inputCodes[] = {"GPHB", "GPHA"};
    const char* orders[] = {"RGBA", "BGRA", "ARGB", "ABGR"};
    for (const char* input : inputCodes)
        for (const char* order : orders)
            session(input, order);
    refusals();
    deletionThroughInterfaces();
    setSection("end");
    CHECK(heapIsSound());

    printNumber(checkCount());
    print(" checks, ");
    printNumber(failureCount());
    print(" failed\n");
    ExitProcess(failureCount() ? 1 : 0);
}
