#pragma once

// The command line of velmora-convert: its options, its usage text, and what a run
// ends with.

#include "velmora/failure.h"
#include "velmora/process.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

inline constexpr const char* kProgram = "velmora-convert";
// The name that stands for standard input or output.
inline constexpr const char* kStdio = "-";

enum ExitStatus { kConverted = 0, kFailed = 1, kUsage = 2, kRefused = 3, kEmpty = 4 };

struct Options {
    std::vector<std::string> inputs;
    std::optional<std::string> output;
    unsigned jobs = 0;
    // Wildcards that matched no file (Windows): each a failure of the run, and no input.
    std::vector<Failure> unmatched;
};

// Says what is wrong with the command line, and how to get help; returns kUsage.
int UsageError(const std::string& message);

// Parses the arguments (the program's name first) into `options`; returns an exit status
// when the program should stop at once (help, version, a usage error). Options are read
// wherever they stand, before "--", whatever POSIXLY_CORRECT says; short ones may be
// bundled ("-j2"). An input that is a pattern is replaced by the files it matches (their
// values never are); on Windows "/?" asks for help, as "--help" does.
std::optional<int> ParseArguments(const std::vector<Argument>& arguments, Options& options);

} // namespace velmora::cli
