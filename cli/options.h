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
    // For each input, its path below the folder it was found in by -r; empty for an input
    // named on the command line.
    std::vector<std::string> below;
    std::optional<std::string> output;
    // -O: the folder every output is written under.
    std::optional<std::string> outputFolder;
    bool recursive = false;
    unsigned jobs = 0;
    // What failed before any conversion, each a failure of the run and no input: wildcards
    // that matched no file (Windows), folders that could not be read or came without -r.
    std::vector<Failure> failures;
    // The folders walked with -r, and the entries in them that were not documents.
    std::vector<std::string> walked;
    std::size_t passedOver = 0;
};

// Says what is wrong with the command line, and how to get help; returns kUsage.
int UsageError(const std::string& message);

// Parses the arguments (the program's name first) into `options`; returns an exit status
// when the program should stop at once (help, version, a usage error). Options are read
// wherever they stand, before "--", whatever POSIXLY_CORRECT says; short ones may be
// bundled ("-j2"). An input that is a pattern is replaced by the files it matches (their
// values never are); on Windows "/?" asks for help, as "--help" does. With -r a folder
// is replaced by the documents in it and below it.
std::optional<int> ParseArguments(const std::vector<Argument>& arguments, Options& options);

} // namespace velmora::cli
