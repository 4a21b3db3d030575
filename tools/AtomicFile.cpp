#include "tools/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qor::Tools {

namespace {

std::string systemReason(const std::string& path, const char* what, int error)
{
    return path + ": " + what + ": " + std::strerror(error);
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkstemp makes files readable by their owner only; a finished file gets the
// permissions any new file would have under the current umask.
mode_t newFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::string temporary = directoryOf(path) + "/." + baseNameOf(path) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return systemReason(path, "cannot create a temporary file beside it", errno);

    const uint8_t* next = bytes.data();
    size_t left = bytes.size();
    int error = 0;
    while (left > 0 && error == 0) {
        const ssize_t written = write(fd, next, left);
        if (written < 0) {
            if (errno != EINTR)
                error = errno;
            continue;
        }
        next += written;
        left -= size_t(written);
    }
    if (error == 0 && fchmod(fd, newFileMode()) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return systemReason(path, "cannot write", error);
    }
    return "";
}

std::string readWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    const bool standardInput = path == "-";
    const int fd = standardInput ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return systemReason(standardInput ? "standard input" : path, "cannot open", errno);
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(fd);
        return path + ": is a directory";
    }
    std::vector<uint8_t> contents;
    uint8_t block[65536];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            close(fd);
            return systemReason(path, "cannot read", error);
        }
        contents.insert(contents.end(), block, block + got);
    }
    close(fd);
    bytes.swap(contents);
    return "";
}

} // namespace Qor::Tools
