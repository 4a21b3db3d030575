// fuzz_list: arbitrary bytes as kelvo-encode's list of images (JSON lines),
// read as the encoder reads one. Run with a memory limit, an allocation out
// of proportion to the input is a finding. The run aborts when a refusal is
// not one line naming the file, when entries are kept on refusal, or when
// an accepted entry names no image or is not named by its line.
#include "fuzz/ReaderChecks.h"
#include "tools/ImageList.h"
#include "tools/InputFile.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Qor::Fuzzing;
    using namespace Qor::Tools;
    InputFile input(data, size, "f.jsonl");
    std::vector<ListEntry> entries;
    const std::string error = readImageList(input, "d/", entries);
    if (refused(error, "f.jsonl")) {
        require(entries.empty(), "entries kept on refusal");
        return 0;
    }
    require(!entries.empty(), "a list of no entries accepted");
    for (const ListEntry& entry : entries) {
        require(!entry.image.empty(), "an entry without an image");
        require(entry.image[0] == '/' || entry.image.rfind("d/", 0) == 0, "an image not in the list's folder");
        require(entry.where.rfind("f.jsonl: line ", 0) == 0, "an entry not named by its line");
    }
    return 0;
}
