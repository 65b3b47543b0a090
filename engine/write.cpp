#include "assemble.h"

#include "io.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace velmora {

namespace {

Failure WriteFailure(const std::string& path, std::string reason) {
    return Failure{"cannot write", path, std::move(reason)};
}

Result<void> WriteAll(int fd, std::string_view text, const std::string& name) {
    while (!text.empty()) {
        const ssize_t put = write(fd, text.data(), text.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WriteFailure(name, std::strerror(errno));
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return {};
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows a chain of symbolic links to the path at its end, which may not exist yet (a
// dangling link names the file to make). Relative links count from their own folder.
Result<std::string> FollowLinks(const std::string& path) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                return target;
            }
            return WriteFailure(path, std::strerror(errno));
        }
        if (!S_ISLNK(info.st_mode)) {
            return target;
        }
        if (hops == 40) {
            return WriteFailure(path, std::strerror(ELOOP));
        }
        std::array<char, PATH_MAX> link{};
        const ssize_t length = readlink(target.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
            return WriteFailure(path, std::strerror(length < 0 ? errno : ENAMETOOLONG));
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
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(now % 1000000007) +
           ".tmp";
}

// A failure to make or rename a file in the output's folder, said of the folder: the
// output itself may well be writable.
Failure FolderFailure(const std::string& path, const std::string& folder, const char* what,
                      int error) {
    if (error == EACCES || error == EPERM || error == EROFS) {
        return WriteFailure(path, std::string(what) + " the folder \"" + folder +
                                      "\": " + std::strerror(error));
    }
    return WriteFailure(path, std::strerror(error));
}

// Writes straight into what is already there and cannot be replaced by a file: a device,
// a FIFO, a socket, a descriptor's /dev/fd name.
Result<void> WriteInPlace(const std::string& path, std::string_view text, bool socket) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENXIO && socket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            return WriteFailure(path, std::strerror(ENAMETOOLONG));
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            close(fd);
            fd = -1;
            errno = error;
        }
    }
    if (fd < 0) {
        return WriteFailure(path, std::strerror(errno));
    }
    detail::FileDescriptor file(fd);
    Result<void> written = WriteAll(file.Get(), text, path);
    if (file.Close() != 0 && written.Ok()) {
        written = WriteFailure(path, std::strerror(errno));
    }
    return written;
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
            close(m_fd);
        }
        if (!m_name.empty()) {
            unlink(m_name.c_str());
        }
    }

    // 0 or the error of making it.
    int Create(mode_t mode) {
#ifdef O_TMPFILE
        m_fd = open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (m_fd >= 0) {
            return 0;
        }
        // File systems without unnamed files say so in one of these ways.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return errno;
        }
#endif
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TemporaryName(m_folder);
            m_pending.emplace(name);
            m_fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (m_fd >= 0) {
                m_name = std::move(name);
                return 0;
            }
            m_pending.reset();
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }
    int Fd() const { return m_fd; }

    // Gives an unnamed file a name in the folder, for rename to take it from.
    int Name() {
        if (!m_name.empty()) {
            return 0;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TemporaryName(m_folder);
            m_pending.emplace(name);
            if (LinkTo(name) == 0) {
                m_name = std::move(name);
                return 0;
            }
            m_pending.reset();
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }
    // Puts an unnamed file at `path` where nothing is yet; EEXIST when something is.
    int LinkTo(const std::string& path) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return 0;
        }
        return errno;
    }
    bool Unnamed() const { return m_name.empty(); }
    const std::string& NameInFolder() const { return m_name; }
    // Once renamed into place, the name belongs to the output.
    void Placed() {
        m_name.clear();
        m_pending.reset();
    }
    int Close() {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0 ? 0 : errno;
    }

private:
    std::string m_folder;
    std::string m_name;
    std::optional<PendingName> m_pending;
    int m_fd = -1;
};

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd); // some file systems cannot, and the file itself is safe by now
        close(fd);
    }
}

// Replaces the regular file at `target` (or makes it) with `text`, keeping the mode and
// owner of the file it replaces.
Result<void> ReplaceFile(const std::string& path, const std::string& target,
                         std::string_view text) {
    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) {
            return WriteFailure(path, std::strerror(EISDIR));
        }
        // As cp does: a file its owner made read-only is not written over.
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return WriteFailure(path, std::strerror(errno));
        }
    }
    const std::string folder = FolderOf(target);
    Temporary temporary(folder);
    // A file that replaces another is private until it has that file's mode; a new one
    // gets 0666 less the umask, as any new file does.
    if (const int error = temporary.Create(exists ? 0600 : 0666)) {
        return FolderFailure(path, folder, "no new file can be made in", error);
    }
    Result<void> written = WriteAll(temporary.Fd(), text, path);
    if (!written.Ok()) {
        return written;
    }
    if (exists) {
        // Only a privileged process may give a file away; the group, where the user is
        // in it; the mode last, since a change of owner clears set-id bits.
        if (fchown(temporary.Fd(), old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] const int ignored = fchown(temporary.Fd(), static_cast<uid_t>(-1), old.st_gid);
        }
        if (fchmod(temporary.Fd(), old.st_mode & 07777) != 0) {
            return WriteFailure(path, std::strerror(errno));
        }
    }
    if (fsync(temporary.Fd()) != 0) {
        return WriteFailure(path, std::strerror(errno));
    }
    int error = EEXIST;
    if (!exists && temporary.Unnamed()) {
        error = temporary.LinkTo(target); // EEXIST when someone made the file meanwhile
        if (error == 0) {
            temporary.Placed();
        }
    }
    if (error == EEXIST) {
        if ((error = temporary.Name()) != 0) {
            return FolderFailure(path, folder, "no new file can be made in", error);
        }
        if (rename(temporary.NameInFolder().c_str(), target.c_str()) != 0) {
            return FolderFailure(path, folder, "the file cannot be replaced in", errno);
        }
        temporary.Placed();
    } else if (error != 0) {
        return FolderFailure(path, folder, "no new file can be made in", error);
    }
    if ((error = temporary.Close()) != 0) {
        return WriteFailure(path, std::strerror(error));
    }
    SyncFolder(folder);
    return {};
}

} // namespace

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

Result<void> WriteOutputStream(int fd, std::string_view text, const std::string& name) {
    return WriteAll(fd, text, name);
}

Result<void> WriteOutputFile(const std::string& path, std::string_view text) {
    try {
        if (path.empty()) {
            return WriteFailure(path, "no output file was named");
        }
        struct stat info {};
        if (stat(path.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode)) {
                return WriteFailure(path, std::strerror(EISDIR));
            }
            if (!S_ISREG(info.st_mode)) {
                return WriteInPlace(path, text, S_ISSOCK(info.st_mode));
            }
        } else if (errno != ENOENT) {
            return WriteFailure(path, std::strerror(errno));
        }
        Result<std::string> target = FollowLinks(path);
        if (!target.Ok()) {
            return target.GetFailure();
        }
        return ReplaceFile(path, target.Value(), text);
    } catch (const std::bad_alloc&) {
        return WriteFailure(path, detail::kOutOfMemory);
    }
}

} // namespace velmora
