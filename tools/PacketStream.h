// The packet-stream file: a 16-byte header naming the input format and the
// video picture size, then one record per subtitle packet with the packet's
// two timing words. docs/stream-format.md describes the bytes.
//
// The reader takes the file a piece at a time and checks each piece before
// it reads on: the magic on the first bytes, each record's claimed size
// against what the file holds. The writer makes a new stream through a
// temporary file, or appends to one under an exclusive lock after checking
// that its records end where the file does.
#ifndef KELVO_TOOLS_PACKETSTREAM_H
#define KELVO_TOOLS_PACKETSTREAM_H

#include "tools/AtomicFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

class InputFile;

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

// Reads a stream from `input`, whose name begins every message. Refuses a
// short header, a wrong magic or version, an input format other than "GPHB"
// or "GPHA", a picture size with one side zero, a record that is another
// stream's header (two streams joined end to end), and a truncated record
// or one larger than the file, naming the record (counted from 1) and the
// byte offset where it starts. A record's packet is read as far as the
// input reaches, so a size claimed in vain costs what the input holds.
StreamReadResult readPacketStream(InputFile& input);

// The same over bytes in memory named `name`.
StreamReadResult parsePacketStream(const std::vector<uint8_t>& bytes, const std::string& name);

// The same for the file at `path` ("-": standard input); a regular file is
// read under a shared lock, so that an append going on is waited for.
StreamReadResult readPacketStream(const std::string& path);

// The bytes of `stream`: header, then every record. Offsets are not read.
std::vector<uint8_t> serializePacketStream(const PacketStream& stream);

// Answers "" for an input format a stream may carry, or why not.
std::string checkInputFormat(const std::string& format);

// True when the file at `path` begins with the stream's magic.
bool looksLikePacketStream(const std::string& path);

// Writes a stream: a new one, or records added to the end of one.
//
// A new stream goes to a temporary file that replaces the target at
// commit(), or to standard output as it comes. An append holds an
// exclusive lock on the stream from append() to commit() or abandon(), so
// that appends started together land one after another; it writes at the
// end of the file only, and an abandoned append cuts the file back to its
// former length. Every refusal is one line naming the file.
class PacketStreamWriter {
public:
    PacketStreamWriter() = default;
    ~PacketStreamWriter() { abandon(); }
    PacketStreamWriter(const PacketStreamWriter&) = delete;
    PacketStreamWriter& operator=(const PacketStreamWriter&) = delete;

    // Starts a new stream with the format and picture of `header` at
    // `path` ("-": standard output, where it is written at commit). Refuses to replace a file that exists
    // and does not begin with the magic unless `replaceOtherFiles`.
    std::string create(const std::string& path, const PacketStream& header, bool replaceOtherFiles);

    // Opens the stream at `path` to add records to its end: waits for the
    // exclusive lock, reads the header into header(), and walks the record
    // headers (never the packets) to check that the last record ends where
    // the file does; a damaged stream is refused with the record and the
    // offset where it goes wrong, as the reader would.
    std::string append(const std::string& path);

    // The stream's format and picture: as given to create(), or as read by append().
    const PacketStream& header() const { return stream; }

    // Writes one record at the end; on failure the writer abandons.
    std::string write(const PacketRecord& record);

    // Finishes: a new file replaces the target, an append keeps its records.
    std::string commit();

    // Takes everything back: no new file, an append cut back to where it began.
    void abandon();

private:
    std::string fail(const std::string& reason);
    std::string writeBytes(const std::vector<uint8_t>& bytes);
    std::string sendBytes(int out, const std::vector<uint8_t>& bytes);

    enum class Mode { Closed, NewFile, StandardOutput, Append } mode = Mode::Closed;
    std::string path;
    PacketStream stream;
    AtomicFile file;
    int fd = -1;
    uint64_t appendStart = 0;
    bool appended = false;
    std::vector<uint8_t> pending; // standard output's stream, written at commit
};

// Replaces `path` with `stream` through a temporary file and answers "", or
// answers a one-line reason and leaves `path` as it was.
std::string writePacketStream(const std::string& path, const PacketStream& stream);

// Adds the records of `stream` to the end of the stream at `path`, whose
// format and picture must be `stream`'s, through a PacketStreamWriter.
std::string appendPacketRecords(const std::string& path, const PacketStream& stream);

} // namespace Qor::Tools

#endif
