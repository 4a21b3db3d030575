// Running a tool as a person does, for the tools' end-to-end tests: the
// built tools and samples, a program started with its output and errors
// caught and waited for (never past a minute), a scratch directory per
// test, and the few readers of files and manifest lines the checks need.
#ifndef KELVO_TESTS_TOOLS_TOOLRUN_H
#define KELVO_TESTS_TOOLS_TOOLRUN_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace Qor::Tools::Testing {

// Where the build put the tools, and the samples of the source tree.
inline const std::string encodeTool = KELVO_ENCODE_TOOL;
inline const std::string renderTool = KELVO_RENDER_TOOL;
inline const std::string sampleTool = KELVO_SAMPLE_TOOL;
inline const std::string subtitlesTool = KELVO_SUBTITLES_TOOL;
inline const std::string samples = KELVO_SAMPLES_DIRECTORY;

struct ToolRun {
    int status = -1; // the exit status, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

inline std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// How a started program is set up: where its output and errors go, what it
// reads, and `limit` applied to the size of the files it writes (0: none).
struct Start {
    std::string out = "/dev/null";
    std::string err = "/dev/null";
    int input = -1; // a descriptor for standard input; -1 keeps the test's
    rlim_t limit = 0;
};

// Starts a program with `arguments` (the program's path first).
inline pid_t start(std::vector<std::string> arguments, const Start& how = {})
{
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(how.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(how.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (how.input >= 0)
            dup2(how.input, STDIN_FILENO);
        if (how.limit > 0) {
            // A write past the limit then fails with EFBIG instead of killing.
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit files {how.limit, how.limit};
            setrlimit(RLIMIT_FSIZE, &files);
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Waits for `child` for up to a minute, then kills it: a tool that hangs
// fails its test rather than the whole run. Answers the exit status, or
// 128 + the signal that ended it.
inline int waitFor(pid_t child)
{
    int status = 0;
    for (int tenths = 0; waitpid(child, &status, WNOHANG) == 0; ++tenths) {
        if (tenths == 600) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        usleep(100000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a program with `arguments` to its end, its output and errors caught
// in files of `scratch`, and `limit` on the files it writes (0: none).
inline ToolRun run(const std::string& scratch, std::vector<std::string> arguments, rlim_t limit = 0)
{
    Start how;
    how.out = scratch + "/.out";
    how.err = scratch + "/.err";
    how.limit = limit;
    ToolRun result;
    result.status = waitFor(start(std::move(arguments), how));
    result.out = fileText(how.out);
    result.err = fileText(how.err);
    std::filesystem::remove(how.out);
    std::filesystem::remove(how.err);
    return result;
}

// Every name in `directory`, sorted, hidden files included.
inline std::vector<std::string> listing(const std::string& directory)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> all;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        all.push_back(line);
    return all;
}

// The value of "key" in one manifest line: a number, or an array's numbers.
inline std::vector<double> jsonNumbers(const std::string& line, const std::string& key)
{
    const size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos)
        return {};
    const char* p = line.c_str() + at + key.size() + 3;
    std::vector<double> numbers;
    const bool array = *p == '[';
    if (array)
        ++p;
    do {
        char* end = nullptr;
        numbers.push_back(std::strtod(p, &end));
        p = end;
    } while (array && *p++ == ',');
    return numbers;
}

inline std::string jsonText(const std::string& line, const std::string& key)
{
    const size_t at = line.find("\"" + key + "\":\"");
    if (at == std::string::npos)
        return "";
    const size_t start = at + key.size() + 4;
    return line.substr(start, line.find('"', start) - start);
}

// A test with a directory of its own, removed afterwards.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-tools-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
    ToolRun tool(std::vector<std::string> arguments, rlim_t limit = 0)
    {
        return run(directory, std::move(arguments), limit);
    }
    std::string path(const std::string& name) const { return directory + "/" + name; }

    std::string directory;
};

} // namespace Qor::Tools::Testing

#endif
