#pragma once

#include "velmora/failure.h"

#include <string>

namespace velmora {

enum class SourceOutcome {
    Empty,    // the input holds no bytes
    Refused,  // the input is a report of the generator we do not convert
    Accepted, // the text goes on to RewriteDefinitionLists
};

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

// The refusal message for reports of that generator, exactly as users know it.
inline constexpr const char* kRefusedMessage = "ZOAK Metadata Generated HTML Reports Not Supported";

} // namespace velmora
