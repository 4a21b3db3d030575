// The renderer's picture writers: a packet counts as written only once all
// its pictures are, the manifest lines get the sizes written, and the first
// failure stops the writers and is handed back.
#include "tools/PictureWriters.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

namespace Qor::Tools {
namespace {

namespace fs = std::filesystem;

PictureJob jobFor(const std::string& name, ManifestLine* line, bool lastOfPacket)
{
    PictureJob job;
    job.frame.width = 2;
    job.frame.height = 2;
    job.frame.pixels.assign(16, 0x80);
    job.canvas = PictureSize{8, 8};
    job.frameName = name;
    job.previewName = "preview-" + name;
    job.where = name + ": ";
    job.line = line;
    job.lastOfPacket = lastOfPacket;
    return job;
}

TEST(PictureWriters, CountAPacketWhenAllItsPicturesAreWritten)
{
    std::string pattern = (fs::temp_directory_path() / "kelvo-writers-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string directory = pattern;
    PictureSettings settings;
    settings.order = findOutputOrder("BGRA");
    ManifestLine lines[3];
    {
        PictureWriters writers(2, directory, settings);
        // Packet 1 made two frames, packet 2 one.
        ASSERT_TRUE(writers.add(jobFor("a.png", &lines[0], false)));
        ASSERT_TRUE(writers.add(jobFor("b.png", &lines[1], true)));
        ASSERT_TRUE(writers.add(jobFor("c.png", &lines[2], true)));
        EXPECT_EQ(writers.finish(), "");
        EXPECT_EQ(writers.packetsWritten(), 2u);
    }
    for (const ManifestLine& line : lines) {
        EXPECT_GT(line.frameBytes, 0u);
        EXPECT_GT(line.previewBytes, 0u);
    }
    EXPECT_EQ(lines[2].frameBytes, fs::file_size(directory + "/c.png"));
    EXPECT_EQ(lines[2].previewBytes, fs::file_size(directory + "/preview-c.png"));
    fs::remove_all(directory);

    // Into a folder that is not there: the first failure stops the rest.
    PictureWriters failing(1, directory + "/missing", settings);
    ASSERT_TRUE(failing.add(jobFor("a.png", nullptr, true)));
    const std::string error = failing.finish();
    EXPECT_EQ(error.rfind("a.png: " + directory + "/missing/a.png: cannot create a temporary file beside it: ", 0), 0u)
        << error;
    EXPECT_EQ(failing.packetsWritten(), 0u);
    EXPECT_FALSE(failing.add(jobFor("b.png", nullptr, true)));
}

} // namespace
} // namespace Qor::Tools
