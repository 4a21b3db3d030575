#include "tools/OutputFolder.h"

#include "tools/Interruption.h"
#include "tools/Manifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Qor::Tools {

namespace fs = std::filesystem;

namespace {

constexpr char WorkingPrefix[] = ".kelvo-render-";

bool allDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int systemRename(const char* from, const char* to)
{
    return std::rename(from, to);
}

} // namespace

bool isPictureName(const std::string& name)
{
    std::string rest;
    if (name.rfind("frame-", 0) == 0)
        rest = name.substr(6);
    else if (name.rfind("preview-", 0) == 0)
        rest = name.substr(8);
    else
        return false;
    if (rest.size() < 5 || rest.compare(rest.size() - 4, 4, ".png") != 0)
        return false;
    rest.resize(rest.size() - 4);
    const size_t dash = rest.find('-');
    return dash == std::string::npos ? allDigits(rest)
                                     : allDigits(rest.substr(0, dash)) && allDigits(rest.substr(dash + 1));
}

std::string OutputFolder::open(const std::string& directory, Overwrite policy)
{
    discard();
    // The folders this run makes, outermost first, to be removed on failure.
    std::error_code error;
    for (fs::path missing = directory; !missing.empty() && !fs::exists(fs::symlink_status(missing, error));
         missing = missing.parent_path()) {
        made.insert(made.begin(), missing);
        if (missing == missing.parent_path())
            break;
    }
    fs::create_directories(directory, error);
    if (error) {
        made.clear();
        return directory + ": cannot make the directory: " + error.message();
    }
    if (!fs::is_directory(directory, error)) {
        made.clear();
        return directory + ": is not a directory";
    }
    target = directory;

    lock = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        if (reason == EWOULDBLOCK) {
            discard();
            return directory + ": another kelvo-render is writing into it";
        }
        // A file system without locks: no guard against a second run, and
        // no way to tell a dead run's working folder from a live one's.
        close(lock);
        lock = -1;
    }

    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(directory, error))
        found.push_back(entry.path().filename().string());
    if (error) {
        discard();
        return directory + ": cannot list the directory: " + error.message();
    }
    std::sort(found.begin(), found.end());

    // The earlier manifest says which pictures are this renderer's.
    ManifestClaims claims;
    std::string unlisted = "no " + std::string(ManifestName) + " lists it";
    std::string manifestProblem;
    if (std::find(found.begin(), found.end(), ManifestName) != found.end()) {
        manifestProblem = readManifestClaims(directory + "/" + ManifestName, claims);
        unlisted = manifestProblem.empty() ? std::string(ManifestName) + " does not list it"
                                           : std::string(ManifestName) + " is not kelvo-render's";
    }
    for (const std::string& name : found) {
        const std::string path = directory + "/" + name;
        // Only while the folder is locked is a working folder surely a dead
        // run's; only a folder of the very name mkdtemp gives is taken for one.
        if (lock >= 0 && name.rfind(WorkingPrefix, 0) == 0 && name.size() == sizeof WorkingPrefix - 1 + 6
            && fs::is_directory(fs::symlink_status(path, error))) {
            fs::remove_all(path, error);
            continue;
        }
        const bool manifest = name == ManifestName;
        if (!manifest && !isPictureName(name))
            continue;
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0)
            continue;
        std::string refusal;
        if (!S_ISREG(status.st_mode))
            refusal = path + ": is not a regular file; kelvo-render replaces only files";
        else if (policy == Overwrite::Nothing)
            refusal = path + ": exists, and -n (--no-overwrite) replaces nothing";
        else if (policy == Overwrite::OwnOutput && manifest && !manifestProblem.empty())
            refusal = manifestProblem + "; -y (--force) replaces it";
        else if (policy == Overwrite::OwnOutput && !manifest) {
            const auto claim = claims.find(name);
            if (claim == claims.end())
                refusal = path + ": not written by kelvo-render (" + unlisted + "); -y (--force) replaces it";
            else if (claim->second != uint64_t(status.st_size))
                refusal = path + ": changed since kelvo-render wrote it (" + std::to_string(status.st_size)
                    + " bytes, not " + std::to_string(claim->second) + "); -y (--force) replaces it";
        }
        if (!refusal.empty()) {
            discard();
            return refusal;
        }
        previous.push_back(name);
    }

    std::string path = directory + "/" + WorkingPrefix + "XXXXXX";
    if (!mkdtemp(path.data())) {
        const int reason = errno;
        discard();
        return directory + ": cannot make a working directory inside it: " + std::strerror(reason);
    }
    working = path;
    return "";
}

std::string OutputFolder::publish(Rename rename)
{
    if (!rename)
        rename = systemRename;
    const InterruptionsHeld held;
    const std::string aside = working + "/.previous";
    if (mkdir(aside.c_str(), 0700) != 0)
        return target + ": cannot make room for the earlier output: " + std::strerror(errno);
    // Each move, to be undone in reverse should a later one fail.
    std::vector<std::pair<std::string, std::string>> done;
    const auto undo = [&] {
        for (auto move = done.rbegin(); move != done.rend(); ++move)
            rename(move->second.c_str(), move->first.c_str());
        done.clear();
    };
    // Answers "" or the reason, naming the file in the folder, after undoing all.
    const auto move = [&](const std::string& from, const std::string& to, const std::string& named, const char* what) {
        if (rename(from.c_str(), to.c_str()) == 0) {
            done.emplace_back(from, to);
            return std::string();
        }
        const std::string reason
            = named + ": " + what + ": " + std::strerror(errno) + "; the folder is left as it was";
        undo();
        return reason;
    };
    for (const std::string& name : previous) {
        const std::string there = target + "/" + name;
        if (std::string error = move(there, aside + "/" + name, there, "cannot be moved aside"); !error.empty())
            return error;
    }
    for (const std::string& name : names) {
        const std::string there = target + "/" + name;
        if (std::string error = move(working + "/" + name, there, there, "cannot move into place"); !error.empty())
            return error;
    }
    names.clear();
    previous.clear();
    made.clear();
    discard();
    return "";
}

void OutputFolder::discard()
{
    std::error_code ignored;
    if (!working.empty())
        fs::remove_all(working, ignored);
    working.clear();
    names.clear();
    previous.clear();
    // The folders this run made go too, when nothing else came into them.
    for (auto at = made.rbegin(); at != made.rend(); ++at)
        fs::remove(*at, ignored);
    made.clear();
    if (lock >= 0)
        close(lock);
    lock = -1;
}

} // namespace Qor::Tools
