#include "output_path.h"

#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace velmora {

std::string ProposeOutputPath(std::string_view inputPath) {
    const std::size_t dot = inputPath.rfind('.');
    if (dot == std::string_view::npos) {
        return std::string(inputPath) + ".txt";
    }
    return std::string(inputPath.substr(0, dot + 1)) + "txt";
}

std::string FileKey(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
    std::error_code error;
    const std::filesystem::path place = std::filesystem::weakly_canonical(path, error);
    return error ? std::string() : "path " + place.string();
}

bool SameFile(const std::string& first, const std::string& second) {
    const std::string key = FileKey(first);
    return !key.empty() && key == FileKey(second);
}

} // namespace velmora
