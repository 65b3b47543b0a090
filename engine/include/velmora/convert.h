#pragma once

#include "velmora/failure.h"
#include "velmora/progress.h"

#include <memory>
#include <string>
#include <string_view>

namespace velmora {

enum class SourceOutcome {
    Empty,    // the input holds no bytes
    Refused,  // the input is a report of the generator we do not convert
    Accepted, // the text is converted
};

// What is said of a report of that generator in place of converting it.
inline constexpr const char* kRefusedMessage = "ZOAK Metadata Generated HTML Reports Not Supported";

// Where a conversion reads from: a file, or an open stream such as standard input
// (copied to a temporary file first, since it is read more than once). `name` is what
// messages call it.
struct Source {
    std::string name;
    int fd = -1;
    static Source File(std::string path) { return {std::move(path), -1}; }
    static Source Stream(int fd, std::string name) { return {std::move(name), fd}; }
};

// Where it writes to: a file, replaced only once the whole new text is written (see
// WriteOutputFile), or an open stream such as standard output.
struct Destination {
    std::string name;
    int fd = -1;
    static Destination File(std::string path) { return {std::move(path), -1}; }
    static Destination Stream(int fd, std::string name) { return {std::move(name), fd}; }
};

// One conversion in its two passes. Prepare reads the input through once without
// writing anything: whether it is empty or refused, its line break and where its first
// definition list lies. Write then streams it through the phases to the destination,
// with memory bounded by a fixed amount and the longest line, whatever the input's size.
class Conversion {
public:
    // Fails with the input's name and the reason when it cannot be read.
    static Result<Conversion> Prepare(const Source& source);

    Conversion(Conversion&&) noexcept;
    Conversion& operator=(Conversion&&) noexcept;
    ~Conversion();

    SourceOutcome Outcome() const;
    // For an Accepted input only: SetMax once, SetValue per tag and at the end, and the
    // output text written. Fails with the file concerned and the reason.
    Result<void> Write(const Destination& destination, ProgressSink& progress);

private:
    struct State;
    explicit Conversion(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// Both passes: Prepare, then Write for an Accepted input. An Empty or Refused input
// writes nothing.
Result<SourceOutcome> Convert(const Source& source, const Destination& destination,
                              ProgressSink& progress);

// The same, file to file.
Result<SourceOutcome> ConvertFile(const std::string& inputPath, const std::string& outputPath,
                                  ProgressSink& sink);

// The same on text in memory: returns the outcome and, for Accepted, the output text in
// `output`. Fails only when memory runs out.
Result<SourceOutcome> ConvertText(std::string_view input, std::string& output, ProgressSink& sink);

} // namespace velmora
