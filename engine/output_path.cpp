#include "output_path.h"

namespace velmora {

std::string ProposeOutputPath(std::string_view inputPath) {
    const std::size_t dot = inputPath.rfind('.');
    if (dot == std::string_view::npos) {
        return std::string(inputPath) + ".txt";
    }
    return std::string(inputPath.substr(0, dot + 1)) + "txt";
}

} // namespace velmora
