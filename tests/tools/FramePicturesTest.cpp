// The renderer's pictures: byte orders turned back into RGBA, and the
// preview's placement, scaling and blending over the checkerboard.
#include "tools/FramePictures.h"

#include "tests/tools/TestImages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

using namespace Testing;

TEST(FramePictures, EveryByteOrderBecomesRgba)
{
    // One pixel of red 0x11, green 0x22, blue 0x33, alpha 0x44 in each order.
    const struct {
        const char* order;
        std::vector<uint8_t> bytes;
    } rows[] = {{"RGBA", {0x11, 0x22, 0x33, 0x44}}, {"BGRA", {0x33, 0x22, 0x11, 0x44}},
        {"ARGB", {0x44, 0x11, 0x22, 0x33}}, {"ABGR", {0x44, 0x33, 0x22, 0x11}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.order);
        Frame frame;
        frame.width = 1;
        frame.height = 1;
        frame.pixels = row.bytes;
        const PngImage image = frameAsRgba(frame, *findOutputOrder(row.order));
        EXPECT_EQ(image.rgba, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
    }
    Frame empty;
    EXPECT_EQ(frameAsRgba(empty, *findOutputOrder("RGBA")).width, 0u);
}

Frame placed(double left, double top, double right, double bottom)
{
    Frame frame;
    frame.left = left;
    frame.top = top;
    frame.right = right;
    frame.bottom = bottom;
    return frame;
}

TEST(FramePictures, ReadsTheRectangleFromThePacketHeader)
{
    std::vector<uint8_t> packet(53, 0);
    const std::vector<uint8_t> fields = {0x10, 0x00, 0x20, 0x01, 0x2F, 0x00, 0x3F, 0x01}; // 16, 288, 47, 319
    std::copy(fields.begin(), fields.end(), packet.begin() + 31);
    PacketRectangle rectangle;
    ASSERT_TRUE(readPacketRectangle(packet, rectangle));
    EXPECT_EQ(rectangle.left, 16);
    EXPECT_EQ(rectangle.top, 288);
    EXPECT_EQ(rectangle.right, 47);
    EXPECT_EQ(rectangle.bottom, 319);
    EXPECT_FALSE(readPacketRectangle(std::vector<uint8_t>(38, 0), rectangle));
    EXPECT_EQ(rectangle.left, 16);
}

TEST(FramePictures, PreviewSizeIsThePictureOrTheCanvas)
{
    const struct {
        const char* label;
        PictureSize canvas;
        PictureSize picture;
        PictureSize expected;
    } rows[] = {
        {"picture given", {960, 720}, {720, 576}, {720, 576}},
        {"no picture", {1440, 1080}, {0, 0}, {1440, 1080}},
        {"scaled to fit", {8192, 2048}, {0, 0}, {4096, 1024}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const PictureSize size = previewSize(row.canvas, row.picture);
        EXPECT_EQ(size.width, row.expected.width);
        EXPECT_EQ(size.height, row.expected.height);
    }
}

TEST(FramePictures, PreviewBlendsTheFrameAtItsPlace)
{
    // A 2x1 frame: opaque red, then half-transparent green, at column 40 and
    // row 20 of a 64x48 canvas shown on a 128x96 picture: twice the size,
    // at 80, 40.
    const PngImage frame = rgbaImage(2, 1, {255, 0, 0, 255, 0, 255, 0, 128});
    const Frame placement = placed(40.0 / 64, 20.0 / 48, 41.0 / 64, 20.0 / 48);
    const PngImage preview = composePreview(frame, placement, {64, 48}, {128, 96});
    ASSERT_EQ(preview.width, 128u);
    ASSERT_EQ(preview.height, 96u);
    for (uint32_t y = 0; y < 96; ++y)
        for (uint32_t x = 0; x < 128; ++x) {
            const Rgba under = checkerboardAt(int32_t(x), int32_t(y));
            Rgba expected = under;
            if (y >= 40 && y < 42 && x >= 80 && x < 82)
                expected = Rgba{255, 0, 0, 255};
            if (y >= 40 && y < 42 && x >= 82 && x < 84)
                expected = Rgba{blended(0, under.red, 128), blended(255, under.green, 128), blended(0, under.blue, 128), 255};
            ASSERT_EQ(preview.pixel(x, y), expected) << "at " << x << "," << y;
        }
    // The checkerboard has two greys in 16-pixel squares.
    EXPECT_NE(checkerboardAt(0, 0), checkerboardAt(16, 0));
    EXPECT_EQ(checkerboardAt(0, 0), checkerboardAt(16, 16));
}

} // namespace
} // namespace Qor::Tools
