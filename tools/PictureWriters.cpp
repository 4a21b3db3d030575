#include "tools/PictureWriters.h"

#include "tools/AtomicFile.h"
#include "tools/Interruption.h"

#include <chrono>

namespace Qor::Tools {

namespace {

// How often a waiting thread looks for an interruption.
constexpr auto Glance = std::chrono::milliseconds(50);

} // namespace

PictureWriters::PictureWriters(unsigned count, std::string directory, PictureSettings settings)
    : directory(std::move(directory))
    , settings(settings)
    , capacity(count)
{
    for (unsigned i = 0; i < count; ++i)
        threads.emplace_back([this] {
            leaveInterruptionsToMainThread();
            work();
        });
}

bool PictureWriters::add(PictureJob job)
{
    std::unique_lock<std::mutex> lock(mutex);
    while (queue.size() >= capacity && error.empty() && !interrupted())
        roomLeft.wait_for(lock, Glance);
    if (!error.empty() || interrupted())
        return false;
    queue.push_back(std::move(job));
    jobWaiting.notify_one();
    return true;
}

std::string PictureWriters::failure()
{
    std::lock_guard<std::mutex> lock(mutex);
    return error;
}

std::string PictureWriters::finish(const std::function<void()>& waiting)
{
    {
        std::unique_lock<std::mutex> lock(mutex);
        closing = true;
        jobWaiting.notify_all();
        while (!queue.empty() || busy > 0) {
            roomLeft.wait_for(lock, Glance);
            if (waiting) {
                lock.unlock();
                waiting();
                lock.lock();
            }
        }
    }
    for (std::thread& thread : threads)
        thread.join();
    threads.clear();
    std::lock_guard<std::mutex> lock(mutex);
    return error;
}

void PictureWriters::work()
{
    for (;;) {
        PictureJob job;
        {
            std::unique_lock<std::mutex> lock(mutex);
            jobWaiting.wait(lock, [this] { return !queue.empty() || closing; });
            if (queue.empty())
                return;
            job = std::move(queue.front());
            queue.pop_front();
            ++busy;
        }
        std::string failure;
        if (!failed && !interrupted())
            failure = make(job);
        std::lock_guard<std::mutex> lock(mutex);
        --busy;
        if (!failure.empty() && error.empty()) {
            error = job.where + failure;
            failed = true;
        }
        if (failure.empty() && job.lastOfPacket)
            ++finishedPackets;
        roomLeft.notify_all();
    }
}

std::string PictureWriters::make(PictureJob& job)
{
    PngImage image;
    if (settings.order == findOutputOrder("RGBA") && job.frame.width > 0 && job.frame.height > 0) {
        // Already in the order a PNG keeps: the pixels move over as they are.
        image.width = uint32_t(job.frame.width);
        image.height = uint32_t(job.frame.height);
        image.rgba = std::move(job.frame.pixels);
    } else {
        image = frameAsRgba(job.frame, *settings.order);
    }
    std::vector<uint8_t> bytes;
    if (!job.frameName.empty()) {
        std::string failure = encodePng(image, bytes, settings.compression);
        if (failure.empty())
            failure = writeFileAtomically(directory + "/" + job.frameName, bytes);
        if (!failure.empty())
            return failure;
        if (job.line)
            job.line->frameBytes = bytes.size();
    }
    if (job.previewName.empty())
        return "";
    std::string failure
        = encodePng(composePreview(image, job.frame, job.canvas, settings.picture), bytes, settings.compression);
    if (failure.empty())
        failure = writeFileAtomically(directory + "/" + job.previewName, bytes);
    if (failure.empty() && job.line)
        job.line->previewBytes = bytes.size();
    return failure;
}

} // namespace Qor::Tools
