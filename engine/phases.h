#pragma once

// The phases of a conversion one at a time, on text in memory, and the writing of a whole
// text to a file: the engine's own tests and benchmarks call them; the front ends go
// through velmora/convert.h, which streams the same phases. None of them throws.

#include "velmora/convert.h"
#include "velmora/failure.h"
#include "velmora/progress.h"

#include <string>
#include <string_view>

namespace velmora {

struct PreparedSource {
    SourceOutcome outcome = SourceOutcome::Empty;
    std::string text; // the normalised text; meaningful for Accepted only
};

// Reads the whole file at `path` as bytes, one character per byte, nothing
// translated (a NUL is a character like any other), to wherever reading ends, whatever
// size the file reports. Fails with the path and the system's reason for a missing or
// unreadable file, a directory, or too little memory.
Result<std::string> ReadSourceFile(const std::string& path);

// Reads an already open descriptor (a pipe, standard input) to its end, failing with
// "not enough memory" once it outgrows what the system can give. `name` is what a
// failure calls it.
Result<std::string> ReadSourceStream(int fd, const std::string& name);

// Normalises `text` (line breaks to spaces, doubled spaces halved) and classifies it.
// Never fails: works in place on the text it is given.
PreparedSource PrepareSourceText(std::string text);

// ReadSourceFile, then PrepareSourceText. Fails only as ReadSourceFile does.
Result<PreparedSource> PrepareSource(const std::string& path);

// Keeps the inside of the first definition list of a normalised text and rewrites its
// tags: terms, definitions and paragraphs become an LF followed by "+" indent markers,
// list tags deepen or flatten the indentation, every other tag is removed. Reports
// SetMax once and SetValue once per tag to `sink`. The result holds no "<".
// Fails only when memory runs out (the failure names no path).
Result<std::string> RewriteDefinitionLists(std::string_view text, ProgressSink& sink);

// Turns the rewritten text into the output text: one line per LF-separated piece that
// holds text, indent markers as spaces, "&gt;" and "&lt;" removed, each line preceded
// by CR LF. Calls sink.SetValue(progressMax) once at the end.
// Fails only when memory runs out (the failure names no path).
Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax);

// Replaces the file at `path` with exactly `text`. The text goes to a new file in the
// output's folder first (unnamed where the system allows) and takes the output's place
// only once it is complete and flushed, so a failure leaves any earlier file as it was
// and no stray file behind. A link is followed and stays; the file it names is replaced,
// keeping its permission bits and, where the process may set them, its owner and group.
// A file the user may not write is refused. A device, FIFO, socket or /dev/fd name is
// written to directly, never replaced. A new file gets 0666 less the umask. Fails with
// the path and the reason.
Result<void> WriteOutputFile(const std::string& path, std::string_view text);

} // namespace velmora
