#include "tests/support/IndexedImages.h"

#include <algorithm>
#include <cstring>

namespace Qor::Testing {

std::unique_ptr<uint8_t[]> exactCopy(const uint8_t* bytes, size_t length)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
    if (length)
        std::memcpy(copy.get(), bytes, length);
    return copy;
}

std::vector<uint8_t> topFirstIndices(const uint8_t* image, int width, int height)
{
    std::vector<uint8_t> indices;
    indices.reserve(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        const size_t rowStart = size_t(height - 1 - y) * width;
        for (int x = 0; x < width; ++x) {
            const size_t p = rowStart + x;
            indices.push_back(p & 1 ? image[p / 2] & 0x0F : image[p / 2] >> 4);
        }
    }
    return indices;
}

std::vector<uint8_t> randomRunImage(std::mt19937& random, int width, int height)
{
    const size_t pixels = size_t(width) * height;
    std::vector<uint8_t> image;
    image.reserve(pixels);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> colour(0, 3);
    while (image.size() < pixels) {
        const int k = kind(random);
        const int longest = k < 6 ? 3 : k < 8 ? 20 : k < 9 ? 90 : 700;
        const size_t run = std::uniform_int_distribution<int>(1, longest)(random);
        image.insert(image.end(), std::min(run, pixels - image.size()), uint8_t(colour(random)));
    }
    return image;
}

} // namespace Qor::Testing
