// What a process has on Windows, under the system core: the memory it may take (the
// machine's and its job object's) and what its start finds.

#include "platform.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <limits>

namespace velmora::sys {

namespace {

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

} // namespace

// ---- Memory -----------------------------------------------------------------------------

std::size_t PhysicalMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? static_cast<std::size_t>(status.ullTotalPhys)
                                         : kUnlimited;
}

std::size_t MachineMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return PhysicalMemory();
    }
    // Memory is committed against the page file as well as found in RAM: the smaller
    // of the two is what an allocation can still get.
    return static_cast<std::size_t>(std::min(status.ullAvailPhys, status.ullAvailPageFile));
}

// Room left under the limits of the job object the process runs in, if any.
std::size_t LimitedMemory() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits, nullptr)) {
        return kUnlimited; // in no job
    }
    const DWORD flags = limits.BasicLimitInformation.LimitFlags;
    std::size_t limit = kUnlimited;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) {
        limit = std::min(limit, limits.ProcessMemoryLimit);
    }
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) {
        limit = std::min(limit, limits.JobMemoryLimit);
    }
    if (limit == kUnlimited) {
        return kUnlimited;
    }
    PROCESS_MEMORY_COUNTERS_EX used{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&used), sizeof used)) {
        return 0;
    }
    return limit > used.PrivateUsage ? limit - used.PrivateUsage : 0;
}

// ---- Start-up ----------------------------------------------------------------------------

Terminal ErrorTerminal() {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode)) {
        return Terminal::None;
    }
    // Consoles before Windows 10's, and Wine's, refuse escape sequences and would show
    // them as they are.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                   SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)
               ? Terminal::Escapes
               : Terminal::Plain;
}

bool DesktopAlwaysThere() {
    return true;
}

// Windows starts a program without a standard handle as with one that takes nothing.
bool StartedWithout(int) {
    return false;
}

// A pipe whose reader has gone is a failed write, said as any other.
void EndForClosedPipe() {}

} // namespace velmora::sys
