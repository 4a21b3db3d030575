// The run-length encoder: the inverse of the bitmap decoder, for tests, tools
// and fuzzing. It is not part of the plug-in library.
//
// An image of 2-bit colour indices becomes two fields of run codes, the first
// with the image's rows 0, 2, 4... counted from the top, the second with rows
// 1, 3, 5..., every row padded to a byte boundary. By default each run takes
// its shortest code and runs longer than 255 pixels are split; the options
// write the longer forms the decoder also accepts.
#ifndef KELVO_ENCODE_RUNLENGTHENCODER_H
#define KELVO_ENCODE_RUNLENGTHENCODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Qor {

// When a row's last run is written as the end-of-row code (nibbles 0, 0, 0, colour).
enum class EndOfRowCode {
    WhenNotLonger, // when no longer than the plain codes: runs of 64 or more, or any run in four-nibble form
    Always,
    Never,
};

// The code forms the encoder writes; the defaults give the shortest data.
struct RunLengthOptions {
    // Every plain code in its four-nibble form rather than its shortest.
    bool fourNibbleCodes = false;
    EndOfRowCode endOfRow = EndOfRowCode::WhenNotLonger;
    // A row's last plain code claims the most pixels its form holds (3, 15,
    // 63 or 255), so that the decoder has to cut it at the row's end.
    bool passRowEnd = false;
};

// The two fields' run-length data, as a packet carries it after its header.
struct EncodedBitmap {
    std::vector<uint8_t> data;    // the first field's bytes, then the second's
    size_t secondFieldOffset = 0; // the first field's length; may exceed what a packet can hold
};

// Encodes the width x height colour indices at `indices` (one byte a pixel,
// top row first, only the low two bits used); never refuses: an empty image
// gives empty fields.
EncodedBitmap encodeRunLength(const uint8_t* indices, uint16_t width, uint16_t height,
    const RunLengthOptions& options = {});

} // namespace Qor

#endif
