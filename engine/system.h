#pragma once

// The engine's one door to the operating system: files, temporary files, memory limits,
// signals and the start of a process. Everything that differs between systems is behind
// it; the conversion itself calls nothing else. What both systems do alike is written
// once (system_common.cpp) over the primitives of each (platform.h).

#include "velmora/convert.h"
#include "velmora/failure.h"
#include "velmora/process.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::sys {

// An open file as the system holds it (a descriptor, a handle); only the platform's own
// file knows what is inside.
struct NativeFile;
struct CloseNativeFile {
    void operator()(NativeFile* file) const;
};
using FileHandle = std::unique_ptr<NativeFile, CloseNativeFile>;

// What changes when a file does: which file it is, its size, and when it was last
// modified and last changed (its times, as the system keeps them).
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
    std::uint64_t changed = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// A file opened for reading, from its start, as many times as a conversion needs.
class InputFile {
public:
    // Opens `path`; a folder, or a file that cannot be opened, fails with the path and
    // the system's reason.
    static Result<InputFile> Open(const std::string& path);
    // A stream (a pipe, standard input), named by its C library descriptor, copied whole
    // into a temporary file that goes when closed, so that it can be read more than once
    // without being held in memory.
    static Result<InputFile> CopyOf(int descriptor, const std::string& name);
    // The same for what a caller's function reads.
    static Result<InputFile> CopyOf(const ReadFunction& read, const std::string& name);
    // For a conversion that reads its input once: a file opened as Open does, but a pipe
    // or a device, and the stream of a descriptor, read as they come, with no copy; such
    // an input is not Repeatable.
    static Result<InputFile> OpenOnce(const std::string& path);
    static Result<InputFile> StreamOnce(int descriptor, const std::string& name);
    // An empty temporary file, gone when closed, to Append a copy of such an input to as
    // it is read, and read that copy from its start.
    static Result<InputFile> Scratch(const std::string& name);
    bool Repeatable() const { return !m_once; }
    Result<void> Append(std::string_view bytes);

    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    ~InputFile();

    // Up to `size` bytes into `buffer`: how many were read, 0 at the end.
    Result<std::size_t> Read(char* buffer, std::size_t size);
    // Back to the first byte.
    Result<void> Rewind();
    // The open file's stamp, to tell whether it changed between two readings.
    Result<FileStamp> Stamp() const;
    const std::string& Name() const { return m_name; }

private:
    InputFile(FileHandle file, std::string name, bool once = false);
    FileHandle m_file;
    std::string m_name;
    bool m_once = false;
};

// Where a conversion's output goes: a new file that takes the place of the one at its
// path when committed (links followed, mode and owner kept, flushed), or a device, FIFO,
// socket or stream written directly. Dropped uncommitted, it leaves no trace and the
// earlier file as it was.
class OutputFile {
public:
    // Everything that can be known before writing is checked here: an empty path, a
    // folder, a file the user may not write, a folder that takes no new file.
    static Result<OutputFile> Create(const std::string& path);
    // An open C library descriptor (standard output), written as it is and never closed.
    static OutputFile Stream(int descriptor, std::string name);
    // A temporary file alone, whose text Commit hands to `write` in pieces; a piece it
    // refuses ends the handing with kStoppedMessage.
    static Result<OutputFile> Writer(const WriteFunction& write, std::string name);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) = delete;
    ~OutputFile();

    Result<void> Write(std::string_view bytes);
    // Keeps what is written from here on until Commit, so that it can still be cut back
    // or dropped: a new file keeps it already; a device, FIFO or stream gets a temporary
    // file in between, copied to it by Commit.
    Result<void> Hold();
    // Keeps the first `size` bytes written and writes on after them; only once held.
    Result<void> Cut(std::uint64_t size);
    Result<void> Commit();

private:
    struct State;
    explicit OutputFile(State* state) : m_state(state) {}
    State* m_state;
};

// See SystemErrorText in velmora/failure.h.
std::string SystemWords(int error);

// What the machine, and the limits the process runs under, can still give, in bytes.
std::size_t AvailableMemory();

// See InstallInterruptCleanup in velmora/process.h.
void InstallInterruptCleanup();
// See velmora/process.h; ConversionSettled counts one conversion finished, whichever way.
void ExpectConversions(std::size_t count);
void ConversionSettled();

// See velmora/process.h.
bool StartProcess(bool commandLine, int argc, char** argv, std::vector<Argument>& arguments);
Terminal ErrorTerminal();
// 0 or the errno value of the failure.
int WriteToStandardStream(int descriptor, std::string_view bytes);
bool DesktopAlwaysThere();
bool StartedWithout(int descriptor);
void EndForClosedPipe();

// Whether the path names a regular file by a name of its own: not a stream, a device or
// a descriptor's name such as /dev/stdin, which have no folder to write an output beside.
// A path that cannot be looked at counts as a file: reading it will say why.
bool NamesARegularFile(const std::string& path);

// The bytes after which the last name in a path starts.
extern const std::string_view kPathSeparators;

// The identity of the file at `path` where it exists, else where it would be made; ""
// when the path cannot be looked at.
std::string FileKey(const std::string& path);
// See velmora/output_path.h.
std::string StreamKey(int descriptor, bool regularOnly);

} // namespace velmora::sys
