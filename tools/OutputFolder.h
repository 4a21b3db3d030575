// The folder a render writes into, and the care it takes of it. The run's
// files are made in a hidden working folder inside it and published only
// when the whole stream has been rendered, all or nothing. The renderer
// replaces only what it can show it wrote: the pictures its own manifest
// in the folder lists, at the sizes it wrote them, and that manifest. Any
// other file of those names stops the run before anything is made, unless
// the user allows it (Overwrite::Anything); files of other names are never
// touched. While a run works, the folder is locked against other runs;
// working folders left by runs that died are removed by the next one.
#ifndef KELVO_TOOLS_OUTPUTFOLDER_H
#define KELVO_TOOLS_OUTPUTFOLDER_H

#include <filesystem>
#include <string>
#include <vector>

namespace Qor::Tools {

// True for the names a render gives its pictures: frame-N.png,
// frame-N-R.png, preview-N.png and preview-N-R.png, N and R in digits.
bool isPictureName(const std::string& name);

// What may be replaced of an earlier output found in the folder.
enum class Overwrite {
    OwnOutput, // the pictures and the manifest the manifest shows this renderer wrote
    Anything,  // every picture name and manifest, whoever wrote them (-y)
    Nothing,   // none: any of them there stops the run (-n)
};

class OutputFolder {
public:
    using Rename = int (*)(const char* from, const char* to);

    OutputFolder() = default;
    ~OutputFolder() { discard(); }
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Makes `directory` when missing, locks it, removes the working folders
    // of runs that died, checks every picture name and manifest in it
    // against `policy` and makes this run's working folder. Answers "", or a
    // one-line reason naming the folder or the first file in the way,
    // having changed nothing (a folder it made is removed again).
    std::string open(const std::string& directory, Overwrite policy);

    // Where the run writes its files before they are published.
    const std::string& workingDirectory() const { return working; }

    // Names a file of the working folder to publish; the manifest last.
    void expect(const std::string& name) { names.push_back(name); }

    // Moves the earlier output aside, the expected files into the folder,
    // and removes the earlier output and the working folder. Interruptions
    // wait meanwhile. Should a step fail, every step before it is undone,
    // so that the folder holds the earlier output exactly as before; the
    // answer is then the one-line reason. `rename` is the system's, or a
    // stand-in that tests make fail.
    std::string publish(Rename rename = nullptr);

    // Removes the working folder, and the folders open() made when nothing
    // else came into them.
    void discard();

private:
    std::string target;
    std::string working;
    std::vector<std::string> names;
    std::vector<std::string> previous; // earlier output to replace, by name
    std::vector<std::filesystem::path> made;
    int lock = -1;
};

} // namespace Qor::Tools

#endif
