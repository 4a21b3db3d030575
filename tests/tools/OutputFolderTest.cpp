// The render's output folder: a run is published all or nothing, whichever
// step fails; what the folder may hold before a run, under each policy; and
// the folder a run made is gone again when the run fails.
#include "tools/AtomicFile.h"
#include "tools/Manifest.h"
#include "tools/OutputFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace Qor::Tools {
namespace {

namespace fs = std::filesystem;

class OutputFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kelvo-folder-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        out = root + "/out";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    // The folder's files and their contents, hidden ones included.
    std::map<std::string, std::string> contents() const
    {
        std::map<std::string, std::string> found;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(out, error)) {
            std::vector<uint8_t> bytes;
            if (entry.is_regular_file())
                readWholeFile(entry.path().string(), bytes);
            found[fs::relative(entry.path(), out).string()] = std::string(bytes.begin(), bytes.end());
        }
        return found;
    }

    void put(const std::string& name, const std::string& text)
    {
        ASSERT_EQ(writeFileAtomically(name, std::vector<uint8_t>(text.begin(), text.end())), "");
    }

    // A run of the pictures `names`, each holding `text`, published.
    std::string render(const std::vector<std::string>& names, const std::string& text, Overwrite policy,
        OutputFolder::Rename rename = nullptr)
    {
        OutputFolder folder;
        if (std::string error = folder.open(out, policy); !error.empty())
            return error;
        std::string manifest;
        for (const std::string& name : names) {
            put(folder.workingDirectory() + "/" + name, text);
            ManifestLine line;
            line.packet = 1;
            line.frame = name;
            line.frameBytes = text.size();
            manifest += manifestText(line);
            folder.expect(name);
        }
        put(folder.workingDirectory() + "/" + ManifestName, manifest);
        folder.expect(ManifestName);
        return folder.publish(rename);
    }

    std::string root;
    std::string out;
};

// A rename that fails at its `failAt`-th call and works otherwise.
int calls = 0;
int failAt = 0;
int failingRename(const char* from, const char* to)
{
    if (++calls == failAt) {
        errno = EIO;
        return -1;
    }
    return std::rename(from, to);
}

TEST_F(OutputFolderTest, AFailedPublishLeavesTheRunBefore)
{
    ASSERT_EQ(render({"frame-0001.png", "frame-0002.png"}, "old", Overwrite::OwnOutput), "");
    put(out + "/notes.txt", "mine");
    const std::map<std::string, std::string> before = contents();
    // Moves: three aside (two frames, the manifest), then four in.
    for (failAt = 1; failAt <= 7; ++failAt) {
        SCOPED_TRACE(failAt);
        calls = 0;
        const std::string error
            = render({"frame-0001.png", "frame-0002.png", "frame-0003.png"}, "new", Overwrite::OwnOutput, failingRename);
        EXPECT_NE(error.find(": Input/output error; the folder is left as it was"), std::string::npos) << error;
        EXPECT_EQ(contents(), before);
    }
    calls = 0;
    failAt = 0;
    ASSERT_EQ(render({"frame-0001.png"}, "new", Overwrite::OwnOutput, failingRename), "");
    const std::map<std::string, std::string> after = contents();
    EXPECT_EQ(after.size(), 3u); // frame-0001.png, manifest.jsonl, notes.txt
    EXPECT_EQ(after.at("frame-0001.png"), "new");
    EXPECT_EQ(after.at("notes.txt"), "mine");
}

TEST_F(OutputFolderTest, ReplacesWhatThePolicyAllows)
{
    const struct {
        const char* label;
        std::map<std::string, std::string> there; // put into out/ before the run
        Overwrite policy;
        std::string message; // after the folder's path; "" when the run goes ahead
    } rows[] = {
        {"empty", {}, Overwrite::OwnOutput, ""},
        {"other names", {{"notes.txt", "x"}, {"frame-1.jpg", "x"}, {"frame-a.png", "x"}}, Overwrite::Nothing, ""},
        {"a foreign frame", {{"frame-0001.png", "x"}}, Overwrite::OwnOutput,
            "/frame-0001.png: not written by kelvo-render (no manifest.jsonl lists it); -y (--force) replaces it"},
        {"a foreign repeat", {{"preview-0001-2.png", "x"}}, Overwrite::OwnOutput, "/preview-0001-2.png: not written"},
        {"a foreign frame, forced", {{"frame-0001.png", "x"}}, Overwrite::Anything, ""},
        {"a foreign manifest", {{"manifest.jsonl", "{\"image\": \"a.png\"}\n"}}, Overwrite::OwnOutput,
            "/manifest.jsonl: line 1: not a line kelvo-render writes (no \"packet\" and \"bytes\"); -y (--force)"
            " replaces it"},
        {"a manifest that is not JSON", {{"manifest.jsonl", "frame-0001.png\n"}}, Overwrite::OwnOutput,
            "/manifest.jsonl: not JSON lines: \"f\" at byte offset 0, not \"{\"; -y (--force) replaces it"},
        {"an empty manifest", {{"manifest.jsonl", ""}}, Overwrite::OwnOutput, ""},
        {"anything, never", {{"manifest.jsonl", ""}}, Overwrite::Nothing,
            "/manifest.jsonl: exists, and -n (--no-overwrite) replaces nothing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        fs::remove_all(out);
        fs::create_directory(out);
        for (const auto& [name, text] : row.there)
            put(out + "/" + name, text);
        const std::map<std::string, std::string> before = contents();
        const std::string error = render({"frame-0001.png"}, "new", row.policy);
        if (row.message.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(contents().at("frame-0001.png"), "new");
        } else {
            EXPECT_EQ(error.rfind(out + row.message, 0), 0u) << error;
            EXPECT_EQ(contents(), before);
        }
    }
}

TEST_F(OutputFolderTest, AFolderItMadeGoesWithAFailedRun)
{
    {
        OutputFolder folder;
        ASSERT_EQ(folder.open(out + "/deeper", Overwrite::OwnOutput), "");
        EXPECT_TRUE(fs::is_directory(folder.workingDirectory()));
    }
    EXPECT_FALSE(fs::exists(out));
    // A second run into a folder in use is refused.
    OutputFolder first;
    ASSERT_EQ(first.open(out, Overwrite::OwnOutput), "");
    OutputFolder second;
    EXPECT_EQ(second.open(out, Overwrite::OwnOutput), out + ": another kelvo-render is writing into it");
}

} // namespace
} // namespace Qor::Tools
