// The packet-stream file: a 16-byte header naming the input format and the
// video picture size, then one record per subtitle packet with the packet's
// two timing words. docs/stream-format.md describes the bytes.
#ifndef KELVO_TOOLS_PACKETSTREAM_H
#define KELVO_TOOLS_PACKETSTREAM_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

constexpr char StreamMagic[] = "KLVS";
constexpr uint16_t StreamVersion = 1;
constexpr size_t StreamHeaderLength = 16;
constexpr size_t RecordHeaderLength = 12;

struct PacketRecord {
    std::array<uint32_t, 2> timing{}; // handed to the plug-in with the packet
    std::vector<uint8_t> packet;
    uint64_t offset = 0; // where the record starts in its file; set by the reader
};

struct PacketStream {
    std::string inputFormat = "GPHB"; // "GPHB" or "GPHA"
    uint16_t pictureWidth = 0;        // 0 x 0: the stream gives no picture size
    uint16_t pictureHeight = 0;
    std::vector<PacketRecord> records; // in file order; record 1 is the first

    bool hasPicture() const { return pictureWidth != 0 || pictureHeight != 0; }
};

// A stream, or the one-line reason there is none.
struct StreamReadResult {
    PacketStream stream; // empty of records on refusal
    std::string error;   // empty on success
    explicit operator bool() const { return error.empty(); }
};

// Reads a stream from its bytes; `name` begins every message. Refuses a
// short header, a wrong magic or version, an input format other than "GPHB"
// or "GPHA", a picture size with one side zero, and a truncated record or
// one larger than the file, naming the record (counted from 1) and the byte
// offset where it starts.
StreamReadResult parsePacketStream(const std::vector<uint8_t>& bytes, const std::string& name);

// Reads the file at `path`; refuses as parsePacketStream, or when the file
// cannot be read.
StreamReadResult readPacketStream(const std::string& path);

// The bytes of `stream`: header, then every record. Offsets are not read.
std::vector<uint8_t> serializePacketStream(const PacketStream& stream);

// Answers "" for an input format a stream may carry, or why not.
std::string checkInputFormat(const std::string& format);

// Reads the 16-byte header of the stream file at `path` into `stream` (no
// records) and answers "", or why not, as parsePacketStream would.
std::string readStreamHeader(const std::string& path, PacketStream& stream);

// True when the file at `path` begins with the stream's magic.
bool looksLikePacketStream(const std::string& path);

// Adds the records of `stream` to the end of the stream file at `path`,
// whose header must be the same as `stream`'s, without reading or
// rewriting the records already there: the cost does not grow with the
// file. Answers "" or a one-line reason; on failure the file is cut back
// to its former length.
std::string appendPacketRecords(const std::string& path, const PacketStream& stream);

// Replaces `path` with `stream` through a temporary file and answers "", or
// answers a one-line reason and leaves `path` as it was. Refuses a stream
// whose input format is not "GPHB" or "GPHA", or which has a packet longer
// than a record can hold.
std::string writePacketStream(const std::string& path, const PacketStream& stream);

} // namespace Qor::Tools

#endif
