#include "system.h"

#include "faults.h"
#include "out_of_memory.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace velmora::sys {

namespace {

// Every call the engine makes to the system, each under the name of its kind, so that a
// test build can make any of them fail (faults.h).
template <typename Call_> auto Checked(Call kind, Call_ call) -> decltype(call()) {
    if (const int error = Inject(kind)) {
        errno = error;
        return static_cast<decltype(call())>(-1);
    }
    return call();
}
int SysOpen(const char* path, int flags, mode_t mode = 0) {
    return Checked(Call::Open, [&] { return open(path, flags, mode); });
}
int SysCreate(const char* path, int flags, mode_t mode) {
    return Checked(Call::CreateTemporary, [&] { return open(path, flags, mode); });
}
ssize_t SysRead(int fd, char* buffer, std::size_t size) {
    if (const int error = Inject(Call::Read, &size)) {
        errno = error;
        return -1;
    }
    return read(fd, buffer, size);
}
ssize_t SysWrite(int fd, const char* bytes, std::size_t size) {
    if (const int error = Inject(Call::Write, &size)) {
        errno = error;
        return -1;
    }
    return write(fd, bytes, size);
}
int SysFlush(int fd) {
    return Checked(Call::Flush, [&] { return fsync(fd); });
}
int SysClose(int fd) {
    if (const int error = Inject(Call::Close)) {
        close(fd); // the descriptor goes all the same, as after a real failure
        errno = error;
        return -1;
    }
    return close(fd);
}
int SysStat(const char* path, struct stat* info) {
    return Checked(Call::Stat, [&] { return stat(path, info); });
}
int SysLstat(const char* path, struct stat* info) {
    return Checked(Call::Stat, [&] { return lstat(path, info); });
}
int SysFstat(int fd, struct stat* info) {
    return Checked(Call::Stat, [&] { return fstat(fd, info); });
}
ssize_t SysReadlink(const char* path, char* buffer, std::size_t size) {
    return Checked(Call::Stat, [&] { return readlink(path, buffer, size); });
}
int SysAccess(const char* path, int mode) {
    return Checked(Call::Stat, [&] { return faccessat(AT_FDCWD, path, mode, AT_EACCESS); });
}
int SysLink(const char* from, const char* to) {
    return Checked(Call::Place,
                   [&] { return linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW); });
}
int SysRename(const char* from, const char* to) {
    return Checked(Call::Place, [&] { return rename(from, to); });
}
int SysRemove(const char* path) {
    return Checked(Call::Remove, [&] { return unlink(path); });
}

Failure ReadFailure(const std::string& path, int error, std::string context = {}) {
    return Failure{Action::Read, path, std::move(context), error};
}

Failure WriteFailure(const std::string& path, int error, std::string context = {}) {
    return Failure{Action::Write, path, std::move(context), error};
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// write() until all is written, through interruptions and short writes.
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = SysWrite(fd, bytes.data(), bytes.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

// Follows a chain of symbolic links to the path at its end, which may not exist yet (a
// dangling link names the file to make). Relative links count from their own folder.
Result<std::string> FollowLinks(const std::string& path) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (SysLstat(target.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                return target;
            }
            return WriteFailure(path, errno);
        }
        if (!S_ISLNK(info.st_mode)) {
            return target;
        }
        if (hops == 40) {
            return WriteFailure(path, ELOOP);
        }
        std::array<char, PATH_MAX> link{};
        const ssize_t length = SysReadlink(target.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
            return WriteFailure(path, length < 0 ? errno : ENAMETOOLONG);
        }
        const std::string next(link.data(), static_cast<std::size_t>(length));
        target = next[0] == '/' ? next : FolderOf(target) + "/" + next;
    }
}

// The named temporary files that exist at this moment, for the signal handler to remove.
// Fixed slots, so that the handler takes no lock and touches no heap: a slot is Ready
// only while its name is whole.
enum SlotState : int { kFree, kFilling, kReady };
struct PendingSlot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
std::array<PendingSlot, 64> g_pending;

// Keeps a temporary's name in a slot for as long as the file may exist under it.
class PendingName {
public:
    explicit PendingName(const std::string& path) {
        if (path.size() >= PATH_MAX) {
            return;
        }
        for (std::size_t i = 0; i < g_pending.size(); ++i) {
            int expected = kFree;
            if (g_pending[i].state.compare_exchange_strong(expected, kFilling)) {
                std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
                g_pending[i].state.store(kReady);
                m_slot = static_cast<int>(i);
                return;
            }
        }
    }
    PendingName(const PendingName&) = delete;
    PendingName& operator=(const PendingName&) = delete;
    ~PendingName() {
        if (m_slot >= 0) {
            g_pending[static_cast<std::size_t>(m_slot)].state.store(kFree);
        }
    }

private:
    int m_slot = -1;
};

extern "C" void RemovePendingAndDie(int signal) {
    for (PendingSlot& slot : g_pending) {
        if (slot.state.load() == kReady) {
            unlink(slot.path);
        }
    }
    // The handler was installed for one delivery: this one ends the process as the
    // signal would have without us.
    raise(signal);
}

// A name beside the output that no other writer, in this process or another, will pick
// at the same moment; O_EXCL catches the rest.
std::string TemporaryName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return folder + "/.velmora-" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(now % 1000000007) + ".tmp";
}

// A failure to make or rename a file in the output's folder, said of the folder: the
// output itself may well be writable.
Failure FolderFailure(const std::string& path, const std::string& folder, const char* what,
                      int error) {
    if (error == EACCES || error == EPERM || error == EROFS) {
        return WriteFailure(path, error, std::string(what) + " the folder \"" + folder + "\"");
    }
    return WriteFailure(path, error);
}

// The new text in a file of its own beside the output, flushed, with the mode and owner
// the output is to have; on Linux unnamed until it is put in place.
class Temporary {
public:
    explicit Temporary(std::string folder) : m_folder(std::move(folder)) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() {
        if (m_fd >= 0) {
            SysClose(m_fd);
        }
        if (!m_name.empty()) {
            SysRemove(m_name.c_str());
        }
    }

    // 0 or the error of making it.
    int Create(mode_t mode) {
#ifdef O_TMPFILE
        m_fd = SysCreate(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (m_fd >= 0) {
            return 0;
        }
        // File systems without unnamed files say so in one of these ways.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return errno;
        }
#endif
        return WithFreshName([&](const std::string& name) {
            m_fd = SysCreate(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            return m_fd >= 0 ? 0 : errno;
        });
    }
    int Fd() const {
        return m_fd;
    }

    // Gives an unnamed file a name in the folder, for rename to take it from.
    int Name() {
        return m_name.empty() ? WithFreshName([&](const std::string& name) { return LinkTo(name); })
                              : 0;
    }
    const std::string& NameInFolder() const {
        return m_name;
    }
    // Once renamed into place, the name belongs to the output.
    void Placed() {
        m_name.clear();
        m_pending.reset();
    }
    int Close() {
        const int fd = m_fd;
        m_fd = -1;
        return SysClose(fd) == 0 ? 0 : errno;
    }

private:
    // Gives the unnamed file the name `path`; EEXIST when something has it.
    int LinkTo(const std::string& path) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (SysLink(self.c_str(), path.c_str()) == 0) {
            return 0;
        }
        return errno;
    }
    // Tries fresh names beside the output until `make` takes one (0) or fails otherwise
    // than by finding the name taken; the name is known to the signal handler throughout.
    template <typename Make> int WithFreshName(Make make) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TemporaryName(m_folder);
            m_pending.emplace(name);
            const int error = make(name);
            if (error == 0) {
                m_name = std::move(name);
                return 0;
            }
            m_pending.reset();
            if (error != EEXIST) {
                return error;
            }
        }
        return EEXIST;
    }

    std::string m_folder;
    std::string m_name;
    std::optional<PendingName> m_pending;
    int m_fd = -1;
};

void SyncFolder(const std::string& folder) {
    const int fd = SysOpen(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        SysFlush(fd); // some file systems cannot, and the file itself is safe by now
        SysClose(fd);
    }
}

// A stream copied to an unnamed file in the temporary folder; a named one, removed at
// once, where the file system has no unnamed files.
int UnnamedTemporary() {
    const char* base = std::getenv("TMPDIR");
    const std::string folder = base != nullptr && *base != '\0' ? base : "/tmp";
#ifdef O_TMPFILE
    const int fd = SysCreate(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = TemporaryName(folder);
        const int named = SysCreate(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (named >= 0) {
            SysRemove(name.c_str());
            return named;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

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

// All the machine has: the best that is known when it does not say what is free.
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

} // namespace

// ---- Reading ------------------------------------------------------------------------

Result<InputFile> InputFile::Open(const std::string& path) {
    const int fd = SysOpen(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return ReadFailure(path, errno);
    }
    InputFile file(fd, path);
    struct stat info {};
    if (SysFstat(fd, &info) != 0) {
        return ReadFailure(path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return ReadFailure(path, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        // A pipe or a device can be read only once.
        return CopyOf(fd, path);
    }
    return file;
}

Result<InputFile> InputFile::CopyOf(int fd, const std::string& name) {
    const int copy = UnnamedTemporary();
    if (copy < 0) {
        return ReadFailure(name, errno, "no temporary file to hold it");
    }
    InputFile file(copy, name);
    std::array<char, 1 << 16> buffer;
    for (;;) {
        const ssize_t got = SysRead(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ReadFailure(name, errno);
        }
        if (got == 0) {
            break;
        }
        if (const int error =
                WriteAll(copy, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            return ReadFailure(name, error, "no room for a temporary copy");
        }
    }
    Result<void> rewound = file.Rewind();
    if (!rewound.has_value()) {
        return rewound.error();
    }
    return file;
}

InputFile::InputFile(InputFile&& other) noexcept
    : m_fd(other.m_fd), m_name(std::move(other.m_name)) {
    other.m_fd = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    std::swap(m_name, other.m_name);
    return *this;
}

InputFile::~InputFile() {
    if (m_fd >= 0) {
        SysClose(m_fd);
    }
}

Result<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = SysRead(m_fd, buffer, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return ReadFailure(m_name, errno);
        }
    }
}

Result<void> InputFile::Rewind() {
    if (lseek(m_fd, 0, SEEK_SET) != 0) {
        return ReadFailure(m_name, errno);
    }
    return {};
}

// ---- Writing ------------------------------------------------------------------------

struct OutputFile::State {
    std::string path;   // as the user named it, for messages
    std::string target; // the regular file that will be replaced or made
    std::string folder;
    int fd = -1; // a device, FIFO, socket or stream written directly
    bool ownsFd = true;
    bool exists = false;
    struct stat old {};
    std::optional<Temporary> temporary;
};

namespace {

// Opens what stands at `path` and cannot be replaced by a file: a device, a FIFO, a
// socket, a descriptor's /dev/fd name.
int OpenInPlace(const std::string& path, bool socket) {
    int fd = SysOpen(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENXIO && socket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 &&
            connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            SysClose(fd);
            fd = -1;
            errno = error;
        }
    }
    return fd;
}

} // namespace

Result<OutputFile> OutputFile::Create(const std::string& path) {
    if (path.empty()) {
        return WriteFailure(path, 0, "no output file was named");
    }
    auto state = std::make_unique<State>();
    state->path = path;
    struct stat info {};
    if (SysStat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return WriteFailure(path, EISDIR);
        }
        if (!S_ISREG(info.st_mode)) {
            state->fd = OpenInPlace(path, S_ISSOCK(info.st_mode));
            if (state->fd < 0) {
                return WriteFailure(path, errno);
            }
            return OutputFile(state.release());
        }
    } else if (errno != ENOENT) {
        return WriteFailure(path, errno);
    }
    Result<std::string> target = FollowLinks(path);
    if (!target.has_value()) {
        return target.error();
    }
    state->target = target.value();
    state->folder = FolderOf(state->target);
    state->exists = SysStat(state->target.c_str(), &state->old) == 0;
    if (state->exists) {
        if (S_ISDIR(state->old.st_mode)) {
            return WriteFailure(path, EISDIR);
        }
        // As cp does: a file its owner made read-only is not written over.
        if (SysAccess(state->target.c_str(), W_OK) != 0) {
            return WriteFailure(path, errno);
        }
    }
    state->temporary.emplace(state->folder);
    // A file that replaces another is private until it has that file's mode; a new one
    // gets 0666 less the umask, as any new file does.
    if (const int error = state->temporary->Create(state->exists ? 0600 : 0666)) {
        return FolderFailure(path, state->folder, "no new file can be made in", error);
    }
    return OutputFile(state.release());
}

OutputFile OutputFile::Stream(int fd, std::string name) {
    auto* state = new State;
    state->path = std::move(name);
    state->fd = fd;
    state->ownsFd = false;
    return OutputFile(state);
}

OutputFile::OutputFile(OutputFile&& other) noexcept : m_state(other.m_state) {
    other.m_state = nullptr;
}

OutputFile::~OutputFile() {
    if (m_state != nullptr && m_state->fd >= 0 && m_state->ownsFd) {
        SysClose(m_state->fd);
    }
    delete m_state; // an uncommitted temporary goes with it
}

Result<void> OutputFile::Write(std::string_view bytes) {
    const int fd = m_state->fd >= 0 ? m_state->fd : m_state->temporary->Fd();
    if (const int error = WriteAll(fd, bytes)) {
        return WriteFailure(m_state->path, error);
    }
    return {};
}

Result<void> OutputFile::Commit() {
    State& state = *m_state;
    const std::string& path = state.path;
    if (state.fd >= 0) {
        const int fd = state.fd;
        state.fd = -1;
        if (state.ownsFd) {
            if (SysClose(fd) != 0) {
                return WriteFailure(path, errno);
            }
        }
        return {};
    }
    Temporary& temporary = *state.temporary;
    if (state.exists) {
        // Only a privileged process may give a file away; the group, where the user is
        // in it; the mode last, since a change of owner clears set-id bits.
        if (fchown(temporary.Fd(), state.old.st_uid, state.old.st_gid) != 0) {
            [[maybe_unused]] const int ignored =
                fchown(temporary.Fd(), static_cast<uid_t>(-1), state.old.st_gid);
        }
        if (fchmod(temporary.Fd(), state.old.st_mode & 07777) != 0) {
            return WriteFailure(path, errno);
        }
    }
    if (SysFlush(temporary.Fd()) != 0) {
        return WriteFailure(path, errno);
    }
    // Named beside the output and closed before it takes the output's place, so that
    // nothing can fail once it has.
    if (const int error = temporary.Name()) {
        return FolderFailure(path, state.folder, "no new file can be made in", error);
    }
    if (const int error = temporary.Close()) {
        return WriteFailure(path, error);
    }
    if (SysRename(temporary.NameInFolder().c_str(), state.target.c_str()) != 0) {
        return FolderFailure(path, state.folder, "the file cannot be replaced in", errno);
    }
    temporary.Placed();
    SyncFolder(state.folder);
    return {};
}

// ---- Threads, memory, signals, identity --------------------------------------------------------

std::size_t AvailableMemory() {
    if (Inject(Call::MemoryQuery) != 0) {
        return PhysicalMemory(); // as when the system does not say what is free
    }
    return std::min(MachineMemory(), GroupMemory());
}

void InstallInterruptCleanup() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        sigaction(signal, nullptr, &current);
        if (current.sa_handler == SIG_IGN) {
            continue; // started under nohup or the like: stay deaf to it
        }
        struct sigaction action {};
        action.sa_handler = RemovePendingAndDie;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

std::string FileKey(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    struct stat info {};
    if (SysStat(path.c_str(), &info) == 0) {
        return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
    std::error_code error;
    const std::filesystem::path place = std::filesystem::weakly_canonical(path, error);
    return error ? std::string() : "path " + place.string();
}

} // namespace velmora::sys
