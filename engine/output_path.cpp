#include "output_path.h"

#include <filesystem>
#include <system_error>

namespace velmora {

std::string ProposeOutputPath(std::string_view inputPath) {
    const std::size_t dot = inputPath.rfind('.');
    if (dot == std::string_view::npos) {
        return std::string(inputPath) + ".txt";
    }
    return std::string(inputPath.substr(0, dot + 1)) + "txt";
}

bool SameFile(const std::string& first, const std::string& second) {
    namespace fs = std::filesystem;
    if (first.empty() || second.empty()) {
        return false;
    }
    std::error_code error;
    if (fs::equivalent(first, second, error)) {
        return true;
    }
    // A file that does not exist yet: compare where it would be made.
    const fs::path a = fs::weakly_canonical(first, error);
    if (error) {
        return false;
    }
    const fs::path b = fs::weakly_canonical(second, error);
    return !error && a == b;
}

} // namespace velmora
