#include "velmora/output_path.h"

#include "system.h"

namespace velmora {

std::string ProposeOutputPath(std::string_view inputPath) {
    const std::size_t dot = inputPath.rfind('.');
    if (dot == std::string_view::npos) {
        return std::string(inputPath) + ".txt";
    }
    return std::string(inputPath.substr(0, dot + 1)) + "txt";
}

std::string FileKey(const std::string& path) {
    return sys::FileKey(path);
}

bool SameFile(const std::string& first, const std::string& second) {
    const std::string key = FileKey(first);
    return !key.empty() && key == FileKey(second);
}

} // namespace velmora
