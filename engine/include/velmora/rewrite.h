#pragma once

#include "velmora/failure.h"
#include "velmora/progress.h"

#include <string>
#include <string_view>

namespace velmora {

// Keeps the inside of the first definition list of a normalised text and rewrites its
// tags: terms, definitions and paragraphs become an LF followed by "+" indent markers,
// list tags deepen or flatten the indentation, every other tag is removed. Reports
// SetMax once and SetValue once per tag to `sink`. The result holds no "<".
// Fails only when memory runs out (the failure names no path).
Result<std::string> RewriteDefinitionLists(std::string_view text, ProgressSink& sink);

} // namespace velmora
