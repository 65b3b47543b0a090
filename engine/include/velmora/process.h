#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// What a program of the engine's shares with everything else in its process: the clean-up
// when it is interrupted, its threads, and one budget for the memory its conversions take.

namespace velmora {

enum class Program { CommandLine, Window };

// One argument of the command line, in UTF-8, and whether it is a pattern for the program
// itself to expand (ExpandWildcards): on Windows, whose shells hand a program its command
// line as typed, one with a '*' or '?' outside double quotes and none inside them; never
// elsewhere, where the shell has expanded what it would before the program started.
struct Argument {
    std::string text;
    bool pattern = false;
};

// What a program does first, the same call on every system. Every program: a write past
// the file-size limit fails with a message instead of ending the process (SIGXFSZ), and
// InstallInterruptCleanup. The command line also: descriptors 0 to 2 it was started
// without are opened on the null device, so that no file it opens takes their place and
// receives its messages; a pipe nobody reads any more makes a write fail instead of
// ending the process (SIGPIPE); and on Windows the standard streams are binary, so that
// nothing adds a CR to a line. Returns the arguments, the program's name first, in UTF-8
// (on Windows from the UTF-16 command line, whatever the code page), or nothing when the
// standard descriptors cannot be had.
std::optional<std::vector<Argument>> StartProcess(Program program, int argc, char** argv);

// What standard error shows on: a file or a pipe, where a count that rewrites its line has
// no place; a terminal that goes back only by "\r" (TERM=dumb, a Windows console that
// takes no escape sequences); or one that takes escape sequences (a Windows console once
// it is asked to).
enum class Terminal { None, Plain, Escapes };
Terminal ErrorTerminal();

// Writes `bytes` whole to standard error, taking no memory: a failure must be reportable
// when none can be had. Nothing is said when standard error takes nothing. Text for a
// Windows console goes through its wide characters, so that every name shows as it is
// whatever the console's code page; to a file or a pipe it stays UTF-8.
void WriteToStandardError(std::string_view bytes);

// Writes the text `bytes` (UTF-8) whole to standard output, a console's as standard
// error's is: 0, or the errno value of the failure.
int WriteToStandardOutput(std::string_view bytes);

// True where the system always has a desktop to show a window on (Windows); elsewhere
// the window needs a display named.
bool DesktopAlwaysThere();

// Whether the command line was started with the standard descriptor (0, 1 or 2) closed.
// StartProcess opens the null device in its place, so that no file takes it; reading or
// writing it is a failure all the same ("Bad file descriptor").
bool StartedWithout(int descriptor);

// Standard output is a pipe whose reader has gone: ends the process quietly, as a filter
// ends then (by SIGPIPE, after the clean-up an interruption makes), where the system has
// such a signal; returns where it has not, or where the program was started with the
// signal ignored, and the closed pipe is then a failure to write like any other.
void EndForClosedPipe();

// Makes SIGINT, SIGTERM and SIGHUP (a console's Ctrl+C and its closing on Windows) remove
// any temporary file of an output being written before they end the process as they
// would have. Call once at start; signals the process was started ignoring stay ignored.
void InstallInterruptCleanup();

// For a program that makes a known number of conversions and then ends (the command
// line): the interruptions above end it only while one of them is unfinished. A
// conversion whose output is committed (in place, or written whole to a stream or a
// device) counts itself finished in the same step, as one to an interruption; the
// program counts each of the others (failed, refused, empty) with
// ConversionEndedWithoutOutput once it has said so. An interruption once all are
// finished lets the program end with the status it has, so that an output in place is
// never reported as failed. A program that never calls this is ended by any.
void ExpectConversions(std::size_t count);
void ConversionEndedWithoutOutput();

// Memory a conversion may still take, in bytes: the smaller of what the machine can give
// (page cache it can drop included) and what the process's control group allows (cgroup
// v1 or v2, its ancestors' limits too). Read afresh at each call.
std::size_t AvailableMemory();

// One budget for the conversions that run at the same time in this process, so that
// together they never ask for more than AvailableMemory: each claims what it will need
// before it starts and gives it back when done.
class MemoryBudget {
public:
    // The process's one budget.
    static MemoryBudget& Shared();

    // Claims `bytes`, waiting while other claims stand in the way; false at once when
    // they would not fit even if every other claim were given back.
    bool Claim(std::size_t bytes);
    void Release(std::size_t bytes);

    // What is left beside the claims that stand now.
    std::size_t Room();

private:
    MemoryBudget() = default;
};

// A claim on the shared budget that gives itself back on every way out of a scope.
class MemoryClaim {
public:
    MemoryClaim() = default;
    MemoryClaim(const MemoryClaim&) = delete;
    MemoryClaim& operator=(const MemoryClaim&) = delete;
    ~MemoryClaim() { Drop(); }
    // Replaces any earlier claim of this object by one of `bytes`; false when it cannot fit.
    bool Take(std::size_t bytes);
    void Drop();

private:
    std::size_t m_bytes = 0;
};

// Starts `body` on a thread of its own; false where the system gives no more threads,
// or no memory for one.
bool StartThread(std::jthread& thread, std::function<void()> body);

// What a conversion claims for its working buffers: a few megabytes whatever the size of
// its input, less for a small one (`inputBytes`, where it is known). A line longer than
// those is checked as it grows against what the other conversions leave.
std::size_t ConversionMemory(std::optional<std::size_t> inputBytes = std::nullopt);

} // namespace velmora
