#include "tools/FramePictures.h"

#include "subdecode/PacketFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Qor::Tools {

namespace {

constexpr int32_t CheckerSquare = 16;
constexpr uint8_t CheckerLight = 0xA0;
constexpr uint8_t CheckerDark = 0x60;

uint8_t blend(uint8_t source, uint8_t destination, uint8_t alpha)
{
    return uint8_t((source * alpha + destination * (255 - alpha) + 127) / 255);
}

} // namespace

bool readPacketRectangle(const std::vector<uint8_t>& packet, PacketRectangle& rectangle)
{
    using namespace PacketFormat;
    if (packet.size() < size_t(BottomOffset + 2))
        return false;
    rectangle = PacketRectangle{readLittle16(&packet[LeftOffset]), readLittle16(&packet[TopOffset]),
        readLittle16(&packet[RightOffset]), readLittle16(&packet[BottomOffset])};
    return true;
}

PngImage frameAsRgba(const Frame& frame, const OutputOrder& order)
{
    PngImage image;
    if (frame.width <= 0 || frame.height <= 0)
        return image;
    image.width = uint32_t(frame.width);
    image.height = uint32_t(frame.height);
    // Which byte of a frame pixel holds each channel.
    uint8_t byteOf[4] = {};
    for (uint8_t b = 0; b < 4; ++b)
        byteOf[order.bytes[b]] = b;
    const struct {
        uint8_t red, green, blue, alpha;
    } at{byteOf[ChannelRed], byteOf[ChannelGreen], byteOf[ChannelBlue], byteOf[ChannelAlpha]};
    const size_t pixels = size_t(frame.width) * size_t(frame.height);
    image.rgba.resize(pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* source = &frame.pixels[i * 4];
        uint8_t* target = &image.rgba[i * 4];
        target[0] = source[at.red];
        target[1] = source[at.green];
        target[2] = source[at.blue];
        target[3] = source[at.alpha];
    }
    return image;
}

PictureSize previewSize(PictureSize canvas, PictureSize picture)
{
    const PictureSize shown = picture.width > 0 && picture.height > 0 ? picture : canvas;
    const int32_t longest = std::max(shown.width, shown.height);
    if (longest <= MaximumPreviewSide)
        return PictureSize{std::max(shown.width, 1), std::max(shown.height, 1)};
    const double scale = double(MaximumPreviewSide) / longest;
    return PictureSize{std::max(int32_t(std::lround(shown.width * scale)), 1),
        std::max(int32_t(std::lround(shown.height * scale)), 1)};
}

Rgba checkerboardAt(int32_t x, int32_t y)
{
    const uint8_t grey = (x / CheckerSquare + y / CheckerSquare) % 2 == 0 ? CheckerLight : CheckerDark;
    return Rgba{grey, grey, grey, 255};
}

PngImage composePreview(const PngImage& frame, const Frame& placement, PictureSize canvas, PictureSize picture)
{
    const PictureSize size = previewSize(canvas, picture);
    PngImage preview;
    preview.width = uint32_t(size.width);
    preview.height = uint32_t(size.height);
    const size_t rowBytes = size_t(size.width) * 4;
    preview.rgba.resize(rowBytes * size_t(size.height));
    // The checkerboard has two kinds of row; each is made once and copied.
    std::vector<uint8_t> rows[2];
    for (int32_t kind = 0; kind < 2; ++kind) {
        rows[kind].resize(rowBytes);
        for (int32_t x = 0; x < size.width; ++x) {
            const Rgba c = checkerboardAt(x, kind * CheckerSquare);
            uint8_t* target = &rows[kind][size_t(x) * 4];
            target[0] = c.red;
            target[1] = c.green;
            target[2] = c.blue;
            target[3] = 255;
        }
    }
    for (int32_t y = 0; y < size.height; ++y)
        std::memcpy(&preview.rgba[size_t(y) * rowBytes], rows[(y / CheckerSquare) % 2].data(), rowBytes);
    if (frame.width == 0 || frame.height == 0 || canvas.width <= 0 || canvas.height <= 0)
        return preview;

    const double scaleX = double(size.width) / canvas.width;
    const double scaleY = double(size.height) / canvas.height;
    const int64_t left = std::llround(placement.left * size.width);
    const int64_t top = std::llround(placement.top * size.height);
    const int64_t width = std::max<int64_t>(std::llround(frame.width * scaleX), 1);
    const int64_t height = std::max<int64_t>(std::llround(frame.height * scaleY), 1);
    const int64_t firstX = std::max<int64_t>(left, 0);
    const int64_t endX = std::min<int64_t>(left + width, size.width);
    std::vector<uint32_t> sourceXs;
    for (int64_t x = firstX; x < endX; ++x)
        sourceXs.push_back(uint32_t(std::min<int64_t>(int64_t((x - left) / scaleX), frame.width - 1)));
    for (int64_t y = std::max<int64_t>(top, 0); y < std::min<int64_t>(top + height, size.height); ++y) {
        const uint32_t sourceY = uint32_t(std::min<int64_t>(int64_t((y - top) / scaleY), frame.height - 1));
        uint8_t* target = &preview.rgba[size_t(y) * rowBytes + size_t(firstX) * 4];
        for (size_t i = 0; i < sourceXs.size(); ++i, target += 4) {
            const uint8_t* c = &frame.rgba[(size_t(sourceY) * frame.width + sourceXs[i]) * 4];
            const uint8_t alpha = c[3];
            if (alpha == 0)
                continue;
            target[0] = blend(c[0], target[0], alpha);
            target[1] = blend(c[1], target[1], alpha);
            target[2] = blend(c[2], target[2], alpha);
        }
    }
    return preview;
}

} // namespace Qor::Tools
