// A file a tool reads, or its standard input, read a buffer at a time so
// that a reader can check the first bytes before it takes any more, and
// memory follows what the input really holds. A read stops when the tool
// is interrupted (tools/Interruption.h). Bytes already in memory can stand
// in for a file, for tests and fuzz targets.
#ifndef KELVO_TOOLS_INPUTFILE_H
#define KELVO_TOOLS_INPUTFILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

// How a message names `path`: "standard input" for "-", the path otherwise.
std::string inputName(const std::string& path);

class InputFile {
public:
    InputFile() = default;
    // Bytes in memory, named `name` in messages; they must outlive the reader.
    InputFile(const uint8_t* data, size_t size, std::string name);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens `path` ("-": standard input) and answers "", or a one-line
    // reason naming it: missing, a directory, unreadable.
    std::string open(const std::string& path);

    const std::string& name() const { return shownName; }

    // Reads up to `count` bytes into `buffer`, fewer only at the end of the
    // input; `got` says how many. Answers "" or a one-line reason (a failed
    // read, or "interrupted").
    std::string read(uint8_t* buffer, size_t count, size_t& got);

    // The size of a regular file or of bytes in memory; -1 for a pipe, a
    // terminal or a device, whose end is known only when it comes.
    int64_t size() const { return knownSize; }

    // Waits for a shared lock on a regular file (none for other inputs), so
    // that a writer holding the exclusive lock finishes first; answers "" or
    // the reason.
    std::string lockShared();

    // Bytes taken by read() so far.
    uint64_t position() const { return consumed; }

private:
    std::string fill();

    int fd = -1;
    bool ownsFd = false;
    bool inMemory = false;
    const uint8_t* memory = nullptr;
    size_t memorySize = 0;
    std::string shownName;
    int64_t knownSize = -1;
    uint64_t consumed = 0;
    std::vector<uint8_t> buffer;
    size_t bufferStart = 0;
    size_t bufferEnd = 0;
    bool ended = false;
};

} // namespace Qor::Tools

#endif
