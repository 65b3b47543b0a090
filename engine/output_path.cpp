#include "velmora/output_path.h"

#include "velmora/folders.h"

#include "platform.h"
#include "system.h"

#include <algorithm>

namespace velmora {

std::string ProposeOutputPath(std::string_view inputPath) {
    const std::size_t dot = inputPath.rfind('.');
    if (dot == std::string_view::npos) {
        return std::string(inputPath) + ".txt";
    }
    return std::string(inputPath.substr(0, dot + 1)) + "txt";
}

std::string DefaultOutputPath(const std::string& input) {
    const std::size_t slash = input.find_last_of(sys::kPathSeparators);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = input.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) {
        return input + ".txt";
    }
    return input.substr(0, dot + 1) + "txt";
}

bool HasOutputBeside(const std::string& input) {
    return sys::NamesARegularFile(input);
}

std::string_view PathSeparators() {
    return sys::kPathSeparators;
}

std::string FileKey(const std::string& path) {
    std::string key = sys::FileKey(path);
    // In folders not made yet: below the nearest one that is there, where they would be
    // made, so that two outputs bound for one new folder are still told apart.
    std::string below;
    for (std::string at = path; key.empty();) {
        std::string up = FolderPart(at);
        if (up.empty() || up == at) {
            return {};
        }
        const std::string_view name = std::string_view(at).substr(up.size());
        const std::size_t start =
            std::min(name.size(), name.find_first_not_of(sys::kPathSeparators));
        if (name.substr(start) == "." || name.substr(start) == "..") {
            return {}; // where it leads shows only once the folders are made
        }
        below.insert(0, sys::ComparableName(name.substr(start)));
        below.insert(below.begin(), '/');
        key = sys::FileKey(up);
        at = std::move(up);
    }
    return key + below;
}

std::string StreamKey(int descriptor, bool regularOnly) {
    return sys::StreamKey(descriptor, regularOnly);
}

bool SameFile(const std::string& first, const std::string& second) {
    const std::string key = FileKey(first);
    return !key.empty() && key == FileKey(second);
}

} // namespace velmora
