// fuzz_stream: arbitrary bytes as a packet-stream file, read as kelvo-render
// reads one. The run aborts when the reader takes bytes it should refuse
// (records that do not tile the file), when what it took does not write
// back to the same bytes, or when a refusal is not one line naming the file.
#include "fuzz/ReaderChecks.h"
#include "tools/PacketStream.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Qor::Fuzzing;
    using namespace Qor::Tools;
    const std::vector<uint8_t> bytes(data, data + size);
    const StreamReadResult read = parsePacketStream(bytes, "f.kps");
    if (refused(read.error, "f.kps")) {
        require(read.stream.records.empty(), "records kept on refusal");
        return 0;
    }
    // Accepted: the records tile the file after its header, in order.
    size_t offset = StreamHeaderLength;
    for (const PacketRecord& record : read.stream.records) {
        require(record.offset == offset, "a record's offset is not where the one before it ends");
        offset += RecordHeaderLength + record.packet.size();
    }
    require(offset == size, "the records do not end where the file does");
    // Everything but the reserved header bytes writes back unchanged.
    std::vector<uint8_t> written = serializePacketStream(read.stream);
    require(written.size() == size, "written back to another length");
    written[6] = bytes[6];
    written[7] = bytes[7];
    require(written == bytes, "written back to other bytes");
    return 0;
}
