// Subtitle packets made by the host test itself, from the packet format
// alone: a header, then two interlaced fields of run-length codes. Every
// image is written with a random mixture of the code forms (shortest, the
// longer four-nibble form, the end-of-row code), so the library's decoder
// meets each of them.
#ifndef KELVO_TESTS_MSVC_HOST_PACKETS_H
#define KELVO_TESTS_MSVC_HOST_PACKETS_H

#include "tests/msvc-host/HostRuntime.h"

struct Colour {
    uint8_t red, green, blue;
};

struct PacketContents {
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t left = 0;
    uint16_t top = 0;
    Colour palette[4] = {};
    bool hasAlpha = false;
    uint8_t alpha[4] = {};
    uint8_t* indices = nullptr;  // width x height colour indices, top row first
};

struct PacketBytes {
    uint8_t* bytes = nullptr;
    int32_t size = 0;
};

// The packet for `contents`: 53 header bytes (57 with alpha) and the two
// fields' codes, `random` choosing among the code forms. The caller frees `bytes`.
PacketBytes writePacket(const PacketContents& contents, HostRuntime::Random& random);

// A picture with long and short runs: bands, a block, or noise.
void drawRandomImage(PacketContents& contents, HostRuntime::Random& random);

#endif
