// The renderer's picture writers: worker threads that turn each frame into
// its PNG and preview and write them into the run's working folder. Jobs
// wait in a short queue, so memory holds a few frames however long the
// stream is. The first failure stops every worker and is handed back to the
// thread that adds jobs, which stops at once too.
#ifndef KELVO_TOOLS_PICTUREWRITERS_H
#define KELVO_TOOLS_PICTUREWRITERS_H

#include "subdecode/Formats.h"
#include "tools/FramePictures.h"
#include "tools/Manifest.h"
#include "tools/PngImage.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Qor::Tools {

// How every picture of a run is made.
struct PictureSettings {
    const OutputOrder* order = nullptr; // the frames' byte order
    PngCompression compression{1, false};
    PictureSize picture;                // the stream's picture, 0 x 0 for none
    bool previews = true;
};

// One frame to turn into pictures.
struct PictureJob {
    Frame frame;
    PictureSize canvas;
    std::string frameName;   // empty for a frame of no pixels
    std::string previewName; // empty without previews
    std::string where;       // begins the message of a failure
    ManifestLine* line = nullptr; // receives the sizes written; must outlive the writers
    bool lastOfPacket = true;     // counted as a finished packet once written
};

class PictureWriters {
public:
    // Starts `count` threads writing into `directory`; the threads leave
    // interruptions to the thread that made them.
    PictureWriters(unsigned count, std::string directory, PictureSettings settings);
    ~PictureWriters() { finish(); }
    PictureWriters(const PictureWriters&) = delete;
    PictureWriters& operator=(const PictureWriters&) = delete;

    // Queues a job, waiting for room; false, dropping it, once a job has
    // failed or the tool is interrupted.
    bool add(PictureJob job);

    // Packets whose pictures are all written.
    size_t packetsWritten() const { return finishedPackets.load(); }

    // Waits for every job, calling `waiting` now and then meanwhile;
    // answers the first failure, or "".
    std::string finish(const std::function<void()>& waiting = {});

    // The first failure so far, or "".
    std::string failure();

private:
    void work();
    std::string make(PictureJob& job);

    const std::string directory;
    const PictureSettings settings;
    const size_t capacity;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable jobWaiting;
    std::condition_variable roomLeft;
    std::deque<PictureJob> queue;
    size_t busy = 0;     // jobs taken and not yet done, under the mutex
    bool closing = false;
    std::string error;   // the first failure, under the mutex
    std::atomic<bool> failed{false};
    std::atomic<size_t> finishedPackets{0};
};

} // namespace Qor::Tools

#endif
