#pragma once

#include "velmora/failure.h"
#include "velmora/progress.h"

#include <string>
#include <string_view>

namespace velmora {

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

// Makes SIGINT, SIGTERM and SIGHUP remove any named temporary file of WriteOutputFile
// before they end the process as they would have. Call once at start; signals the
// process was started ignoring stay ignored.
void InstallInterruptCleanup();

// Writes `text` whole to an open descriptor (standard output); `name` is what a
// failure calls it.
Result<void> WriteOutputStream(int fd, std::string_view text, const std::string& name);

} // namespace velmora
