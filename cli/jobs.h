#pragma once

// The work of a run of velmora-convert: where each input is written, the checks before
// anything is written, and the conversions, several at once.

#include "options.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::cli {

// Where each input is written ("-" for standard output).
std::vector<std::string> OutputsOf(const Options& options);

// Refuses, before anything is converted, a run in which one file would be written twice
// or an input would be written over: files are told apart by what they are on disk
// (links and other names of one file are one file), not by how they are spelled.
std::optional<int> CheckOutputs(const Options& options, const std::vector<std::string>& outputs);

// Converts every input on up to options.jobs threads, after saying which wildcards matched
// nothing; the run's exit status.
int Run(const Options& options, const std::vector<std::string>& outputs);

} // namespace velmora::cli
