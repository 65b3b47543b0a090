#pragma once

// The single steps behind the phase functions, for the engine's own tests. They work
// on bytes, one character per byte, and may throw std::bad_alloc; the phase functions
// of phases.h, which never throw, are made of them.

#include "phases.h"
#include "velmora/progress.h"

#include <string>
#include <string_view>

namespace velmora::detail {

// ConvertText reading its input `pieceSize` bytes at a time, and assembling on a second
// thread from a scope of `twoThreadsFrom` bytes on, for the tests of pieces cut anywhere;
// `once`, in the single reading of a caller that shows no progress (`sink` is then not
// called).
Result<SourceOutcome> ConvertTextInPieces(std::string_view input, std::string& output,
                                          ProgressSink& sink, std::size_t pieceSize,
                                          std::size_t twoThreadsFrom, bool once = false);

// CR LF when the text holds that pair anywhere, else LF, else CR, else "".
std::string_view DetectLineBreak(std::string_view text);

// Replaces each detected line break by a space, then halves runs of spaces in one
// pass that does not rescan (a run of n spaces becomes ceil(n/2)). Works in place.
std::string NormaliseSource(std::string text);

// True when "zoak metadata report generated" occurs, in any mix of letter case.
bool IsRefusedReport(std::string_view normalised);

// The part of `text` inside its first definition list: after the ">" that closes the
// first "<dl" and before the last "</dl>", both in any case; `text` whole when it
// holds no "<dl". A view into `text`.
std::string_view ScopeToFirstList(std::string_view text);

// Rewrites every tag of the scoped text, from the front, with the indent prefix
// starting at "++"; SetValue once per tag.
std::string RewriteTags(std::string_view scoped, ProgressSink& sink);

// True when a trimmed segment has at least two characters and does not end in "+".
bool IsContentLine(std::string_view trimmed);

// Markers (every "+") to spaces, then "&gt;" removed in one pass, then "&lt;"; the line
// is written at `out` (room for trimmed.size() + kCleanRoom bytes, kernels.h) and its
// length returned.
std::size_t CleanLine(char* out, std::string_view trimmed);

} // namespace velmora::detail
