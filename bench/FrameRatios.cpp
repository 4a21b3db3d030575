// The benchmark's ratios without Google Benchmark, for builds that lack it,
// such as the 32-bit Windows one run under Wine: for every case, frame
// production through the ports and each kernel of the decoder into pixels
// that this processor runs, timed against the benchmark's own memset of the
// frame's bytes (FloorFill.h) into the same warm buffer, call after call.
// Stages take turns in every round, so that a slow spell of a busy machine
// spreads over all of them; the medians of the rounds make one Markdown row
// per case, the memset's and frame production's times in microseconds
// beside the ratios.
#include "bench/BenchHost.h"
#include "bench/BenchPictures.h"
#include "bench/FloorFill.h"
#include "subdecode/FrameProduction.h"
#include "subdecode/PacketHeader.h"
#include "subdecode/PixelDecoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace Qor::Bench {
namespace {

using Clock = std::chrono::steady_clock;

// Seconds per call of `work`, from `calls` calls in a row.
double timeOf(const std::function<void()>& work, int calls)
{
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < calls; ++i)
        work();
    return std::chrono::duration<double>(Clock::now() - start).count() / calls;
}

struct Stage {
    std::string name;
    std::function<void()> work;
    int calls = 1;
    std::vector<double> seconds;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace
} // namespace Qor::Bench

int main(int argc, char** argv)
{
    using namespace Qor;
    using namespace Qor::Bench;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    size_t kernelCount = 0;
    const PixelDecoderKernel* kernels = pixelDecoderKernels(kernelCount);
    std::vector<const PixelDecoderKernel*> running;
    for (size_t k = kernelCount; k-- > 0;)
        if (kernels[k].runsHere())
            running.push_back(&kernels[k]);

    std::printf("| case | memset µs | produce µs | produce |");
    for (const PixelDecoderKernel* kernel : running)
        std::printf(" %s |", kernel->name);
    std::printf("\n|---|---:|---:|---:|");
    for (size_t k = 0; k < running.size(); ++k)
        std::printf("---:|");
    std::printf("\n");

    for (const BenchPicture& picture : benchPictures()) {
        ConnectedComponent component("GPHB", "RGBA");
        StandInBuffer packet;
        packet.payload = picture.packet;
        packet.size = int32_t(packet.payload.size());
        PacketHeader header{};
        parsePacketHeader(packet.payload.data(), &header, nullptr);
        const int32_t stride = ReusingAllocator::strideFor(picture.width);
        const size_t frameBytes = size_t(picture.width) * picture.height * 4;
        std::vector<uint8_t> pixels(size_t(stride) * picture.height * 4);
        const ChannelTables channels = buildChannelTables(header.palette, nullptr);
        const uint8_t* tables[4];
        orderTables(channels, "RGBA", tables);
        PixelDecoderJob job{header.bitmapData, packet.size - PacketFormat::HeaderLength, header.secondFieldOffset,
            picture.width, picture.height, pixels.data(), stride, {}};
        pixelColours(tables, job.colours);

        std::vector<Stage> stages;
        stages.push_back({"produce", [&] { component.deliver(packet); }, 1, {}});
        for (const PixelDecoderKernel* kernel : running)
            stages.push_back({kernel->name, [&job, kernel] { kernel->decode(job); }, 1, {}});
        stages.push_back({"memset", [&] { floorFill(pixels.data(), frameBytes, 0x28); }, 1, {}});
        // Enough calls in a row for about 20 ms.
        for (Stage& stage : stages) {
            stage.work();
            const double once = timeOf(stage.work, 1);
            stage.calls = std::max(1, int(0.02 / std::max(once, 1e-9)));
        }
        for (int round = 0; round < rounds; ++round)
            for (Stage& stage : stages)
                stage.seconds.push_back(timeOf(stage.work, stage.calls));

        const double memset = median(stages.back().seconds);
        std::printf("| %s | %.1f | %.1f |", picture.name.c_str(), memset * 1e6, median(stages[0].seconds) * 1e6);
        for (size_t s = 0; s + 1 < stages.size(); ++s)
            std::printf(" %.2f |", median(stages[s].seconds) / memset);
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("\nWall-clock medians of %d rounds over the memset of the same frame bytes (%s stores).\n", rounds,
        floorFillKind());
    return 0;
}
