#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Where an output is written when the user names none. The window and the command line
// follow rules of their own, side by side here.

// The output path the window proposes for a chosen input: everything up to and including
// the last "." of the whole path, then "txt"; the path plus ".txt" when it holds no dot.
// Folder separators are not looked at: "/data.old/report" gives "/data.txt".
std::string ProposeOutputPath(std::string_view inputPath);

// The output velmora-convert writes for `input` without -o: the input with the extension
// of its file name replaced by "txt". The extension starts at the last "." of the last
// path component, unless that dot starts the name (".config" is a name, not an
// extension); on Windows a component ends at "\\" and at a drive's ":" too.
std::string DefaultOutputPath(const std::string& input);

// Whether velmora-convert can write an input's output beside it: true for a regular file,
// false for a stream, a device or a descriptor's name ("/dev/stdin", "/proc/self/fd/0",
// a FIFO), whose text then goes to standard output. A path that cannot be looked at
// counts as a file: reading it will say why.
bool HasOutputBeside(const std::string& input);

// The bytes after which the last name in a path starts: "/", and on Windows "\\" and ":".
std::string_view PathSeparators();

// True when the two paths name one file: the same file on disk (links followed), or,
// for a file that does not exist yet, the same place once links in its folders are
// resolved. Two empty paths, or any path that cannot be looked at, are not the same.
bool SameFile(const std::string& first, const std::string& second);

// A text that two paths share exactly when SameFile says they name one file: the file's
// identity where it exists, else where it would be made. Empty for a path that cannot be
// looked at.
std::string FileKey(const std::string& path);

// The same text for the file an open C library descriptor is on (standard input or
// output), so that "-" and "/dev/stdin" are one input. With `regularOnly`, empty unless it
// is a regular file: only a file can be written into while it is read, whereas a
// terminal or a socket is rightly both read and written. Empty where it cannot be told.
std::string StreamKey(int descriptor, bool regularOnly = false);

} // namespace velmora
