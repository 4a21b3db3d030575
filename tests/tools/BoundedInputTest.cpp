// Input that never ends, or that claims far more than it holds: every reader
// of the tools refuses it on its first bytes, or spends on it no more than
// it really holds. Each read runs under an allocation ceiling, so a reader
// that takes all before it checks fails here at once instead of running out
// of memory.
#include "tests/tools/AllocationCeiling.h"
#include "tools/ImageList.h"
#include "tools/InputFile.h"
#include "tools/PacketStream.h"
#include "tools/PngImage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace Qor::Tools {
namespace {

constexpr size_t Ceiling = size_t(16) << 20;

// The first error of each reader over the file at `path`.
struct Readings {
    std::string stream;
    std::string png;
    std::string list;
};

Readings readAll(const std::string& path)
{
    const CeilingHeld held(Ceiling);
    Readings read;
    read.stream = readPacketStream(path).error;
    read.png = readPng(path).error;
    std::vector<ListEntry> entries;
    read.list = readImageList(path, entries);
    return read;
}

TEST(BoundedInput, EndlessDevicesAreRefusedAtTheirFirstBytes)
{
    const Readings zero = readAll("/dev/zero");
    EXPECT_EQ(zero.stream, "/dev/zero: not a packet stream: magic \"\\x00\\x00\\x00\\x00\" at byte offset 0, not \"KLVS\"");
    EXPECT_EQ(zero.png, "/dev/zero: not a PNG file");
    EXPECT_EQ(zero.list, "/dev/zero: not JSON lines: byte 0x00 at byte offset 0, not \"{\"");
    // Random bytes: refused before anything is kept, whatever they are.
    const Readings random = readAll("/dev/urandom");
    EXPECT_EQ(random.stream.rfind("/dev/urandom: not a packet stream: magic ", 0), 0u) << random.stream;
    EXPECT_EQ(random.png, "/dev/urandom: not a PNG file");
    EXPECT_EQ(random.list.rfind("/dev/urandom: ", 0), 0u) << random.list;
}

// The path of a pipe whose writer sends `bytes`, then `endless` zeros (a
// thread that writes until the reader goes), or closes.
class Pipe {
public:
    Pipe(std::vector<uint8_t> bytes, bool endless)
    {
        // The writer learns that the reader went from a failed write.
        std::signal(SIGPIPE, SIG_IGN);
        int ends[2];
        if (pipe(ends) != 0)
            return;
        reader = ends[0];
        writer = std::thread([bytes, endless, out = ends[1]] {
            bool open = write(out, bytes.data(), bytes.size()) == ssize_t(bytes.size());
            const std::vector<uint8_t> zeros(65536, 0);
            while (open && endless)
                open = write(out, zeros.data(), zeros.size()) > 0;
            close(out);
        });
    }
    ~Pipe()
    {
        close(reader);
        if (writer.joinable())
            writer.join();
    }
    std::string path() const { return "/dev/fd/" + std::to_string(reader); }

private:
    int reader = -1;
    std::thread writer;
};

std::vector<uint8_t> streamHeader()
{
    PacketStream header;
    return serializePacketStream(header);
}

TEST(BoundedInput, ClaimsBeyondWhatAPipeHoldsCostWhatItHolds)
{
    // A record claiming 4 GiB - 1, of which 10 bytes come.
    std::vector<uint8_t> claim = streamHeader();
    claim.insert(claim.end(), {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 2, 0, 0, 0});
    claim.insert(claim.end(), 10, 0xAB);
    {
        Pipe pipe(claim, false);
        const CeilingHeld held(Ceiling);
        EXPECT_EQ(readPacketStream(pipe.path()).error,
            pipe.path() + ": record 1 at byte offset 16 is truncated: 4294967295 packet bytes claimed, 10 left");
    }
    // A list whose one line never ends.
    {
        Pipe pipe({'{', '"', 'a', '"', ':', '"'}, true);
        const CeilingHeld held(Ceiling);
        std::vector<ListEntry> entries;
        EXPECT_EQ(readImageList(pipe.path(), entries),
            pipe.path() + ": line 1: longer than 1048576 bytes; a line describes one picture (is this a list?)");
    }
    // A PNG whose first chunk claims 2 GiB and whose data is zeros for ever.
    {
        Pipe pipe({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x7F, 0xFF, 0xFF, 0xFF, 'I', 'H', 'D', 'R'}, true);
        const CeilingHeld held(Ceiling);
        EXPECT_EQ(readPng(pipe.path()).error.rfind(pipe.path() + ": bad PNG: ", 0), 0u);
    }
}

} // namespace
} // namespace Qor::Tools
