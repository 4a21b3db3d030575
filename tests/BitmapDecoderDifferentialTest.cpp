// The decoder against its plain form (tests/support/PlainForms.h) on random
// input: encoded pictures in every code form, cut short at random, random
// bytes under random headers, offsets anywhere. Both decode into copies of
// one buffer of random bytes, so the whole buffer must match, untouched
// nibbles and bytes past the image included. Data and image blocks are
// exactly as long as they claim, for AddressSanitizer.
//
// The decoder into pixels, in every kernel this processor runs, against
// decodeBitmap followed by blitIndexedBitmap on the same inputs, into rows
// with and without padding that start at any byte address; and the choice
// among the kernels, against the processor's features.
#include "encode/RunLengthEncoder.h"
#include "render/IndexedBlit.h"
#include "subdecode/BitmapDecoder.h"
#include "subdecode/PixelDecoder.h"
#include "tests/support/IndexedImages.h"
#include "tests/support/PlainForms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace Qor {

namespace {

using Testing::exactCopy;
using Testing::plainDecodeBitmap;
using Testing::randomRunImage;

class DecoderInputs {
public:
    explicit DecoderInputs(uint32_t seed) : random(seed) {}

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

    // Mostly small, so that rows start at both parities and runs cross row
    // ends often; now and then none, or very wide.
    uint16_t side()
    {
        const int kind = pick(0, 99);
        if (kind < 5)
            return uint16_t(pick(0, 3));
        if (kind < 30)
            return uint16_t(pick(1, 16));
        if (kind < 55)
            return uint16_t(pick(1, 64));
        if (kind < 98)
            return uint16_t(pick(1, 300));
        return uint16_t(pick(1000, 4000));
    }

    // Run-length data for a width x height picture, and its second field's offset.
    std::vector<uint8_t> data(uint16_t width, uint16_t height, uint16_t& offset)
    {
        std::vector<uint8_t> bytes;
        const int kind = pick(0, 3);
        if (kind == 0 || width == 0 || height == 0) {
            bytes.resize(size_t(pick(0, 600)));
            for (uint8_t& byte : bytes)
                byte = uint8_t(random());
            offset = uint16_t(pick(0, 5) == 0 ? pick(0, 65535) : pick(0, int(bytes.size()) + 4));
            return bytes;
        }
        // Encoded pictures: runs of every length, noise of one to three, or
        // runs of one to 48, as many of them as the decoder into pixels takes
        // on with wide steps.
        std::vector<uint8_t> indices = randomRunImage(random, width, height);
        if (kind == 1 || (kind == 2 && pick(0, 1) == 0)) {
            const int longest = kind == 1 ? 3 : 48;
            uint8_t colour = 0;
            for (size_t i = 0; i < indices.size();) {
                colour = uint8_t((colour + pick(1, 3)) % 4);
                for (int run = pick(1, longest); run > 0 && i < indices.size(); --run)
                    indices[i++] = colour;
            }
        }
        RunLengthOptions options;
        options.fourNibbleCodes = pick(0, 3) == 0;
        options.endOfRow = EndOfRowCode(pick(0, 2));
        options.passRowEnd = pick(0, 1) == 1;
        const EncodedBitmap encoded = encodeRunLength(indices.data(), width, height, options);
        bytes = encoded.data;
        offset = uint16_t(std::min<size_t>(encoded.secondFieldOffset, 0xFFFF));
        // Cut short, or with some bytes flipped.
        if (pick(0, 3) == 0)
            bytes.resize(size_t(pick(0, int(bytes.size()))));
        if (pick(0, 4) == 0 && !bytes.empty())
            for (int flips = pick(1, 8); flips > 0; --flips)
                bytes[size_t(pick(0, int(bytes.size()) - 1))] ^= uint8_t(pick(1, 255));
        return bytes;
    }

    std::mt19937 random;
};

TEST(BitmapDecoderDifferential, MatchesPlainFormOnRandomInput)
{
    DecoderInputs inputs(0x64696666);
    for (int round = 0; round < 4000; ++round) {
        const uint16_t width = inputs.side();
        const uint16_t height = inputs.side();
        uint16_t offset = 0;
        const std::vector<uint8_t> bytes = inputs.data(width, height, offset);
        int32_t dataLength = int32_t(bytes.size());
        if (inputs.pick(0, 20) == 0)
            dataLength = -inputs.pick(1, 100);
        const auto data = exactCopy(bytes.data(), bytes.size());
        PacketHeader header{};
        header.width = width;
        header.height = height;
        header.secondFieldOffset = offset;
        header.bitmapData = data.get();

        const int32_t need = int32_t((int64_t(width) * height + 1) / 2);
        int32_t capacityIn = need + (inputs.pick(0, 3) == 0 ? inputs.pick(0, 9) : 0);
        if (inputs.pick(0, 15) == 0)
            capacityIn = std::max(0, need - inputs.pick(1, 3));
        std::vector<uint8_t> start(size_t(std::max(capacityIn, 0)));
        for (uint8_t& byte : start)
            byte = uint8_t(inputs.random());
        const auto image = exactCopy(start.data(), start.size());
        const auto expected = exactCopy(start.data(), start.size());

        SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << "x" << height << ", length "
                                        << dataLength << ", offset " << offset << ", capacity " << capacityIn);
        int32_t capacity = capacityIn;
        int32_t expectedCapacity = capacityIn;
        const int32_t result = decodeBitmap(&header, dataLength, capacity, image.get());
        const int32_t expectedResult = plainDecodeBitmap(&header, dataLength, expectedCapacity, expected.get());
        EXPECT_EQ(result, expectedResult);
        EXPECT_EQ(capacity, expectedCapacity);
        EXPECT_TRUE(std::equal(image.get(), image.get() + start.size(), expected.get()));
        if (HasFailure())
            break;
    }
}

// The plain form itself, on the hand-decoded examples of the decoder's tests
// that involve both fields, cut runs and odd widths.
TEST(BitmapDecoderDifferential, PlainFormDecodesHandCodedData)
{
    const struct {
        uint16_t width, height, offset;
        std::vector<uint8_t> data;
        std::vector<uint8_t> image;
    } rows[] = {
        {4, 3, 4, {0x5B, 0x60, 0x00, 0x02, 0x11}, {0x22, 0x22, 0x11, 0x11, 0x13, 0x32}},
        {3, 2, 1, {0xD0, 0x60, 0x00, 0x30}, {0x23, 0x31, 0x11}},
        {8, 1, 2, {0x00, 0x1B}, {0x33, 0x33, 0x33, 0x00}},
        {8, 2, 1, {0x01, 0x23}, {0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}},
        {3, 1, 1, {0xD0}, {0x11, 0x1E}},
    };
    for (const auto& row : rows) {
        PacketHeader header{};
        header.width = row.width;
        header.height = row.height;
        header.secondFieldOffset = row.offset;
        header.bitmapData = row.data.data();
        std::vector<uint8_t> image(row.image.size(), 0xEE);
        int32_t capacity = int32_t(image.size());
        EXPECT_EQ(plainDecodeBitmap(&header, int32_t(row.data.size()), capacity, image.data()), DecodeOk);
        EXPECT_EQ(image, row.image);
    }
}

// A kernel as the processor's features say it runs, named by its entry
// point: not taken from the table that the run-time choice reads, so that a
// kernel that drops out of that table is still tested, and the table is
// tested against this list.
struct RunnableKernel {
    const char* name;
    void (*decode)(const PixelDecoderJob& job);
};

void PrintTo(const RunnableKernel& kernel, std::ostream* out)
{
    *out << kernel.name;
}

// Every kernel this processor runs, narrowest first.
std::vector<RunnableKernel> runnableKernels()
{
    std::vector<RunnableKernel> kernels = {{"Portable", drawBitmapPortable}};
#if KELVO_PIXEL_KERNELS_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        kernels.push_back({"Sse2", drawBitmapSse2});
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2"))
        kernels.push_back({"Avx2", drawBitmapAvx2});
#endif
    return kernels;
}

class PixelDecoderDifferential : public testing::TestWithParam<RunnableKernel> {};

TEST_P(PixelDecoderDifferential, SamePixelsAsDecodeThenBlit)
{
    const RunnableKernel& kernel = GetParam();
    DecoderInputs inputs(0x70697865);
    for (int round = 0; round < 2000; ++round) {
        const uint16_t width = inputs.side();
        uint16_t height = inputs.side();
        // Large enough to cross every path; a very wide picture gets few rows.
        if (int64_t(width) * height > 1 << 20)
            height = uint16_t((1 << 20) / width);
        uint16_t offset = 0;
        const std::vector<uint8_t> bytes = inputs.data(width, height, offset);
        int32_t dataLength = int32_t(bytes.size());
        if (inputs.pick(0, 20) == 0)
            dataLength = -inputs.pick(1, 100);
        const auto data = exactCopy(bytes.data(), bytes.size());
        PacketHeader header{};
        header.width = width;
        header.height = height;
        header.secondFieldOffset = offset;
        header.bitmapData = data.get();

        uint8_t tableBytes[4][4];
        const uint8_t* tables[4];
        for (int b = 0; b < 4; ++b) {
            for (uint8_t& entry : tableBytes[b])
                entry = uint8_t(inputs.random());
            tables[b] = tableBytes[b];
        }
        uint32_t colours[4];
        pixelColours(tables, colours);

        // The block's rows, padding after the last one too, from a random
        // byte address; random bytes around the block must stay.
        const int32_t pitch = width + (inputs.pick(0, 2) == 0 ? inputs.pick(1, 9) : 0);
        const size_t lead = size_t(inputs.pick(0, 3) == 0 ? inputs.pick(1, 3) : 0);
        std::vector<uint8_t> start(lead + size_t(pitch) * height * 4);
        for (uint8_t& byte : start)
            byte = uint8_t(inputs.random());
        const auto actual = exactCopy(start.data(), start.size());
        const auto expected = exactCopy(start.data(), start.size());

        SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << "x" << height << ", length "
                                        << dataLength << ", offset " << offset << ", pitch " << pitch
                                        << ", lead " << lead);
        const int32_t need = int32_t((int64_t(width) * height + 1) / 2);
        std::vector<uint8_t> image(size_t(need) + 1, 0xEE);
        int32_t capacity = need;
        decodeBitmap(&header, dataLength, capacity, image.data());
        blitIndexedBitmap(image.data(), width, height, 0, 0, expected.get() + lead, pitch, height, tables, true);
        PixelDecoderJob job{header.bitmapData, dataLength, offset, width, height, actual.get() + lead, pitch,
            {colours[0], colours[1], colours[2], colours[3]}};
        kernel.decode(job);

        const auto differs = std::mismatch(actual.get(), actual.get() + start.size(), expected.get());
        EXPECT_EQ(differs.first, actual.get() + start.size())
            << "first difference at byte " << (differs.first - actual.get());
        if (HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, PixelDecoderDifferential, testing::ValuesIn(runnableKernels()),
    [](const auto& info) { return std::string(info.param.name); });

// The table the choice reads holds every kernel this processor runs, each
// saying so, and the choice is the widest of them.
TEST(PixelDecoderChoice, TableHoldsEveryKernelThisProcessorRuns)
{
    size_t count = 0;
    const PixelDecoderKernel* table = pixelDecoderKernels(count);
    for (const RunnableKernel& kernel : runnableKernels()) {
        const PixelDecoderKernel* const end = table + count;
        const PixelDecoderKernel* found = std::find_if(
            table, end, [&](const PixelDecoderKernel& entry) { return entry.decode == kernel.decode; });
        ASSERT_NE(found, end) << kernel.name << " is missing from the table";
        EXPECT_STREQ(found->name, kernel.name);
        EXPECT_TRUE(found->runsHere()) << kernel.name;
    }
}

TEST(PixelDecoderChoice, ChoosesTheWidestKernelThisProcessorRuns)
{
    const RunnableKernel widest = runnableKernels().back();
    EXPECT_EQ(chosenPixelDecoderKernel().decode, widest.decode)
        << "chosen " << chosenPixelDecoderKernel().name << ", widest here " << widest.name;
}

} // namespace
} // namespace Qor
