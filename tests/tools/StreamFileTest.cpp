// The packet-stream file: exact bytes of a small stream, round trips of
// streams with and without a picture, and every kind of damaged file refused
// with a message naming the file, the record and its byte offset.
#include "tools/AtomicFile.h"
#include "tools/PacketStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

namespace Qor::Tools {
namespace {

namespace fs = std::filesystem;

// A GPHA stream declaring 720x576 (0x02D0 x 0x0240) with two records:
// 3 bytes at timing 1, 2, then 0 bytes at timing 0xFFFFFFFF, 7.
const std::vector<uint8_t> twoRecordBytes = {
    'K', 'L', 'V', 'S', 0x01, 0x00, 0x00, 0x00, 'G', 'P', 'H', 'A', 0xD0, 0x02, 0x40, 0x02, // header
    0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC, // record 1 at 16
    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00,                   // record 2 at 31
};

PacketStream twoRecordStream()
{
    PacketStream stream;
    stream.inputFormat = "GPHA";
    stream.pictureWidth = 720;
    stream.pictureHeight = 576;
    stream.records.resize(2);
    stream.records[0].timing = {1, 2};
    stream.records[0].packet = {0xAA, 0xBB, 0xCC};
    stream.records[1].timing = {0xFFFFFFFF, 7};
    return stream;
}

void expectSameStream(const PacketStream& actual, const PacketStream& expected)
{
    EXPECT_EQ(actual.inputFormat, expected.inputFormat);
    EXPECT_EQ(actual.pictureWidth, expected.pictureWidth);
    EXPECT_EQ(actual.pictureHeight, expected.pictureHeight);
    ASSERT_EQ(actual.records.size(), expected.records.size());
    for (size_t i = 0; i < expected.records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i + 1));
        EXPECT_EQ(actual.records[i].timing, expected.records[i].timing);
        EXPECT_EQ(actual.records[i].packet, expected.records[i].packet);
    }
}

class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::string pattern = (fs::temp_directory_path() / "kelvo-stream-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path))
            names.push_back(entry.path().filename().string());
        return names;
    }
    std::string path;
};

TEST(PacketStream, WritesHeaderThenRecords)
{
    EXPECT_EQ(serializePacketStream(twoRecordStream()), twoRecordBytes);
}

TEST(PacketStream, ReadsRecordsWithTheirOffsets)
{
    const StreamReadResult read = parsePacketStream(twoRecordBytes, "s.kps");
    ASSERT_TRUE(read) << read.error;
    expectSameStream(read.stream, twoRecordStream());
    EXPECT_EQ(read.stream.records[0].offset, 16u);
    EXPECT_EQ(read.stream.records[1].offset, 31u); // 16 + 12 + 3
    EXPECT_TRUE(read.stream.hasPicture());
}

TEST(PacketStream, RoundTripsEveryShape)
{
    PacketStream empty;
    PacketStream noPicture = twoRecordStream();
    noPicture.inputFormat = "GPHB";
    noPicture.pictureWidth = noPicture.pictureHeight = 0;
    PacketStream large = twoRecordStream();
    large.pictureWidth = large.pictureHeight = 65535;
    large.records.push_back(PacketRecord{{0x12345678, 0x9ABCDEF0}, std::vector<uint8_t>(70000, 0x5A), 0});
    const struct {
        const char* label;
        PacketStream stream;
    } rows[] = {{"header only", empty}, {"no picture", noPicture}, {"large record", large}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const StreamReadResult read = parsePacketStream(serializePacketStream(row.stream), "s.kps");
        ASSERT_TRUE(read) << read.error;
        expectSameStream(read.stream, row.stream);
        EXPECT_EQ(read.stream.hasPicture(), row.stream.pictureWidth != 0);
    }
}

std::vector<uint8_t> withBytes(std::vector<uint8_t> bytes, size_t offset, std::vector<uint8_t> replacement)
{
    std::copy(replacement.begin(), replacement.end(), bytes.begin() + long(offset));
    return bytes;
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t length)
{
    bytes.resize(length);
    return bytes;
}

std::vector<uint8_t> extended(std::vector<uint8_t> bytes, std::vector<uint8_t> more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

TEST(PacketStream, RefusesDamagedFilesNamingWhere)
{
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        const char* message;
    } rows[] = {
        {"empty file", {}, "s.kps: not a packet stream: 0 bytes, fewer than the 16-byte header"},
        {"header cut short", cut(twoRecordBytes, 15), "s.kps: not a packet stream: 15 bytes, fewer than the 16-byte header"},
        {"wrong magic", withBytes(twoRecordBytes, 3, {'X'}),
            "s.kps: not a packet stream: magic \"KLVX\" at byte offset 0, not \"KLVS\""},
        {"a PNG", withBytes(twoRecordBytes, 0, {0x89, 'P', 'N', 'G'}),
            "s.kps: not a packet stream: magic \"\\x89PNG\" at byte offset 0, not \"KLVS\""},
        {"version 2", withBytes(twoRecordBytes, 4, {0x02}),
            "s.kps: stream version 2 at byte offset 4; this reader knows version 1"},
        {"version 256", withBytes(twoRecordBytes, 4, {0x00, 0x01}),
            "s.kps: stream version 256 at byte offset 4; this reader knows version 1"},
        {"unknown format", withBytes(twoRecordBytes, 11, {'C'}),
            "s.kps: input format \"GPHC\" at byte offset 8 is neither GPHB nor GPHA"},
        {"picture without height", withBytes(twoRecordBytes, 14, {0x00, 0x00}),
            "s.kps: picture size 720x0 at byte offset 12 has one side zero (0x0 means none)"},
        // Record 2 starts at 31 and claims 0 bytes; 5 bytes cannot hold its 12-byte record header.
        {"record header cut", cut(twoRecordBytes, 36),
            "s.kps: record 2 at byte offset 31 is truncated: 5 bytes left of its 12-byte record header"},
        // Record 1 claims 3 packet bytes; the file ends after 2 of them.
        {"packet cut", cut(twoRecordBytes, 30), "s.kps: record 1 at byte offset 16 is truncated: 3 packet bytes claimed, 2 left"},
        // Record 2 now claims 20 bytes: within the 43-byte file, but past its end.
        {"packet past the end", withBytes(twoRecordBytes, 31, {20}),
            "s.kps: record 2 at byte offset 31 is truncated: 20 packet bytes claimed, 0 left"},
        // 0x00010000 claimed in a 43-byte file.
        {"record larger than the file", withBytes(twoRecordBytes, 31, {0x00, 0x00, 0x01, 0x00}),
            "s.kps: record 2 at byte offset 31 claims 65536 packet bytes, more than the whole file (43 bytes)"},
        {"size of all ones", withBytes(twoRecordBytes, 16, {0xFF, 0xFF, 0xFF, 0xFF}),
            "s.kps: record 1 at byte offset 16 claims 4294967295 packet bytes, more than the whole file (43 bytes)"},
        // A third record after two good ones: one byte of it.
        {"trailing byte", extended(twoRecordBytes, {0x00}),
            "s.kps: record 3 at byte offset 43 is truncated: 1 bytes left of its 12-byte record header"},
        // A second stream after the first, as a plain copy of both makes.
        {"two streams joined", extended(twoRecordBytes, twoRecordBytes),
            "s.kps: record 3 at byte offset 43 is the header of another stream (\"KLVS\"): two streams joined end to"
            " end are not one stream"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const StreamReadResult read = parsePacketStream(row.bytes, "s.kps");
        EXPECT_FALSE(read);
        EXPECT_EQ(read.error, row.message);
        EXPECT_TRUE(read.stream.records.empty());
    }
}

TEST(PacketStream, FileRoundTripLeavesNoTemporaryFile)
{
    TemporaryDirectory directory;
    ASSERT_FALSE(directory.path.empty());
    const std::string path = directory.path + "/s.kps";
    ASSERT_EQ(writePacketStream(path, twoRecordStream()), "");
    // Replacing it goes through a temporary file too.
    PacketStream longer = twoRecordStream();
    longer.records.push_back(PacketRecord{{3, 4}, {1, 2, 3, 4, 5}, 0});
    ASSERT_EQ(writePacketStream(path, longer), "");
    EXPECT_EQ(directory.entries(), std::vector<std::string>{"s.kps"});
    const StreamReadResult read = readPacketStream(path);
    ASSERT_TRUE(read) << read.error;
    expectSameStream(read.stream, longer);
}

TEST(PacketStream, FileRefusalsNameThePath)
{
    TemporaryDirectory directory;
    const std::string missing = directory.path + "/none.kps";
    EXPECT_EQ(readPacketStream(missing).error, missing + ": cannot open: No such file or directory");
    EXPECT_EQ(readPacketStream(directory.path).error, directory.path + ": is a directory");

    const std::string unwritable = directory.path + "/no/such/folder/s.kps";
    EXPECT_EQ(writePacketStream(unwritable, twoRecordStream()),
        unwritable + ": cannot create a temporary file beside it: No such file or directory");

    PacketStream wrongFormat = twoRecordStream();
    wrongFormat.inputFormat = "RGBA";
    const std::string path = directory.path + "/s.kps";
    EXPECT_EQ(writePacketStream(path, wrongFormat), path + ": input format \"RGBA\" is neither GPHB nor GPHA");
    EXPECT_TRUE(directory.entries().empty());
}

// Appends check the stream they add to, walking its record headers: the
// same damage the reader refuses is refused, with the same message, and
// the file is left as it was.
TEST(PacketStream, AppendsOnlyToAWholeStream)
{
    TemporaryDirectory directory;
    const std::string path = directory.path + "/s.kps";
    PacketStream more = twoRecordStream();
    more.records.assign(1, PacketRecord{{5, 6}, {1, 2, 3, 4}, 0});
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        std::string message; // after the path; "" when the append is taken
    } rows[] = {
        {"whole", twoRecordBytes, ""},
        {"header alone", cut(twoRecordBytes, 16), ""},
        {"last packet cut", cut(twoRecordBytes, 30), ": record 1 at byte offset 16 is truncated: 3 packet bytes claimed, 2 left"},
        {"last record header cut", cut(twoRecordBytes, 36),
            ": record 2 at byte offset 31 is truncated: 5 bytes left of its 12-byte record header"},
        {"size beyond the file", withBytes(twoRecordBytes, 31, {0x00, 0x00, 0x01, 0x00}),
            ": record 2 at byte offset 31 claims 65536 packet bytes, more than the whole file (43 bytes)"},
        {"two streams joined", extended(twoRecordBytes, twoRecordBytes),
            ": record 3 at byte offset 43 is the header of another stream (\"KLVS\"): two streams joined end to end"
            " are not one stream"},
        {"not a stream", withBytes(twoRecordBytes, 0, {0x89, 'P', 'N', 'G'}),
            ": not a packet stream: magic \"\\x89PNG\" at byte offset 0, not \"KLVS\""},
        {"other format", withBytes(twoRecordBytes, 11, {'B'}), ": the stream is GPHB 720x576, not GPHA 720x576"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(writeFileAtomically(path, row.bytes), "");
        EXPECT_EQ(appendPacketRecords(path, more), row.message.empty() ? "" : path + row.message);
        std::vector<uint8_t> after;
        ASSERT_EQ(readWholeFile(path, after), "");
        if (row.message.empty()) {
            const StreamReadResult read = parsePacketStream(after, "s.kps");
            ASSERT_TRUE(read) << read.error;
            EXPECT_EQ(read.stream.records.back().packet, more.records[0].packet);
        } else {
            EXPECT_EQ(after, row.bytes);
        }
    }
}

TEST(PacketStream, AnAbandonedAppendIsTakenBack)
{
    TemporaryDirectory directory;
    const std::string path = directory.path + "/s.kps";
    ASSERT_EQ(writeFileAtomically(path, twoRecordBytes), "");
    {
        PacketStreamWriter writer;
        ASSERT_EQ(writer.append(path), "");
        EXPECT_EQ(writer.header().inputFormat, "GPHA");
        ASSERT_EQ(writer.write(PacketRecord{{1, 1}, {9, 9, 9}, 0}), "");
        // Destroyed without commit: as when an image later in a list is refused.
    }
    std::vector<uint8_t> after;
    ASSERT_EQ(readWholeFile(path, after), "");
    EXPECT_EQ(after, twoRecordBytes);
}

TEST(AtomicFile, ReplacesContentsWhole)
{
    TemporaryDirectory directory;
    const std::string path = directory.path + "/f";
    ASSERT_EQ(writeFileAtomically(path, {1, 2, 3}), "");
    ASSERT_EQ(writeFileAtomically(path, {9}), "");
    std::vector<uint8_t> bytes;
    ASSERT_EQ(readWholeFile(path, bytes), "");
    EXPECT_EQ(bytes, std::vector<uint8_t>{9});
    EXPECT_EQ(directory.entries(), std::vector<std::string>{"f"});
}

// A finished file has the permissions of any new file under the umask,
// not mkstemp's owner-only ones.
TEST(AtomicFile, GivesTheUmasksPermissions)
{
    TemporaryDirectory directory;
    const std::string path = directory.path + "/f";
    for (const mode_t mask : {mode_t(022), mode_t(027), mode_t(0)}) {
        SCOPED_TRACE(mask);
        const mode_t before = umask(mask);
        const std::string error = writeFileAtomically(path, {1});
        umask(before);
        ASSERT_EQ(error, "");
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
    }
}

// A write that fails part-way, or a rename that fails at the end, leaves
// the target as it was and no temporary file.
TEST(AtomicFile, AFailedWriteLeavesNoTemporaryFile)
{
    TemporaryDirectory directory;
    const std::string path = directory.path + "/f";
    ASSERT_EQ(writeFileAtomically(path, {7}), "");
    // A folder with something in it cannot be renamed over.
    fs::create_directories(directory.path + "/full/inside");
    // Files are cut off at 1000 bytes: the write fails with EFBIG.
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 1000;
    const struct {
        const char* label;
        std::string path;
        size_t bytes;
        bool limited;
        std::string message;
    } rows[] = {
        {"write cut off", path, 5000, true, path + ": cannot write: File too large"},
        {"rename refused", directory.path + "/full", 10, false, directory.path + "/full: is a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.limited)
            setrlimit(RLIMIT_FSIZE, &small);
        const std::string error = writeFileAtomically(row.path, std::vector<uint8_t>(row.bytes, 1));
        setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_EQ(error, row.message);
        std::vector<std::string> names = directory.entries();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"f", "full"}));
        std::vector<uint8_t> kept;
        ASSERT_EQ(readWholeFile(path, kept), "");
        EXPECT_EQ(kept, std::vector<uint8_t>{7});
    }
    // The same with the rename at the end failing: made to fail by an
    // AtomicFile whose target became a folder after it opened.
    AtomicFile file;
    const std::string late = directory.path + "/late";
    ASSERT_EQ(file.open(late), "");
    ASSERT_EQ(file.write(std::vector<uint8_t>(10, 1).data(), 10), "");
    fs::create_directories(late + "/inside");
    EXPECT_EQ(file.commit().rfind(late + ": cannot write: ", 0), 0u);
    EXPECT_EQ(directory.entries().size(), 3u); // f, full, late
}

// A target name as long as a file name may be still works: the temporary
// name is shortened to fit.
TEST(AtomicFile, TakesTheLongestNames)
{
    TemporaryDirectory directory;
    for (const size_t length : {size_t(248), size_t(255)}) {
        SCOPED_TRACE(length);
        const std::string path = directory.path + "/" + std::string(length, 'n');
        EXPECT_EQ(writeFileAtomically(path, {1}), "");
        EXPECT_TRUE(fs::exists(path));
        fs::remove(path);
    }
}

} // namespace
} // namespace Qor::Tools
