#include "tools/Manifest.h"

#include "tools/InputFile.h"
#include "tools/JsonLines.h"

namespace Qor::Tools {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

ordered_json nameOrNull(const std::string& name)
{
    return name.empty() ? ordered_json(nullptr) : ordered_json(name);
}

ordered_json sizeOrNull(const std::string& name, uint64_t bytes)
{
    return name.empty() ? ordered_json(nullptr) : ordered_json(bytes);
}

} // namespace

std::string manifestText(const ManifestLine& line)
{
    ordered_json object;
    object["packet"] = line.packet;
    object["timing"] = {line.timing[0], line.timing[1]};
    object["width"] = line.width;
    object["height"] = line.height;
    object["canvas"] = {line.canvas[0], line.canvas[1]};
    object["left"] = line.left;
    object["top"] = line.top;
    object["right"] = line.right;
    object["bottom"] = line.bottom;
    object["order"] = line.order;
    object["frame"] = nameOrNull(line.frame);
    object["preview"] = nameOrNull(line.preview);
    object["bytes"] = {sizeOrNull(line.frame, line.frameBytes), sizeOrNull(line.preview, line.previewBytes)};
    return object.dump() + "\n";
}

std::string readManifestClaims(const std::string& path, ManifestClaims& claims)
{
    claims.clear();
    InputFile input;
    if (std::string error = input.open(path); !error.empty())
        return error;
    const std::string error = readJsonLines(input, [&](const json& object, const std::string& where) {
        const auto found = object.find("bytes");
        if (!object.is_object() || !object.contains("packet") || found == object.end() || !found->is_array()
            || found->size() != 2)
            return where + ": not a line kelvo-render writes (no \"packet\" and \"bytes\")";
        const char* const keys[] = {"frame", "preview"};
        for (size_t i = 0; i < 2; ++i) {
            const auto name = object.find(keys[i]);
            const json& size = (*found)[i];
            if (name == object.end() || name->is_null())
                continue;
            if (!name->is_string() || !size.is_number_unsigned())
                return where + ": not a line kelvo-render writes (\"" + keys[i] + "\" without its size)";
            claims[name->get<std::string>()] = size.get<uint64_t>();
        }
        return std::string();
    });
    if (!error.empty())
        claims.clear();
    return error;
}

} // namespace Qor::Tools
