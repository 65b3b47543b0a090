#pragma once

#include "failure.h"
#include "progress.h"

#include <string>
#include <string_view>

namespace velmora {

// Turns the rewritten text into the output text: one line per LF-separated piece that
// holds text, indent markers as spaces, "&gt;" and "&lt;" removed, each line preceded
// by CR LF. Calls sink.SetValue(progressMax) once at the end. `spare`, a text the caller
// no longer needs, lends its memory to the output when it is large enough.
// Fails only when memory runs out (the failure names no path).
Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax, std::string spare = {});

// Replaces the file at `path` with exactly `text`. The text goes to a new file in the
// same folder first and is renamed over `path` only once it is complete and flushed, so
// a failure leaves any earlier file as it was and no stray file behind. The new file
// gets the permissions of any newly created file. Fails with the path and the reason.
Result<void> WriteOutputFile(const std::string& path, std::string_view text);

// Writes `text` whole to an open descriptor (standard output); `name` is what a
// failure calls it.
Result<void> WriteOutputStream(int fd, std::string_view text, const std::string& name);

} // namespace velmora
