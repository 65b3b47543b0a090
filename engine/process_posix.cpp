// What a process has on Linux and other POSIX systems, under the system core: the memory
// it may take (the machine's and its control group's), its start, and the signals that
// end it with its temporary files removed.

#include "platform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <malloc.h>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace velmora::sys {

// ---- Memory -------------------------------------------------------------------------

namespace {

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// The first number in a small file (a cgroup's limit or usage); kUnlimited when the file
// is missing or says "max".
std::size_t ReadNumber(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return kUnlimited;
    }
    unsigned long long value = 0;
    const bool read = std::fscanf(file, "%llu", &value) == 1;
    std::fclose(file);
    return read ? static_cast<std::size_t>(value) : kUnlimited;
}

// The value of `key` in a "key value" file (/proc/meminfo, a cgroup's memory.stat), in
// the file's own unit; 0 when the key is missing.
std::size_t ReadKey(const std::string& path, const char* key, bool* found = nullptr) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (found != nullptr) {
        *found = false;
    }
    if (file == nullptr) {
        return 0;
    }
    char line[256];
    const std::size_t keyLength = std::strlen(key);
    unsigned long long value = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ' ' &&
            std::sscanf(line + keyLength, "%llu", &value) == 1) {
            if (found != nullptr) {
                *found = true;
            }
            break;
        }
    }
    std::fclose(file);
    return static_cast<std::size_t>(value);
}

} // namespace

std::size_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return kUnlimited;
    }
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
}

std::size_t MachineMemory() {
    bool found = false;
    const std::size_t kilobytes = ReadKey("/proc/meminfo", "MemAvailable:", &found);
    if (found) {
        return kilobytes * 1024;
    }
    return PhysicalMemory();
}

namespace {

// Room left under one cgroup folder's limit, its droppable page cache counted as room.
std::size_t GroupRoom(const std::string& folder, bool v2) {
    const std::size_t limit = ReadNumber(folder + (v2 ? "/memory.max" : "/memory.limit_in_bytes"));
    if (limit == kUnlimited || limit >= (kUnlimited >> 2)) { // v1 writes "no limit" as ~2^63
        return kUnlimited;
    }
    const std::size_t usage =
        ReadNumber(folder + (v2 ? "/memory.current" : "/memory.usage_in_bytes"));
    if (usage == kUnlimited) {
        return kUnlimited;
    }
    const std::size_t cache =
        ReadKey(folder + "/memory.stat", v2 ? "inactive_file" : "total_inactive_file");
    return limit > usage ? limit - usage + std::min(cache, usage) : 0;
}

// The tightest room of the process's memory cgroup and every group above it. Inside a
// container the group's own folder may be mounted as the root, so a path that does not
// exist is tried shorter until one does.
std::size_t GroupMemory() {
    std::FILE* file = std::fopen("/proc/self/cgroup", "re");
    if (file == nullptr) {
        return kUnlimited;
    }
    std::string v1Path;
    std::string v2Path;
    char line[4096];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string entry(line);
        if (!entry.empty() && entry.back() == '\n') {
            entry.pop_back();
        }
        const std::size_t first = entry.find(':');
        const std::size_t second = entry.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        std::string controllers(1, ',');
        controllers.append(entry, first + 1, second - first - 1).push_back(',');
        if (entry.compare(0, first, "0") == 0 && second == first + 1) {
            v2Path = entry.substr(second + 1);
        } else if (controllers.find(",memory,") != std::string::npos) {
            v1Path = entry.substr(second + 1);
        }
    }
    std::fclose(file);

    const bool v2 = v1Path.empty();
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
    std::string path = v2 ? v2Path : v1Path;
    if (path.empty()) {
        return kUnlimited;
    }
    std::size_t room = kUnlimited;
    for (;;) {
        const std::string folder = root + (path == "/" ? "" : path);
        if (access(folder.c_str(), F_OK) == 0) {
            room = std::min(room, GroupRoom(folder, v2));
        }
        if (path == "/" || path.empty()) {
            return room;
        }
        const std::size_t slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

// Room left under the address-space limit (ulimit -v), where one is set: every mapping
// counts there, the stacks of threads included, whatever is really used.
std::size_t AddressSpaceRoom() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kUnlimited;
    }
    std::FILE* file = std::fopen("/proc/self/statm", "re");
    if (file == nullptr) {
        return kUnlimited;
    }
    unsigned long long pages = 0;
    const bool read = std::fscanf(file, "%llu", &pages) == 1;
    std::fclose(file);
    if (!read) {
        return kUnlimited;
    }
    const std::size_t used =
        static_cast<std::size_t>(pages) * static_cast<std::size_t>(getpagesize());
    return limit.rlim_cur > used ? static_cast<std::size_t>(limit.rlim_cur) - used : 0;
}

} // namespace

std::size_t LimitedMemory() {
    return std::min(GroupMemory(), AddressSpaceRoom());
}

// ---- Start-up, signals ----------------------------------------------------------------

namespace {

// Removes the named temporaries and ends the process as `signal` would have without us.
void EndNow(int signal) {
    RemovePendingTemporaries();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, signal);
    pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr); // blocked while its handler runs
    raise(signal);
}

// A program that has finished every conversion it was asked for ends as it would have
// anyway, with its status: the signal came too late to stop anything.
void EndUnlessSettled(int signal) {
    if (!AllSettled()) {
        EndNow(signal);
    }
}

// Holds in progress, and a signal that arrived during one. Whoever sees the last hold
// gone claims the signal with an exchange, so that it is acted on exactly once: by the
// handler, or by the thread that lets go of the last hold.
std::atomic<int> g_holds{0};
std::atomic<int> g_heldSignal{0};
// What a signal let go does: set with the handlers, so that a process that never installs
// them (a program using the library) holds no way of being ended here.
std::atomic<void (*)(int)> g_ending{nullptr};

void EndHeld() {
    if (const int held = g_heldSignal.exchange(0)) {
        if (void (*const end)(int) = g_ending.load()) {
            end(held);
        }
    }
}

extern "C" void EndBySignal(int signal) {
    g_heldSignal.store(signal);
    if (g_holds.load() == 0) {
        EndHeld();
    }
}

} // namespace

EndingHeldOff::EndingHeldOff() {
    ++g_holds;
}

EndingHeldOff::~EndingHeldOff() {
    if (--g_holds == 0) {
        EndHeld();
    }
}

namespace {
std::array<bool, 3> g_startedWithout{};
bool g_pipeIgnored = false;
} // namespace

bool StartProcess(bool commandLine, int argc, char** argv, std::vector<Argument>& arguments) {
    if (commandLine) {
        for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
            if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
                g_startedWithout[static_cast<std::size_t>(fd)] = true;
                if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) {
                    return false;
                }
            }
        }
        // Started with SIGPIPE ignored, the program is to see a closed pipe as a failed
        // write, as the filters of coreutils then do.
        struct sigaction inherited {};
        g_pipeIgnored =
            sigaction(SIGPIPE, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN;
        std::signal(SIGPIPE, SIG_IGN);
    }
    std::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
    // Under an address-space limit, the C library's arenas, 64 MB reserved for each of
    // up to eight threads a core, would take the room the conversions need; two serve.
    if (AddressSpaceRoom() != kUnlimited) {
        mallopt(M_ARENA_MAX, 2);
    }
#endif
    InstallInterruptCleanup();
    // The shell has expanded every wildcard it was meant to.
    for (int i = 0; i < argc; ++i) {
        arguments.push_back({argv[i], false});
    }
    return true;
}

Terminal ErrorTerminal() {
    if (!isatty(STDERR_FILENO)) {
        return Terminal::None;
    }
    // A dumb terminal (an editor's shell buffer, a serial line) prints an escape's bytes.
    const char* term = std::getenv("TERM");
    return term != nullptr && std::strcmp(term, "dumb") == 0 ? Terminal::Plain : Terminal::Escapes;
}

long WriteStandardStream(int descriptor, const char* bytes, std::size_t size) {
    return write(descriptor, bytes, size);
}

bool DesktopAlwaysThere() {
    return false;
}

bool StartedWithout(int descriptor) {
    return descriptor >= 0 && descriptor <= 2 &&
           g_startedWithout[static_cast<std::size_t>(descriptor)];
}

void EndForClosedPipe() {
    if (!g_pipeIgnored) {
        EndNow(SIGPIPE);
    }
}

void InstallInterruptCleanup() {
    g_ending.store(EndUnlessSettled);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        sigaction(signal, nullptr, &current);
        if (current.sa_handler == SIG_IGN) {
            continue; // started under nohup or the like: stay deaf to it
        }
        // Not reset once delivered: a signal that comes once every conversion is finished
        // is let go, and so is the next.
        struct sigaction action {};
        action.sa_handler = EndBySignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

} // namespace velmora::sys
