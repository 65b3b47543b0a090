#pragma once

// What each platform file (system_posix.cpp, system_windows.cpp) gives the system core
// (system_common.cpp). Every primitive returns 0 or the errno value of its failure, and
// makes its calls through the fault seam (faults.h), so that the sweeps can fail each of
// them; EINTR is returned, not retried. Two things stay outside the seam: what a signal
// handler does (the seam takes a lock), and the writes to standard error that report a
// failure.

#include "system.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::sys {

inline Failure ReadFailure(const std::string& path, int error, std::string context = {}) {
    return Failure{Action::Read, path, std::move(context), error};
}

inline Failure WriteFailure(const std::string& path, int error, std::string context = {}) {
    return Failure{Action::Write, path, std::move(context), error};
}

// A failure to make or rename a file in the output's folder, said of the folder when the
// folder refuses it: the output itself may well be writable.
Failure FolderFailure(const std::string& path, const std::string& folder, const char* what,
                      int error);

// A name for a temporary file, to stand in a folder beside the output or the system's
// temporary folder: one that no other writer, in this process or another, picks at the
// same moment; making it exclusively catches the rest.
std::string TemporaryLeaf();
unsigned long ProcessId();

// The process that made a file named as TemporaryLeaf names them, or 0 for any other
// name: only that exact form is ever taken for a temporary left behind.
unsigned long MakerOfTemporary(std::string_view leaf);
// True the first time it is asked about a folder (by its identity) in this process, so
// that leftovers are looked for once per folder, not once per output written there.
bool FirstLookIn(const std::string& folderKey);

// ---- Files ------------------------------------------------------------------------------

// One read or write of up to `size` bytes; `done` says how many.
int ReadSome(NativeFile& file, char* buffer, std::size_t size, std::size_t& done);
int WriteSome(NativeFile& file, const char* bytes, std::size_t size, std::size_t& done);
int RewindFile(NativeFile& file);
// Cuts a file being written to its first `size` bytes, and writes on from there.
int CutFile(NativeFile& file, std::uint64_t size);
// Whether the file is the null device, which keeps nothing written to it.
bool KeepsNothing(NativeFile& file);
// Has the system begin writing bytes [from, to) of the file to its disk, without waiting,
// so that the flush at the end finds less left to write. Only a hint: a system that
// cannot does nothing, and nothing is reported.
void StartWriteBack(NativeFile& file, std::uint64_t from, std::uint64_t to);
int StampFile(NativeFile& file, FileStamp& stamp);
// Closes a file the process opened; a borrowed one is only let go of.
int CloseFile(FileHandle file);

// A C library descriptor's file, borrowed: never closed here.
FileHandle Borrowed(int descriptor);
// Opens an existing file for reading; `once` is set for what can be read only once (a
// pipe, a device), which is then copied.
int OpenInput(const std::string& path, FileHandle& file, bool& once);
// A new file for a stream's copy, in the system's temporary folder, gone once closed;
// `where` says which folder, and what chose it (TMPDIR), for a message.
int MakeScratchFile(FileHandle& file, std::string& where);

// One write of text to standard output or error (descriptor 1 or 2), outside the fault
// seam: to a console in its wide characters, else as the bytes are. The bytes taken, or
// -1 with errno set.
long WriteStandardStream(int descriptor, const char* bytes, std::size_t size);

// ---- Folders ----------------------------------------------------------------------------

struct FolderEntry {
    std::string name;
    bool folder = false; // a link counts as what it names
    bool hidden = false; // a hidden or system file on Windows, a leading dot elsewhere
    bool link = false;   // a symbolic link, or on Windows any reparse point (a junction)
    bool other = false;  // neither a file nor a folder: a FIFO, a device, a socket
};

// The entries of `folder` as the user wrote it ("" for the current one, "C:" for a drive's
// current one), "." and ".." left out.
int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);

// Whether `path` names a folder, links followed.
bool IsFolder(const std::string& path);

// Makes one folder, with the modes the umask leaves; 0 or the errno value (EEXIST where
// something is there already).
int MakeFolder(const std::string& folder);

// `name` in the form the file system compares names in: upper-cased by the system's own
// table where names are told apart case-blind (Windows), as it is elsewhere.
std::string ComparableName(std::string_view name);

// ---- The output -------------------------------------------------------------------------

// The new file beside the output and what it is to replace.
struct Replacement;
struct DropReplacement {
    void operator()(Replacement* replacement) const;
};
using ReplacementHandle = std::unique_ptr<Replacement, DropReplacement>;

// Checks `path` and opens where the text is to go: `direct` for what is written in place
// (a device, a FIFO, a socket), else a `replacement`.
Result<void> OpenOutput(const std::string& path, FileHandle& direct,
                        ReplacementHandle& replacement);
NativeFile& FileOf(Replacement& replacement);
// Flushes the new file and puts it in the output's place; `path` is the output as named.
Result<void> PutInPlace(Replacement& replacement, const std::string& path);

// ---- Signals ---------------------------------------------------------------------------

// Removes the named temporary files of outputs being written at this moment; safe to call
// from a signal handler (POSIX), since it takes no lock and touches no heap.
void RemovePendingTemporaries();

// Whether every conversion the program expects has finished (ExpectConversions); safe
// to call from a signal handler.
bool AllSettled();

// Holds off the interruptions that end the process while an output is committed and
// counted finished, so that to them the two are one step: one that arrives meanwhile
// takes effect when the last hold ends, and then ends the process only if a conversion
// is still unfinished.
class EndingHeldOff {
public:
    EndingHeldOff();
    EndingHeldOff(const EndingHeldOff&) = delete;
    EndingHeldOff& operator=(const EndingHeldOff&) = delete;
    ~EndingHeldOff();
};

// ---- Memory -----------------------------------------------------------------------------

// All the machine has: the best that is known when it does not say what is free.
std::size_t PhysicalMemory();
// What the machine can still give.
std::size_t MachineMemory();
// Room left under the limits the process runs in (a control group, a job object).
std::size_t LimitedMemory();

} // namespace velmora::sys
