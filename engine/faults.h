#pragma once

// Test builds can make any call the engine makes to the system fail, or come short, at
// its Nth time: the seam through which the fault sweeps drive every error path. Other
// builds compile it away.

#include <cstddef>

namespace velmora::sys {

enum class Call {
    Open,            // opening an input, a device or a folder
    CreateTemporary, // making the file the output is written to first, and its folders
    Read,
    Write,
    Flush, // fsync
    Place, // linking or renaming the new file into place
    Close,
    Stat, // looking at a file or a folder's names: stat, lstat, readlink, access, readdir
    Remove,
    MemoryQuery,
    ThreadStart,
    Seek,       // back to an input's first byte
    Owner,      // giving the new file the owner and mode of the one it replaces
    Attributes, // extended attributes and the file's flags (append-only, hidden)
};
inline constexpr int kCallKinds = 14;

// Fail the `nth` call of a kind (counted from 1 since arming) with `error`, once or from
// then on; an `error` of 0 makes a read or write come short instead, or, with `ends`, a
// read find nothing more, as at the end of a file that has shrunk.
struct Fault {
    Call call = Call::Open;
    unsigned long nth = 1;
    int error = 0;
    bool persistent = false;
    bool ends = false;
};

#ifdef VELMORA_FAULTS
// Arms `fault` alone; AddFault arms one more beside those armed (a few at most).
void ArmFault(const Fault& fault);
void AddFault(const Fault& fault);
void DisarmFaults();
// Calls of that kind made since the last arming.
unsigned long CallsMade(Call call);
// 0, or the error the call is to fail with; for a read or write, may lower `*size`.
int Inject(Call call, std::size_t* size = nullptr);
#else
inline int Inject(Call, std::size_t* = nullptr) {
    return 0;
}
#endif

// A call to the system made through the seam: `body` makes it and returns 0 or the errno
// value of its failure, and is not run when the seam fails the call first.
template <typename Body> int Guarded(Call call, Body body) {
    if (const int error = Inject(call)) {
        return error;
    }
    return body();
}

// The same for a read or a write, which the seam may also make come short.
template <typename Body> int Guarded(Call call, std::size_t& size, Body body) {
    if (const int error = Inject(call, &size)) {
        return error;
    }
    return body();
}

} // namespace velmora::sys
