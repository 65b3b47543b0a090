#pragma once

#include "failure.h"
#include "progress.h"
#include "source.h"

#include <string>

namespace velmora {

// The whole conversion, file to file: PrepareSource, RewriteDefinitionLists,
// AssembleIndentedText and WriteOutputFile in turn. An Empty or Refused input stops
// before anything is written. A failure names the file concerned.
Result<SourceOutcome> ConvertFile(const std::string& inputPath, const std::string& outputPath,
                                  ProgressSink& sink);

// The same on text already in memory: returns the outcome and, for Accepted, the
// output text in `output`. Fails only when memory runs out.
Result<SourceOutcome> ConvertText(std::string input, std::string& output, ProgressSink& sink);

} // namespace velmora
