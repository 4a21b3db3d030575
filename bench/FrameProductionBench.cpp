// Frame production as a host drives it, one packet in and one frame out
// through the ports; its pixel work alone, the packet drawn into the frame
// by every kernel of the decoder into pixels that this processor runs; the
// same work done apart, the indexed decoder then the blit; and a memset of
// the frame's bytes as the yardstick. Frame production and the work apart
// also run in their plain forms (tests/support/PlainForms.h) as the
// baseline. Every case reports the frame's bytes per second; the table at
// the end gives, from this one run, each stage's time over the memset's and
// the plain form's over the library's.
//
// Built against a library without the decoder into pixels, as an earlier
// one for a before-and-after table, it leaves those rows out.
#include "bench/BenchHost.h"
#include "bench/BenchPictures.h"
#include "bench/FloorFill.h"
#include "bench/RatioTable.h"
#include "render/IndexedBlit.h"
#include "subdecode/BitmapDecoder.h"
#include "subdecode/FrameProduction.h"
#include "subdecode/PacketHeader.h"
#include "tests/support/PlainForms.h"

#if __has_include("subdecode/PixelDecoder.h")
#include "subdecode/PixelDecoder.h"
#define KELVO_BENCH_PIXEL_DECODER 1
#endif

#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <memory>

namespace Qor::Bench {

namespace {

// Everything one case needs, made once before its stages run.
struct Prepared {
    explicit Prepared(const BenchPicture& picture) : picture(picture)
    {
        packet.payload = picture.packet;
        packet.size = int32_t(packet.payload.size());
        parsePacketHeader(packet.payload.data(), &header, nullptr);
        frameBytes = int64_t(picture.width) * picture.height * 4;
        stride = ReusingAllocator::strideFor(picture.width);
        pixels.assign(size_t(stride) * picture.height * 4, 0);
        need = int32_t((int64_t(picture.width) * picture.height + 1) / 2);
        image.assign(size_t(need), 0);
        dataLength = packet.size - PacketFormat::HeaderLength;
        int32_t capacity = need;
        decodeBitmap(&header, dataLength, capacity, image.data());
        channels = buildChannelTables(header.palette, nullptr);
        orderTables(channels, "RGBA", tables);
    }

    const BenchPicture& picture;
    StandInBuffer packet;
    PacketHeader header{};
    int64_t frameBytes = 0;
    int32_t stride = 0;
    std::vector<uint8_t> pixels;
    int32_t need = 0;
    int32_t dataLength = 0;
    std::vector<uint8_t> image;
    ChannelTables channels{};
    const uint8_t* tables[4] = {};
};

void produce(benchmark::State& state, const Prepared& p)
{
    ConnectedComponent component("GPHB", "RGBA");
    StandInBuffer packet = p.packet;
    for (auto _ : state) {
        if (!component.deliver(packet))
            state.SkipWithError("frame refused");
        benchmark::DoNotOptimize(component.allocator.frame.payload.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * p.frameBytes);
}

// The port's own part of a delivery, then the plain frame production.
void producePlain(benchmark::State& state, const Prepared& p)
{
    ReusingAllocator allocator;
    TakingSink sink;
    StandInBuffer packet = p.packet;
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    for (auto _ : state) {
        packet.addReference();
        packet.lock();
        packet.unlock();
        if (!Testing::plainProduceFrame(&packet, false, "RGBA", &allocator, &sink, displayWidth, displayHeight))
            state.SkipWithError("frame refused");
        benchmark::DoNotOptimize(allocator.frame.payload.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * p.frameBytes);
}

// The indexed decoder into its image, then the blit of the image into the frame.
template <int32_t (*decode)(const PacketHeader*, int32_t, int32_t&, uint8_t*),
    void (*blit)(const uint8_t*, int32_t, int32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t,
        const uint8_t* const[4], bool)>
void apartStage(benchmark::State& state, Prepared& p)
{
    const int32_t width = p.picture.width;
    const int32_t height = p.picture.height;
    for (auto _ : state) {
        int32_t capacity = p.need;
        decode(&p.header, p.dataLength, capacity, p.image.data());
        blit(p.image.data(), width, height, 0, 0, p.pixels.data(), p.stride, height, p.tables, true);
        benchmark::DoNotOptimize(p.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * p.frameBytes);
}

#if KELVO_BENCH_PIXEL_DECODER
void pixelsStage(benchmark::State& state, Prepared& p, const PixelDecoderKernel& kernel)
{
    PixelDecoderJob job{p.header.bitmapData, p.dataLength, p.header.secondFieldOffset, p.picture.width,
        p.picture.height, p.pixels.data(), p.stride, {}};
    pixelColours(p.tables, job.colours);
    for (auto _ : state) {
        kernel.decode(job);
        benchmark::DoNotOptimize(p.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * p.frameBytes);
}
#endif

void memsetStage(benchmark::State& state, Prepared& p)
{
    for (auto _ : state) {
        floorFill(p.pixels.data(), size_t(p.frameBytes), 0x28);
        benchmark::DoNotOptimize(p.pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * p.frameBytes);
}

} // namespace

} // namespace Qor::Bench

int main(int argc, char** argv)
{
    using namespace Qor::Bench;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const std::vector<BenchPicture> pictures = benchPictures();
    std::vector<std::unique_ptr<Prepared>> prepared;
    std::vector<std::string> kernelNames;
#if KELVO_BENCH_PIXEL_DECODER
    size_t kernelCount = 0;
    const Qor::PixelDecoderKernel* kernels = Qor::pixelDecoderKernels(kernelCount);
    // Fastest first, as the table lists them.
    for (size_t k = kernelCount; k-- > 0;)
        if (kernels[k].runsHere())
            kernelNames.push_back(kernels[k].name);
#endif
    RatioTable table(kernelNames);
    for (const BenchPicture& picture : pictures) {
        prepared.push_back(std::make_unique<Prepared>(picture));
        Prepared* p = prepared.back().get();
        const std::string& name = picture.name;
        table.addCase(name, p->frameBytes, picture.runs);
        benchmark::RegisterBenchmark(("produce/" + name).c_str(), [p](benchmark::State& s) { produce(s, *p); });
        benchmark::RegisterBenchmark(("produce.plain/" + name).c_str(),
            [p](benchmark::State& s) { producePlain(s, *p); });
#if KELVO_BENCH_PIXEL_DECODER
        for (size_t k = 0; k < kernelCount; ++k) {
            const Qor::PixelDecoderKernel& kernel = kernels[k];
            if (kernel.runsHere())
                benchmark::RegisterBenchmark(("pixels." + std::string(kernel.name) + "/" + name).c_str(),
                    [p, &kernel](benchmark::State& s) { pixelsStage(s, *p, kernel); });
        }
#endif
        benchmark::RegisterBenchmark(("apart/" + name).c_str(),
            [p](benchmark::State& s) { apartStage<Qor::decodeBitmap, Qor::blitIndexedBitmap>(s, *p); });
        benchmark::RegisterBenchmark(("apart.plain/" + name).c_str(), [p](benchmark::State& s) {
            apartStage<Qor::Testing::plainDecodeBitmap, Qor::blitIndexedBitmap>(s, *p);
        });
        benchmark::RegisterBenchmark(("memset/" + name).c_str(), [p](benchmark::State& s) { memsetStage(s, *p); });
    }

    RatioReporter reporter(table);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    table.print(std::cout);
    benchmark::Shutdown();
    return 0;
}
