/* The decoder component's core behind a plain C seam: its state and port
 * rules, packet parsing and frame production, with no binary boundary of its
 * own. A boundary (the C++ classes a host calls) owns one KelvoCore per
 * component and forwards to these functions; the core reaches the host's
 * objects only through the KelvoHostCalls the boundary gives it, as opaque
 * handles. Nothing of C++ crosses this seam (no classes, no exceptions, no
 * standard containers), so the two sides may be built by different compilers
 * for the same platform. All functions are cdecl, all results plain integers.
 */
#ifndef KELVO_SUBDECODE_KELVOCORE_H
#define KELVO_SUBDECODE_KELVOCORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KelvoCore KelvoCore;

/* Handles of the host's objects: a MediaBuffer, the BufferAllocator, the
 * downstream PortInterface, the Variant of a message. The core compares them
 * with null and passes them back; it never looks inside. */
typedef void* KelvoBuffer;
typedef void* KelvoAllocator;
typedef void* KelvoSink;
typedef void* KelvoMessage;

/* The host calls the core makes, each a thin translation by the boundary into
 * one call or field access on a host object. */
typedef struct KelvoHostCalls {
    void* (*lock)(KelvoBuffer buffer);                /* payload, or null */
    void (*unlock)(KelvoBuffer buffer);
    void (*dropReference)(KelvoBuffer buffer);
    int32_t (*size)(KelvoBuffer buffer);
    void (*setSize)(KelvoBuffer buffer, int32_t size);
    int32_t (*stride)(KelvoBuffer buffer);
    void (*timing)(KelvoBuffer buffer, uint32_t timing[2]);
    void (*setTiming)(KelvoBuffer buffer, const uint32_t timing[2]);
    void (*setRectangle)(KelvoBuffer buffer, double left, double top, double right, double bottom);
    void (*configure)(KelvoAllocator allocator, int32_t bitsPerPixel);
    KelvoBuffer (*allocate)(KelvoAllocator allocator, int32_t width, int32_t height, int32_t count);
    /* MSG_SAMPLE downstream with a Variant tagged TypeObject holding `frame`;
     * answers 1 exactly when the sink took it. */
    int32_t (*deliverFrame)(KelvoSink sink, KelvoBuffer frame);
    /* MSG_STREAM_INFO downstream with the very message received; the sink's answer. */
    int32_t (*forwardStreamInfo)(KelvoSink sink, KelvoMessage message);
} KelvoHostCalls;

/* Results of the calls below that can fail in more than one way. */
enum {
    KELVO_REFUSED = 0,
    KELVO_ACCEPTED = 1,
    /* An allocation failed; the state is as after a refusal (a taken sample
     * stays held, a frame obtained was released). A boundary that lets
     * exceptions reach its caller raises its out-of-memory exception here. */
    KELVO_OUT_OF_MEMORY = -2
};

/* The two sides. The pairing is crosswise: OutputInterface::openPort opens
 * KELVO_PACKET_SIDE, the port that receives packets; InputInterface::openPort
 * opens KELVO_FRAME_SIDE, the port that sends frames. */
enum { KELVO_PACKET_SIDE = 0, KELVO_FRAME_SIDE = 1 };

/* A new core with both sides closed, nothing held and a 0 x 0 display;
 * `calls` must outlive it. Null when out of memory. */
KelvoCore* kelvoCoreCreate(const KelvoHostCalls* calls);
/* Drops the held sample, if any, and frees the core. Null does nothing. */
void kelvoCoreDestroy(KelvoCore* core);
/* Drops the held sample, if any (the first step of the component's teardown). */
void kelvoCoreReleaseSample(KelvoCore* core);

/* Opens `side` for `fourcc`, kept by pointer. KELVO_ACCEPTED, or
 * KELVO_REFUSED with nothing changed when the side is open, `kind` is not 1,
 * or the five bytes at `fourcc` are not exactly one of the side's codes. */
int32_t kelvoCoreOpenPort(KelvoCore* core, int32_t side, int32_t kind, const char* fourcc);
/* Closes `side`: KELVO_ACCEPTED, or KELVO_REFUSED when it was not open.
 * Sink, allocator, held sample and readiness stay as they are. */
int32_t kelvoCoreClosePort(KelvoCore* core, int32_t side);
/* The caller's code text `side` was opened with, or null when closed. */
const char* kelvoCoreFormatText(const KelvoCore* core, int32_t side);
/* The open side's code text packed first character lowest, upper-cased; 0 when closed. */
uint32_t kelvoCorePackedFormat(const KelvoCore* core, int32_t side);

/* The answer to QRY_READY: 1 between EVT_SET_SINK and EVT_STOP. */
int32_t kelvoCoreReady(const KelvoCore* core);
/* EVT_SET_SINK: records the sink (null allowed), decides alpha from the packet side's code, makes ready. */
void kelvoCoreSetSink(KelvoCore* core, KelvoSink sink);
/* EVT_SET_ALLOCATOR: records the allocator (null allowed). */
void kelvoCoreSetAllocator(KelvoCore* core, KelvoAllocator allocator);
/* EVT_STOP: drops the held sample and stops taking samples until the next sink. */
void kelvoCoreStop(KelvoCore* core);

/* MSG_STREAM_INFO: records width x height when `hasSize`, then forwards
 * `message` to the sink; the sink's answer, or 0 with no sink. */
int32_t kelvoCoreStreamInfo(KelvoCore* core, int32_t hasSize, int32_t width, int32_t height, KelvoMessage message);
/* MSG_SAMPLE: KELVO_REFUSED untaken when not ready; otherwise the packet's
 * reference is the core's whatever the answer, and the packet becomes one
 * frame delivered downstream: KELVO_ACCEPTED when the sink took it (or the
 * packet has no payload), KELVO_REFUSED or KELVO_OUT_OF_MEMORY otherwise. */
int32_t kelvoCoreSample(KelvoCore* core, KelvoBuffer packet);

#ifdef __cplusplus
}
#endif

#endif
