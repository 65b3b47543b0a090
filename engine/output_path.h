#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The output path proposed for a chosen input: everything up to and including the last
// "." of the whole path, then "txt"; the path plus ".txt" when it holds no dot. Folder
// separators are not looked at: "/data.old/report" gives "/data.txt".
std::string ProposeOutputPath(std::string_view inputPath);

} // namespace velmora
