// Runs a fuzz target's entry point over saved inputs without the fuzzing
// engine, so that every build replays the seed corpus under ctest, and a
// crash file can be replayed under a debugger. Each argument is a file, or a
// directory whose files are run in name order. The target aborts on a failed
// check; this program fails only when an argument cannot be read or a
// directory holds no inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", file.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A block of exactly the input's length, as the fuzzing engine gives it,
    // so that a read one byte past the input is reported.
    std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), input.get());
    LLVMFuzzerTestOneInput(input.get(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s INPUT-FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            if (!replay(path))
                return 1;
            ++count;
            continue;
        }
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(path, error))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        if (files.empty()) {
            std::fprintf(stderr, "%s: no inputs in the directory\n", path.string().c_str());
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (!replay(file))
                return 1;
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
