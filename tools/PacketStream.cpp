#include "tools/PacketStream.h"

#include "tools/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qor::Tools {

namespace {

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

std::string recordAt(const std::string& name, size_t number, size_t offset)
{
    return name + ": record " + std::to_string(number) + " at byte offset " + std::to_string(offset);
}

} // namespace

std::string checkInputFormat(const std::string& format)
{
    if (format == "GPHB" || format == "GPHA")
        return "";
    return "input format \"" + format + "\" is neither GPHB nor GPHA";
}

StreamReadResult parsePacketStream(const std::vector<uint8_t>& bytes, const std::string& name)
{
    if (bytes.size() < StreamHeaderLength)
        return refuse(name + ": not a packet stream: " + std::to_string(bytes.size())
            + " bytes, fewer than the 16-byte header");
    const uint8_t* header = bytes.data();
    if (!std::equal(header, header + 4, StreamMagic))
        return refuse(name + ": not a packet stream: magic " + quoted(header, 4) + " at byte offset 0, not \"KLVS\"");
    const uint16_t version = little16(header + 4);
    if (version != StreamVersion)
        return refuse(name + ": stream version " + std::to_string(version)
            + " at byte offset 4; this reader knows version 1");

    StreamReadResult result;
    PacketStream& stream = result.stream;
    stream.inputFormat.assign(reinterpret_cast<const char*>(header + 8), 4);
    if (!checkInputFormat(stream.inputFormat).empty())
        return refuse(name + ": input format " + quoted(header + 8, 4) + " at byte offset 8 is neither GPHB nor GPHA");
    stream.pictureWidth = little16(header + 12);
    stream.pictureHeight = little16(header + 14);
    if ((stream.pictureWidth == 0) != (stream.pictureHeight == 0))
        return refuse(name + ": picture size " + std::to_string(stream.pictureWidth) + "x"
            + std::to_string(stream.pictureHeight) + " at byte offset 12 has one side zero (0x0 means none)");

    size_t offset = StreamHeaderLength;
    for (size_t number = 1; offset < bytes.size(); ++number) {
        const size_t left = bytes.size() - offset;
        if (left < RecordHeaderLength)
            return refuse(recordAt(name, number, offset) + " is truncated: " + std::to_string(left)
                + " bytes left of its 12-byte record header");
        const uint8_t* record = bytes.data() + offset;
        const uint32_t size = little32(record);
        if (size > bytes.size())
            return refuse(recordAt(name, number, offset) + " claims " + std::to_string(size)
                + " packet bytes, more than the whole file (" + std::to_string(bytes.size()) + " bytes)");
        if (size > left - RecordHeaderLength)
            return refuse(recordAt(name, number, offset) + " is truncated: " + std::to_string(size)
                + " packet bytes claimed, " + std::to_string(left - RecordHeaderLength) + " left");
        PacketRecord& added = stream.records.emplace_back();
        added.timing = {little32(record + 4), little32(record + 8)};
        added.packet.assign(record + RecordHeaderLength, record + RecordHeaderLength + size);
        added.offset = offset;
        offset += RecordHeaderLength + size;
    }
    return result;
}

StreamReadResult readPacketStream(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::string error = readWholeFile(path, bytes);
    if (!error.empty())
        return refuse(std::move(error));
    return parsePacketStream(bytes, path);
}

std::vector<uint8_t> serializePacketStream(const PacketStream& stream)
{
    std::vector<uint8_t> bytes(StreamMagic, StreamMagic + 4);
    putLittle16(bytes, StreamVersion);
    putLittle16(bytes, 0); // reserved
    std::string format = stream.inputFormat;
    format.resize(4, ' ');
    bytes.insert(bytes.end(), format.begin(), format.end());
    putLittle16(bytes, stream.pictureWidth);
    putLittle16(bytes, stream.pictureHeight);
    for (const PacketRecord& record : stream.records) {
        putLittle32(bytes, uint32_t(record.packet.size()));
        putLittle32(bytes, record.timing[0]);
        putLittle32(bytes, record.timing[1]);
        bytes.insert(bytes.end(), record.packet.begin(), record.packet.end());
    }
    return bytes;
}

namespace {

std::string checkWritable(const std::string& path, const PacketStream& stream)
{
    const std::string formatError = checkInputFormat(stream.inputFormat);
    if (!formatError.empty())
        return path + ": " + formatError;
    for (size_t i = 0; i < stream.records.size(); ++i)
        if (stream.records[i].packet.size() > size_t(std::numeric_limits<int32_t>::max()))
            return path + ": packet " + std::to_string(i + 1) + " is " + std::to_string(stream.records[i].packet.size())
                + " bytes, more than a host buffer can hold";
    return "";
}

// Reads up to `count` bytes from the start of `path`.
std::string readStart(const std::string& path, size_t count, std::vector<uint8_t>& bytes)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return path + ": cannot open: " + std::strerror(errno);
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(fd);
        return path + ": is a directory";
    }
    bytes.resize(count);
    size_t got = 0;
    while (got < count) {
        const ssize_t n = read(fd, bytes.data() + got, count - got);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            close(fd);
            return path + ": cannot read: " + std::strerror(error);
        }
        got += size_t(n);
    }
    close(fd);
    bytes.resize(got);
    return "";
}

} // namespace

std::string readStreamHeader(const std::string& path, PacketStream& stream)
{
    std::vector<uint8_t> bytes;
    const std::string error = readStart(path, StreamHeaderLength, bytes);
    if (!error.empty())
        return error;
    StreamReadResult read = parsePacketStream(bytes, path);
    if (!read)
        return read.error;
    stream = std::move(read.stream);
    return "";
}

bool looksLikePacketStream(const std::string& path)
{
    std::vector<uint8_t> bytes;
    return readStart(path, 4, bytes).empty() && bytes.size() == 4 && std::equal(bytes.begin(), bytes.end(), StreamMagic);
}

std::string appendPacketRecords(const std::string& path, const PacketStream& stream)
{
    std::string error = checkWritable(path, stream);
    if (!error.empty())
        return error;
    std::vector<uint8_t> bytes = serializePacketStream(stream);
    bytes.erase(bytes.begin(), bytes.begin() + long(StreamHeaderLength));
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return path + ": cannot open for writing: " + std::strerror(errno);
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        const int reason = errno;
        close(fd);
        return path + ": cannot write: " + std::strerror(reason);
    }
    const off_t end = status.st_size;
    size_t done = 0;
    int reason = 0;
    while (done < bytes.size() && reason == 0) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, end + off_t(done));
        if (n < 0) {
            if (errno != EINTR)
                reason = errno;
            continue;
        }
        done += size_t(n);
    }
    // A part written is taken back; should that fail too, the reason below stands.
    if (reason != 0)
        static_cast<void>(ftruncate(fd, end));
    if (close(fd) != 0 && reason == 0)
        reason = errno;
    if (reason != 0)
        return path + ": cannot append: " + std::strerror(reason);
    return "";
}

std::string writePacketStream(const std::string& path, const PacketStream& stream)
{
    const std::string error = checkWritable(path, stream);
    if (!error.empty())
        return error;
    return writeFileAtomically(path, serializePacketStream(stream));
}

} // namespace Qor::Tools
