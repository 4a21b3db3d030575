// Whole-file writes that never leave a half-written file behind: the bytes go
// to a temporary file in the target's directory, which is renamed over the
// target only once everything is written. The temporary file is hidden
// (its name begins with a dot) and, for a long target name, shortened so
// that it stays within the length a file name may have.
#ifndef KELVO_TOOLS_ATOMICFILE_H
#define KELVO_TOOLS_ATOMICFILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

// A file written piece by piece and put in place whole. Until commit()
// nothing is at `path` but what was there before; an AtomicFile destroyed
// or abandoned before then removes its temporary file.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile() { abandon(); }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Makes the temporary file beside `path`; answers "" or a one-line
    // reason naming `path`. Refuses a `path` that exists and is not a
    // regular file (a directory, a device, a pipe): renaming over it would
    // put a file where the system or the user keeps something else.
    std::string open(const std::string& path);

    // Appends `count` bytes; answers "" or the reason, after which the
    // file is abandoned. Stops when the tool is interrupted.
    std::string write(const uint8_t* bytes, size_t count);

    // Gives the file the permissions a new file has under the umask and
    // renames it over `path`; answers "" or the reason, the file abandoned.
    std::string commit();

    // Removes the temporary file; `path` stays as it was.
    void abandon();

private:
    std::string fail(const char* what, int error);

    std::string target;
    std::string temporary;
    int fd = -1;
};

// Replaces `path` with `bytes` and answers "", or answers a one-line reason
// naming `path`, leaving `path` as it was and no temporary file behind.
std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// Reads the whole of `path` ("-": standard input) into `bytes` and answers
// "", or answers a one-line reason naming it, leaving `bytes` empty.
std::string readWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

} // namespace Qor::Tools

#endif
