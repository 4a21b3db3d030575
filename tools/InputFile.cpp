#include "tools/InputFile.h"

#include "tools/Interruption.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qor::Tools {

namespace {

constexpr size_t BufferSize = 64 * 1024;

} // namespace

std::string inputName(const std::string& path)
{
    return path == "-" ? std::string("standard input") : path;
}

InputFile::InputFile(const uint8_t* data, size_t size, std::string name)
    : inMemory(true)
    , memory(data)
    , memorySize(size)
    , shownName(std::move(name))
    , knownSize(int64_t(size))
{
}

InputFile::~InputFile()
{
    if (ownsFd)
        close(fd);
}

std::string InputFile::open(const std::string& path)
{
    shownName = inputName(path);
    if (path == "-") {
        fd = STDIN_FILENO;
    } else {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return shownName + ": cannot open: " + std::strerror(errno);
        ownsFd = true;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0)
        return shownName + ": cannot read: " + std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return shownName + ": is a directory";
    knownSize = S_ISREG(status.st_mode) ? int64_t(status.st_size) : -1;
    buffer.resize(BufferSize);
    return "";
}

std::string InputFile::lockShared()
{
    if (inMemory || fd < 0 || knownSize < 0)
        return "";
    while (flock(fd, LOCK_SH) != 0) {
        if (errno != EINTR)
            return ""; // a file system without locks is read as it is
        if (interrupted())
            return shownName + ": interrupted";
    }
    return "";
}

std::string InputFile::fill()
{
    bufferStart = bufferEnd = 0;
    for (;;) {
        if (interrupted())
            return shownName + ": interrupted";
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n >= 0) {
            bufferEnd = size_t(n);
            ended = n == 0;
            return "";
        }
        if (errno != EINTR)
            return shownName + ": cannot read: " + std::strerror(errno);
    }
}

std::string InputFile::read(uint8_t* target, size_t count, size_t& got)
{
    got = 0;
    if (inMemory) {
        got = std::min<size_t>(count, memorySize - size_t(consumed));
        if (got > 0)
            std::memcpy(target, memory + consumed, got);
        consumed += got;
        return "";
    }
    if (fd < 0)
        return shownName + ": not open";
    while (got < count && !ended) {
        if (bufferStart == bufferEnd) {
            // A large read goes straight into the target, past the buffer.
            if (count - got >= buffer.size()) {
                if (interrupted())
                    return shownName + ": interrupted";
                const ssize_t n = ::read(fd, target + got, count - got);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    return shownName + ": cannot read: " + std::strerror(errno);
                }
                ended = n == 0;
                got += size_t(n);
                consumed += uint64_t(n);
                continue;
            }
            if (std::string error = fill(); !error.empty())
                return error;
            continue;
        }
        const size_t step = std::min(count - got, bufferEnd - bufferStart);
        std::memcpy(target + got, buffer.data() + bufferStart, step);
        bufferStart += step;
        got += step;
        consumed += step;
    }
    return "";
}

} // namespace Qor::Tools
