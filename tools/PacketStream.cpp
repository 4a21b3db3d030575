#include "tools/PacketStream.h"

#include "tools/InputFile.h"
#include "tools/Interruption.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qor::Tools {

namespace {

// A packet read from a pipe grows by at most this much beyond what has
// arrived, so a size claimed in vain costs no more than the bytes there.
constexpr size_t PacketGrowth = 1 << 20;

uint16_t little16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLittle16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(uint8_t(value));
    bytes.push_back(uint8_t(value >> 8));
}

void putLittle32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(uint8_t(value >> shift));
}

// Four header bytes as a person can read them: printable characters as they
// are, anything else as \xNN.
std::string quoted(const uint8_t* p, size_t count)
{
    std::string text = "\"";
    for (size_t i = 0; i < count; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
            text += char(p[i]);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", p[i]);
            text += escape;
        }
    }
    return text + "\"";
}

StreamReadResult refuse(std::string reason)
{
    StreamReadResult refused;
    refused.error = std::move(reason);
    return refused;
}

std::string recordAt(const std::string& name, size_t number, uint64_t offset)
{
    return name + ": record " + std::to_string(number) + " at byte offset " + std::to_string(offset);
}

// Checks the 16 header bytes (`count` of them read) and fills `stream`'s
// format and picture; answers "" or the refusal.
std::string parseHeader(const uint8_t* header, size_t count, const std::string& name, PacketStream& stream)
{
    if (count < StreamHeaderLength)
        return name + ": not a packet stream: " + std::to_string(count) + " bytes, fewer than the 16-byte header";
    if (!std::equal(header, header + 4, StreamMagic))
        return name + ": not a packet stream: magic " + quoted(header, 4) + " at byte offset 0, not \"KLVS\"";
    const uint16_t version = little16(header + 4);
    if (version != StreamVersion)
        return name + ": stream version " + std::to_string(version) + " at byte offset 4; this reader knows version 1";
    stream.inputFormat.assign(reinterpret_cast<const char*>(header + 8), 4);
    if (!checkInputFormat(stream.inputFormat).empty())
        return name + ": input format " + quoted(header + 8, 4) + " at byte offset 8 is neither GPHB nor GPHA";
    stream.pictureWidth = little16(header + 12);
    stream.pictureHeight = little16(header + 14);
    if ((stream.pictureWidth == 0) != (stream.pictureHeight == 0))
        return name + ": picture size " + std::to_string(stream.pictureWidth) + "x"
            + std::to_string(stream.pictureHeight) + " at byte offset 12 has one side zero (0x0 means none)";
    return "";
}

// What is wrong with the record header at `offset` (`count` of its 12 bytes
// there) in a file of `fileSize` bytes (-1: not known), or "".
std::string checkRecordHeader(const uint8_t* record, size_t count, const std::string& name, size_t number,
    uint64_t offset, int64_t fileSize)
{
    // The magic where a record's size should be: a stream's header, most
    // likely a second stream put after the first by a plain copy.
    if (count >= 4 && std::equal(record, record + 4, StreamMagic))
        return recordAt(name, number, offset)
            + " is the header of another stream (\"KLVS\"): two streams joined end to end are not one stream";
    if (count < RecordHeaderLength)
        return recordAt(name, number, offset) + " is truncated: " + std::to_string(count)
            + " bytes left of its 12-byte record header";
    const uint32_t size = little32(record);
    if (fileSize >= 0 && size > uint64_t(fileSize))
        return recordAt(name, number, offset) + " claims " + std::to_string(size)
            + " packet bytes, more than the whole file (" + std::to_string(fileSize) + " bytes)";
    return "";
}

std::string truncatedPacket(const std::string& name, size_t number, uint64_t offset, uint32_t size, uint64_t left)
{
    return recordAt(name, number, offset) + " is truncated: " + std::to_string(size) + " packet bytes claimed, "
        + std::to_string(left) + " left";
}

std::string checkWritable(const std::string& path, const PacketRecord& record)
{
    if (record.packet.size() > size_t(std::numeric_limits<int32_t>::max()))
        return path + ": a packet of " + std::to_string(record.packet.size())
            + " bytes is more than a host buffer can hold";
    return "";
}

std::vector<uint8_t> headerBytes(const PacketStream& stream)
{
    std::vector<uint8_t> bytes(StreamMagic, StreamMagic + 4);
    putLittle16(bytes, StreamVersion);
    putLittle16(bytes, 0); // reserved
    std::string format = stream.inputFormat;
    format.resize(4, ' ');
    bytes.insert(bytes.end(), format.begin(), format.end());
    putLittle16(bytes, stream.pictureWidth);
    putLittle16(bytes, stream.pictureHeight);
    return bytes;
}

void putRecord(std::vector<uint8_t>& bytes, const PacketRecord& record)
{
    putLittle32(bytes, uint32_t(record.packet.size()));
    putLittle32(bytes, record.timing[0]);
    putLittle32(bytes, record.timing[1]);
    bytes.insert(bytes.end(), record.packet.begin(), record.packet.end());
}

// Reads up to `count` bytes at `offset`; answers how many, or -1 with errno.
ssize_t readAt(int fd, uint8_t* bytes, size_t count, uint64_t offset)
{
    size_t got = 0;
    while (got < count) {
        const ssize_t n = pread(fd, bytes + got, count - got, off_t(offset + got));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR && !interrupted())
                continue;
            return -1;
        }
        got += size_t(n);
    }
    return ssize_t(got);
}

} // namespace

std::string checkInputFormat(const std::string& format)
{
    if (format == "GPHB" || format == "GPHA")
        return "";
    return "input format \"" + format + "\" is neither GPHB nor GPHA";
}

StreamReadResult readPacketStream(InputFile& input)
{
    const std::string& name = input.name();
    uint8_t header[StreamHeaderLength];
    size_t got = 0;
    if (std::string error = input.read(header, sizeof header, got); !error.empty())
        return refuse(std::move(error));
    StreamReadResult result;
    PacketStream& stream = result.stream;
    if (std::string error = parseHeader(header, got, name, stream); !error.empty())
        return refuse(std::move(error));

    const int64_t fileSize = input.size();
    for (size_t number = 1;; ++number) {
        const uint64_t offset = input.position();
        uint8_t recordHeader[RecordHeaderLength];
        if (std::string error = input.read(recordHeader, sizeof recordHeader, got); !error.empty())
            return refuse(std::move(error));
        if (got == 0)
            break;
        if (std::string error = checkRecordHeader(recordHeader, got, name, number, offset, fileSize); !error.empty())
            return refuse(std::move(error));
        const uint32_t size = little32(recordHeader);
        PacketRecord& record = stream.records.emplace_back();
        record.timing = {little32(recordHeader + 4), little32(recordHeader + 8)};
        record.offset = offset;
        // The packet grows as its bytes arrive.
        std::vector<uint8_t>& packet = record.packet;
        while (packet.size() < size) {
            const size_t start = packet.size();
            const size_t step = std::min<size_t>(size - start, std::max(start, PacketGrowth));
            packet.resize(start + step);
            if (std::string error = input.read(packet.data() + start, step, got); !error.empty())
                return refuse(std::move(error));
            if (got < step)
                return refuse(truncatedPacket(name, number, offset, size, start + got));
        }
    }
    return result;
}

StreamReadResult parsePacketStream(const std::vector<uint8_t>& bytes, const std::string& name)
{
    InputFile input(bytes.data(), bytes.size(), name);
    return readPacketStream(input);
}

StreamReadResult readPacketStream(const std::string& path)
{
    InputFile input;
    std::string error = input.open(path);
    if (error.empty())
        error = input.lockShared();
    if (!error.empty())
        return refuse(std::move(error));
    return readPacketStream(input);
}

std::vector<uint8_t> serializePacketStream(const PacketStream& stream)
{
    std::vector<uint8_t> bytes = headerBytes(stream);
    for (const PacketRecord& record : stream.records)
        putRecord(bytes, record);
    return bytes;
}

bool looksLikePacketStream(const std::string& path)
{
    InputFile input;
    uint8_t magic[4];
    size_t got = 0;
    return input.open(path).empty() && input.read(magic, sizeof magic, got).empty() && got == 4
        && std::equal(magic, magic + 4, StreamMagic);
}

std::string PacketStreamWriter::fail(const std::string& reason)
{
    abandon();
    return reason;
}

std::string PacketStreamWriter::create(const std::string& target, const PacketStream& header, bool replaceOtherFiles)
{
    abandon();
    if (const std::string error = checkInputFormat(header.inputFormat); !error.empty())
        return target + ": " + error;
    path = target;
    stream = header;
    stream.records.clear();
    if (target == "-") {
        mode = Mode::StandardOutput;
        return writeBytes(headerBytes(stream));
    }
    struct stat status {};
    if (!replaceOtherFiles && stat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode)
        && !looksLikePacketStream(target))
        return target + ": exists and is not a packet stream; --force (-y) replaces it";
    if (std::string error = file.open(target); !error.empty())
        return error;
    mode = Mode::NewFile;
    return writeBytes(headerBytes(stream));
}

std::string PacketStreamWriter::append(const std::string& target)
{
    abandon();
    path = target;
    // The lock is taken on what the path names when it is granted: a stream
    // replaced meanwhile is opened again.
    for (int attempt = 0;; ++attempt) {
        fd = open(target.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
        if (fd < 0)
            return fail(target + ": cannot open to append: " + std::strerror(errno));
        struct stat status {};
        if (fstat(fd, &status) != 0)
            return fail(target + ": cannot read: " + std::strerror(errno));
        if (!S_ISREG(status.st_mode))
            return fail(target + (S_ISDIR(status.st_mode) ? ": is a directory" : ": is not a regular file; only a stream file takes appends"));
        mode = Mode::Append;
        while (flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR)
                return fail(target + ": cannot lock: " + std::strerror(errno));
            if (interrupted())
                return fail(target + ": interrupted");
        }
        struct stat now {};
        if (fstat(fd, &status) == 0 && stat(target.c_str(), &now) == 0 && now.st_dev == status.st_dev
            && now.st_ino == status.st_ino)
            break;
        close(fd);
        fd = -1;
        mode = Mode::Closed;
        if (attempt == 8)
            return fail(target + ": replaced again and again while waiting for its lock");
    }
    struct stat status {};
    if (fstat(fd, &status) != 0)
        return fail(target + ": cannot read: " + std::strerror(errno));
    const uint64_t size = uint64_t(status.st_size);
    appendStart = size;

    uint8_t header[StreamHeaderLength];
    ssize_t got = readAt(fd, header, sizeof header, 0);
    if (got < 0)
        return fail(target + ": cannot read: " + std::strerror(errno));
    if (std::string error = parseHeader(header, size_t(got), target, stream); !error.empty())
        return fail(error);
    uint64_t offset = StreamHeaderLength;
    for (size_t number = 1; offset < size; ++number) {
        uint8_t record[RecordHeaderLength];
        got = readAt(fd, record, sizeof record, offset);
        if (got < 0)
            return fail(target + ": cannot read: " + std::strerror(errno));
        if (std::string error = checkRecordHeader(record, size_t(got), target, number, offset, int64_t(size));
            !error.empty())
            return fail(error);
        const uint64_t left = size - offset - RecordHeaderLength;
        const uint32_t packetSize = little32(record);
        if (packetSize > left)
            return fail(truncatedPacket(target, number, offset, packetSize, left));
        offset += RecordHeaderLength + packetSize;
    }
    if (interrupted())
        return fail(target + ": interrupted");
    return "";
}

std::string PacketStreamWriter::writeBytes(const std::vector<uint8_t>& bytes)
{
    if (mode == Mode::NewFile) {
        const std::string error = file.write(bytes.data(), bytes.size());
        return error.empty() ? error : fail(error);
    }
    if (mode == Mode::StandardOutput) {
        // Held until commit, so that a stream refused part-way writes nothing.
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        return "";
    }
    return sendBytes(mode == Mode::Append ? fd : STDOUT_FILENO, bytes);
}

std::string PacketStreamWriter::sendBytes(int out, const std::vector<uint8_t>& bytes)
{
    const std::string name = mode == Mode::Append ? path : std::string("standard output");
    size_t done = 0;
    while (done < bytes.size()) {
        if (interrupted())
            return fail(name + ": interrupted");
        const ssize_t n = ::write(out, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(name + ": cannot write: " + std::strerror(errno));
        }
        done += size_t(n);
        appended = true;
    }
    return "";
}

std::string PacketStreamWriter::write(const PacketRecord& record)
{
    if (mode == Mode::Closed)
        return path + ": not open";
    if (std::string error = checkWritable(path, record); !error.empty())
        return fail(error);
    std::vector<uint8_t> bytes;
    bytes.reserve(RecordHeaderLength + record.packet.size());
    putRecord(bytes, record);
    return writeBytes(bytes);
}

std::string PacketStreamWriter::commit()
{
    std::string error;
    if (mode == Mode::NewFile) {
        error = file.commit();
    } else if (mode == Mode::StandardOutput) {
        error = sendBytes(STDOUT_FILENO, pending);
        pending.clear();
    } else if (mode == Mode::Append) {
        // Closing releases the lock.
        if (close(fd) != 0) {
            const int reason = errno;
            fd = -1;
            mode = Mode::Closed;
            return path + ": cannot append: " + std::strerror(reason);
        }
        fd = -1;
    }
    mode = Mode::Closed;
    return error;
}

void PacketStreamWriter::abandon()
{
    if (mode == Mode::NewFile)
        file.abandon();
    if (mode == Mode::Append && fd >= 0) {
        // Taken back under the lock, before anyone else appends; should that
        // fail too, the reason already given stands.
        if (appended)
            static_cast<void>(ftruncate(fd, off_t(appendStart)));
    }
    if (fd >= 0)
        close(fd);
    fd = -1;
    appended = false;
    pending.clear();
    mode = Mode::Closed;
}

std::string writePacketStream(const std::string& path, const PacketStream& stream)
{
    PacketStreamWriter writer;
    std::string error = writer.create(path, stream, true);
    for (size_t i = 0; i < stream.records.size() && error.empty(); ++i)
        error = writer.write(stream.records[i]);
    return error.empty() ? writer.commit() : error;
}

std::string appendPacketRecords(const std::string& path, const PacketStream& stream)
{
    PacketStreamWriter writer;
    std::string error = writer.append(path);
    if (!error.empty())
        return error;
    const PacketStream& there = writer.header();
    if (there.inputFormat != stream.inputFormat || there.pictureWidth != stream.pictureWidth
        || there.pictureHeight != stream.pictureHeight)
        return path + ": the stream is " + there.inputFormat + " " + std::to_string(there.pictureWidth) + "x"
            + std::to_string(there.pictureHeight) + ", not " + stream.inputFormat + " "
            + std::to_string(stream.pictureWidth) + "x" + std::to_string(stream.pictureHeight);
    for (size_t i = 0; i < stream.records.size() && error.empty(); ++i)
        error = writer.write(stream.records[i]);
    return error.empty() ? writer.commit() : error;
}

} // namespace Qor::Tools
