// Helpers for the decoder and encoder tests: images of colour indices, one
// byte a pixel and top row first, the decoder's packed bottom-up form, and
// the encoder's choices of code.
#ifndef KELVO_TESTS_SUPPORT_INDEXEDIMAGES_H
#define KELVO_TESTS_SUPPORT_INDEXEDIMAGES_H

#include "encode/RunLengthEncoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace Qor::Testing {

// A heap block of exactly `length` bytes copied from `bytes`, so that
// AddressSanitizer reports a read even one byte past them.
std::unique_ptr<uint8_t[]> exactCopy(const uint8_t* bytes, size_t length);

// The colour indices of a decoded image, top row first: memory row r of the
// image holds row height - 1 - r.
std::vector<uint8_t> topFirstIndices(const uint8_t* image, int width, int height);

// A width x height image of runs of one colour that cross row ends: mostly a
// few pixels long, some tens, some hundreds.
std::vector<uint8_t> randomRunImage(std::mt19937& random, int width, int height);

// The encoder's options with these three choices.
inline RunLengthOptions codeChoices(bool fourNibbleCodes, EndOfRowCode endOfRow, bool passRowEnd)
{
    RunLengthOptions options;
    options.fourNibbleCodes = fourNibbleCodes;
    options.endOfRow = endOfRow;
    options.passRowEnd = passRowEnd;
    return options;
}

} // namespace Qor::Testing

#endif
