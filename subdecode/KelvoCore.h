/* The decoder component behind a plain C seam: its state and every rule it
 * follows, written once for every platform. Which interfaces it answers;
 * its properties, their values and packed codes; the crosswise pairing of
 * its ports and every refusal; what its ports answer; the held sample;
 * frame production; getPlugin with a null `out`; the answers when memory
 * runs out; the order of its teardown, under the component's recursive
 * mutex.
 *
 * A boundary (the C++ classes a host calls, laid out for one C++ ABI) owns
 * one KelvoCore per component and forwards every call here. It translates
 * its ABI and nothing else: the core reaches the host's objects, and the
 * boundary's own (the component object, its ports, framework strings),
 * only through the KelvoCalls the boundary gives it, as opaque handles.
 * Nothing of C++ crosses this seam (no classes, no exceptions, no standard
 * containers), so the two sides may be built by different compilers for the
 * same platform. All functions are cdecl, all results plain integers or
 * handles.
 */
#ifndef KELVO_SUBDECODE_KELVOCORE_H
#define KELVO_SUBDECODE_KELVOCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KelvoCore KelvoCore;

/* Handles. The core compares them with null and passes them back; it never
 * looks inside. */
typedef void* KelvoHost;       /* the Host given to getPlugin; may be null */
typedef void* KelvoComponent;  /* the boundary's component object, as the Plugin the host holds */
typedef void* KelvoPluginSlot; /* where getPlugin's caller wants its Plugin* */
typedef void* KelvoPort;       /* a port object of the boundary's */
typedef void* KelvoText;       /* a framework String or WString object of the boundary's */
typedef void* KelvoBuffer;     /* a MediaBuffer */
typedef void* KelvoAllocator;  /* the BufferAllocator */
typedef void* KelvoSink;       /* the downstream PortInterface */
typedef void* KelvoMessage;    /* the Variant that comes with a port code; never null when passed out */
typedef void* KelvoObject;     /* the object a message's Variant designates */

/* The calls the core makes out of itself, each a thin translation by the
 * boundary into one call or field access on an object of its ABI. None of
 * them may throw. */
typedef struct KelvoCalls {
    /* The host's objects. */
    void (*willDestroyPlugin)(KelvoHost host, KelvoComponent plugin);
    void (*didDestroyPlugin)(KelvoHost host, KelvoComponent plugin);
    void* (*lock)(KelvoBuffer buffer); /* payload, or null */
    void (*unlock)(KelvoBuffer buffer);
    void (*dropReference)(KelvoBuffer buffer);
    int32_t (*size)(KelvoBuffer buffer);
    void (*setSize)(KelvoBuffer buffer, int32_t size);
    int32_t (*stride)(KelvoBuffer buffer); /* the distance of its rows, in four-byte pixels */
    void (*copyTiming)(KelvoBuffer from, KelvoBuffer to);
    void (*setRectangle)(KelvoBuffer buffer, double left, double top, double right, double bottom);
    void (*configure)(KelvoAllocator allocator, int32_t bitsPerPixel);
    KelvoBuffer (*allocate)(KelvoAllocator allocator, int32_t width, int32_t height, int32_t count);
    /* MSG_SAMPLE downstream with a Variant tagged TypeObject holding
     * `frame`; answers 1 exactly when the sink took it. */
    int32_t (*deliverFrame)(KelvoSink sink, KelvoBuffer frame);
    /* MSG_STREAM_INFO downstream with the very message received; the sink's answer, 1 or 0. */
    int32_t (*forwardStreamInfo)(KelvoSink sink, KelvoMessage message);
    /* A message's Variant: its one-byte tag, and its object pointer. */
    int32_t (*messageType)(KelvoMessage message);
    KelvoObject (*messageObject)(KelvoMessage message);
    /* The picture size a StreamInfo holds. */
    void (*streamInfoSize)(KelvoObject info, int32_t* width, int32_t* height);

    /* The boundary's objects. */
    /* A component object for `host` with one reference, which makes its
     * KelvoCore with kelvoCoreCreate: KELVO_ACCEPTED with it in *component;
     * KELVO_REFUSED when no storage for the object was obtained; or
     * KELVO_OUT_OF_MEMORY when its state could not be made, the object
     * destroyed again. *component is null unless accepted. */
    int32_t (*makeComponent)(KelvoHost host, KelvoComponent* component);
    /* Stores `component` (null included) where getPlugin's caller wants it. */
    void (*handOver)(KelvoPluginSlot slot, KelvoComponent component);
    /* Destroys and frees the component object through its virtual
     * destructor, which ends in kelvoCoreDestroy. */
    void (*destroyComponent)(KelvoComponent component);
    /* A port object of `side` for `owner`; null when out of memory. */
    KelvoPort (*makePort)(KelvoComponent owner, int32_t side);
    void (*destroyPort)(KelvoPort port);
    /* A String holding a copy of `text` up to its terminator (no storage
     * for null), or a WString likewise, owned by the boundary's framework
     * allocators; null when out of memory. */
    KelvoText (*makeString)(const char* text);
    KelvoText (*makeWideString)(const uint16_t* text);
    /* Destroys such a string (its text back to its allocator) and frees it. */
    void (*destroyString)(KelvoText string);
    void (*destroyWideString)(KelvoText string);
} KelvoCalls;

/* Results of the calls below. */
enum {
    KELVO_REFUSED = 0,
    KELVO_ACCEPTED = 1,
    /* An object the call needed could not be made; the state is as after
     * a refusal. A boundary whose ABI lets exceptions reach its caller
     * raises its out-of-memory exception; the other answers as for a
     * refusal. */
    KELVO_OUT_OF_MEMORY = -2
};

/* The two sides. The pairing is crosswise: OutputInterface::openPort opens
 * KELVO_PACKET_SIDE, the port that receives packets; InputInterface::openPort
 * opens KELVO_FRAME_SIDE, the port that sends frames. */
enum { KELVO_PACKET_SIDE = 0, KELVO_FRAME_SIDE = 1 };

/* The faces of the component queryInterface gives. */
enum {
    KELVO_FACE_NONE = 0,
    KELVO_FACE_COMPONENT = 1,           /* ComponentInterface */
    KELVO_FACE_TRANSFORM = 2,           /* TransformInterface */
    KELVO_FACE_TRANSFORM_COMPONENT = 3  /* TransformComponent */
};

/* getPlugin. With a null `out`, answers KELVO_ACCEPTED and does nothing
 * else: no component, no call. Otherwise hands over through `out` a new
 * component (calls->makeComponent) and answers KELVO_ACCEPTED, or hands
 * over null and answers what makeComponent did: KELVO_REFUSED when the
 * object got no storage (null, and nothing raised, on every ABI), or
 * KELVO_OUT_OF_MEMORY when its state could not be made. The export itself
 * always answers 0. `calls` must outlive every component. */
int32_t kelvoCoreGetPlugin(const KelvoCalls* calls, KelvoHost host, KelvoPluginSlot out);

/* The state of a new `component`: both sides closed, nothing held, a 0 x 0
 * picture, and its four properties. Null when out of memory, with nothing
 * left behind. */
KelvoCore* kelvoCoreCreate(const KelvoCalls* calls, KelvoComponent component);

/* The component's destruction, from its destructor: drops the held sample,
 * then under the mutex closes both sides (their ports destroyed), stops,
 * destroys the four property values and forgets the allocator; then frees
 * the core. Null does nothing. */
void kelvoCoreDestroy(KelvoCore* core);

/* The release of the last reference: tells `host` (when there is one)
 * willDestroyPlugin, destroys the component (calls->destroyComponent), and
 * tells the host didDestroyPlugin with the same pointer. */
void kelvoCoreRelease(const KelvoCalls* calls, KelvoHost host, KelvoComponent component);

/* queryInterface: 0 and the face for the three identifiers answered, 3 and
 * KELVO_FACE_NONE for any other text. `identifier` is the String's text up
 * to its first zero; null (no storage) is the empty text. */
int32_t kelvoCoreQueryInterface(const char* identifier, int32_t* face);

/* The property keys in byte-wise unsigned order, the order in which
 * getPropertyNames appends them; `count` receives their number. They stay
 * valid while the library is loaded. */
const char* const* kelvoCorePropertyNames(int32_t* count);

/* How getProperty answers. */
enum {
    KELVO_NO_PROPERTY = 0, /* false; the destination is not written */
    KELVO_PACKED = 1,      /* true; only the destination's asFourcc becomes `packed` */
    KELVO_STORED = 2       /* true; the destination becomes a Variant of tag `type` holding `text` */
};
/* The preset tag when there is no destination at all. */
enum { KELVO_NO_DESTINATION = -1 };
typedef struct KelvoProperty {
    int32_t type;
    uint32_t packed;
    KelvoText text;
} KelvoProperty;
/* getProperty of `key` for a destination whose tag is `preset`. */
int32_t kelvoCoreGetProperty(const KelvoCore* core, const char* key, int32_t preset, KelvoProperty* answer);

/* openPort on `side` with a PortFormat of `kind` and `fourcc` (kept by
 * pointer): KELVO_ACCEPTED with the new port in *port; KELVO_REFUSED,
 * changing nothing, when the side is open, `kind` is not 1, or the five
 * bytes at `fourcc` are not exactly one of the side's codes; or
 * KELVO_OUT_OF_MEMORY, changing nothing. *port is null unless accepted. */
int32_t kelvoCoreOpenPort(KelvoCore* core, int32_t side, int32_t kind, const char* fourcc, KelvoPort* port);
/* closePort on `side`: KELVO_ACCEPTED when `port` is that side's open port,
 * which is destroyed; KELVO_REFUSED or KELVO_OUT_OF_MEMORY, changing
 * nothing, otherwise. Sink, allocator, held sample and readiness stay. */
int32_t kelvoCoreClosePort(KelvoCore* core, int32_t side, KelvoPort port);

/* The four operations of the port of `side`, each answering 1 or 0.
 * `message` is the Variant that came with the code, or null. */
int32_t kelvoCoreQuery(const KelvoCore* core, int32_t side, uint32_t code);
int32_t kelvoCoreNotify(KelvoCore* core, int32_t side, uint32_t code, KelvoMessage message);
int32_t kelvoCoreRequest(const KelvoCore* core, int32_t side, uint32_t code);
int32_t kelvoCoreDeliver(KelvoCore* core, int32_t side, uint32_t code, KelvoMessage message);

#ifdef __cplusplus
}
#endif

#endif
