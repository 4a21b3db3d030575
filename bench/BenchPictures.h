// The subtitle pictures the benchmark decodes and draws, made from a fixed
// seed so that every run measures the same bytes.
#ifndef KELVO_BENCH_BENCHPICTURES_H
#define KELVO_BENCH_BENCHPICTURES_H

#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Bench {

struct BenchPicture {
    std::string name;
    uint16_t width;
    uint16_t height;
    std::vector<uint8_t> packet; // a whole "GPHB" packet, header first
    int64_t runs;                // runs the decoder draws, rows not joined
};

// The benchmark's cases: large filled shapes at 720 x 576 and 1920 x 1080;
// at 1920 x 1080, runs of 1-3, 4-15, 16-63 and 64-255 pixels (one, two,
// three and four nibbles a code), runs of any length from 1 to 40 and mixes
// of them; two lines of outlined,
// edged text at 720 x 576 and 1920 x 1080; a two-line caption box of
// 1400 x 120 and a 64 x 32 packet.
std::vector<BenchPicture> benchPictures();

} // namespace Qor::Bench

#endif
