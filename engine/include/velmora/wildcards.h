#pragma once

// Wildcards in the inputs of a command line, where the program expands them itself:
// Windows' shells (cmd.exe, PowerShell) hand a program its command line as typed, and
// `velmora-convert *.html` is expected to convert every match all the same. Windows'
// rules are followed on every system, so that they can be tried anywhere.

#include "velmora/failure.h"
#include "velmora/process.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Splits a command line (UTF-8; on Windows GetCommandLineW's) into its arguments by the
// rules CommandLineToArgvW follows: the program's name first, up to a space or, in
// quotes, to the next quote; then spaces and tabs between arguments, double quotes
// around any part of one, a backslash before a quote escaping it. Marks as a pattern an
// argument with a wildcard outside quotes and none inside.
std::vector<Argument> SplitCommandLine(std::string_view line);

// Whether `name` matches `pattern` (both UTF-8): '*' stands for any run of characters,
// '?' for one character (not one byte), anything else for itself, ASCII letters
// compared case-blind. ExpandWildcards folds the other letters by the system's own table
// first.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// The files `pattern` names, sorted by name: a wildcard may stand in any part of it
// ("data\*\*.htm"), '\' and '/' separate its parts, and a drive ("C:"), a share or a
// "\\?\" prefix is taken as it is. A part before the last matches folders, the last one
// files; hidden and system files are passed over, as dir and copy pass them over, and so
// are folders that cannot be read where others match. Each match keeps the pattern's
// spelling of the folders typed without wildcards. Fails with the pattern and "no file
// matches it", or with a folder that could not be read, when nothing matches. With
// `folders`, the last part matches folders as well as files (for -r).
Result<std::vector<std::string>> ExpandWildcards(const std::string& pattern, bool folders = false);

} // namespace velmora
