#pragma once

#include "velmora/failure.h"
#include "velmora/progress.h"

#include <cstddef>
#include <functional>
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

// The reason a conversion fails with when its input changed between its two readings.
inline constexpr const char* kChangedMessage = "the file changed while it was being converted";
// The reason when the caller's progress or output asked it to stop.
inline constexpr const char* kStoppedMessage = "stopped before the end";

// Reads up to `size` bytes into `buffer` and says how many in `got`, 0 at the end:
// 0, or the errno value of the failure.
using ReadFunction = std::function<int(char* buffer, std::size_t size, std::size_t& got)>;
// Takes the next piece of output: false to stop the conversion.
using WriteFunction = std::function<bool(std::string_view piece)>;

// Where a conversion reads from: a file; an open stream such as standard input, or a
// caller's read function (either copied to a temporary file first, since it is read more
// than once); or text in memory, which must outlive the conversion. `name` is what
// messages call it.
struct Source {
    std::string name;
    int fd = -1;
    ReadFunction read;
    std::string_view text;
    bool inMemory = false;
    static Source File(std::string path) { return {std::move(path), -1, {}, {}, false}; }
    static Source Stream(int fd, std::string name) { return {std::move(name), fd, {}, {}, false}; }
    static Source Reader(ReadFunction read, std::string name) {
        return {std::move(name), -1, std::move(read), {}, false};
    }
    static Source Text(std::string_view text, std::string name) {
        return {std::move(name), -1, {}, text, true};
    }
};

// Where it writes to: a file, replaced only once the whole new text is written (see
// sys::OutputFile in engine/system.h); an open stream such as standard output; or a
// caller's write function, handed the text in pieces.
struct Destination {
    std::string name;
    int fd = -1;
    WriteFunction write;
    static Destination File(std::string path) { return {std::move(path), -1, {}}; }
    static Destination Stream(int fd, std::string name) { return {std::move(name), fd, {}}; }
    static Destination Writer(WriteFunction write, std::string name) {
        return {std::move(name), -1, std::move(write)};
    }
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

// The whole conversion. For a `progress` that is Shown, both passes: Prepare, then Write
// for an Accepted input. For one that is not, the input is read once, as it is converted:
// the text is held back until all of the input has been seen (a temporary file stands in
// for a stream or a caller's function), and taken back to its last definition list's end;
// a later line break of a kind that contradicts the first sends it to the two passes, from
// a temporary copy of what a stream gave. An Empty or Refused input writes nothing.
Result<SourceOutcome> Convert(const Source& source, const Destination& destination,
                              ProgressSink& progress);

// The same, file to file.
Result<SourceOutcome> ConvertFile(const std::string& inputPath, const std::string& outputPath,
                                  ProgressSink& sink);

// The same on text in memory: returns the outcome and, for Accepted, the output text in
// `output`. Fails only when memory runs out.
Result<SourceOutcome> ConvertText(std::string_view input, std::string& output, ProgressSink& sink);

} // namespace velmora
