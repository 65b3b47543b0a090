#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The output path proposed for a chosen input: everything up to and including the last
// "." of the whole path, then "txt"; the path plus ".txt" when it holds no dot. Folder
// separators are not looked at: "/data.old/report" gives "/data.txt".
std::string ProposeOutputPath(std::string_view inputPath);

// True when the two paths name one file: the same file on disk (links followed), or,
// for a file that does not exist yet, the same place once links in its folders are
// resolved. Two empty paths, or any path that cannot be looked at, are not the same.
bool SameFile(const std::string& first, const std::string& second);

// A text that two paths share exactly when SameFile says they name one file: the file's
// identity where it exists, else where it would be made. Empty for a path that cannot be
// looked at.
std::string FileKey(const std::string& path);

} // namespace velmora
