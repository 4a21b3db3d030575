#include "tools/AtomicFile.h"

#include "tools/InputFile.h"
#include "tools/Interruption.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qor::Tools {

namespace {

// The longest file name the temporary name's base may take: a name has at
// most 255 bytes, and the dot and ".XXXXXX" take eight.
constexpr size_t LongestTemporaryBase = 255 - 8;

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

std::string AtomicFile::open(const std::string& path)
{
    abandon();
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return path + (S_ISDIR(status.st_mode) ? ": is a directory" : ": is not a regular file; only one is replaced");
    std::string base = baseNameOf(path);
    if (base.size() > LongestTemporaryBase)
        base.resize(LongestTemporaryBase);
    std::string name = directoryOf(path) + "/." + base + ".XXXXXX";
    fd = mkstemp(name.data());
    if (fd < 0)
        return path + ": cannot create a temporary file beside it: " + std::strerror(errno);
    target = path;
    temporary = name;
    return "";
}

std::string AtomicFile::fail(const char* what, int error)
{
    const std::string reason = target + ": " + what + ": " + std::strerror(error);
    abandon();
    return reason;
}

std::string AtomicFile::write(const uint8_t* bytes, size_t count)
{
    if (fd < 0)
        return target + ": not open";
    while (count > 0) {
        if (interrupted()) {
            const std::string reason = target + ": interrupted";
            abandon();
            return reason;
        }
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail("cannot write", errno);
        }
        bytes += written;
        count -= size_t(written);
    }
    return "";
}

std::string AtomicFile::commit()
{
    if (fd < 0)
        return target + ": not open";
    if (fchmod(fd, newFileMode()) != 0)
        return fail("cannot write", errno);
    const int closing = close(fd);
    fd = -1;
    if (closing != 0)
        return fail("cannot write", errno);
    if (std::rename(temporary.c_str(), target.c_str()) != 0)
        return fail("cannot write", errno);
    temporary.clear();
    return "";
}

void AtomicFile::abandon()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
    if (!temporary.empty())
        unlink(temporary.c_str());
    temporary.clear();
}

std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes)
{
    AtomicFile file;
    std::string error = file.open(path);
    if (error.empty())
        error = file.write(bytes.data(), bytes.size());
    if (error.empty())
        error = file.commit();
    return error;
}

std::string readWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    InputFile input;
    std::string error = input.open(path);
    if (!error.empty())
        return error;
    std::vector<uint8_t> contents;
    uint8_t block[65536];
    for (;;) {
        size_t got = 0;
        error = input.read(block, sizeof block, got);
        if (!error.empty())
            return error;
        if (got == 0)
            break;
        contents.insert(contents.end(), block, block + got);
    }
    bytes.swap(contents);
    return "";
}

} // namespace Qor::Tools
