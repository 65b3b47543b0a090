// The system's primitives on Linux and other POSIX systems, under the system core
// (system_common.cpp): descriptors, unnamed temporary files, cgroup memory limits and
// signals.

#include "faults.h"
#include "platform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#include <limits>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace velmora::sys {

struct NativeFile {
    int fd = -1;
    bool owned = true;
};

namespace {

// ---- The calls, each under the name of its kind (faults.h) -------------------------

// 0, or errno after a call that said -1.
int ErrorOf(long result) {
    return result < 0 ? errno : 0;
}
int SysOpen(Call kind, const char* path, int flags, mode_t mode, int& fd) {
    fd = -1;
    return Guarded(kind, [&] { return ErrorOf(fd = open(path, flags, mode)); });
}
int SysFlush(int fd) {
    return Guarded(Call::Flush, [&] { return ErrorOf(fsync(fd)); });
}
int SysClose(int fd) {
    const int error = Inject(Call::Close);
    // The descriptor goes all the same, as after a real failure.
    const int closed = ErrorOf(close(fd));
    return error != 0 ? error : closed;
}
int SysStat(const char* path, struct stat* info) {
    return Guarded(Call::Stat, [&] { return ErrorOf(stat(path, info)); });
}
int SysLstat(const char* path, struct stat* info) {
    return Guarded(Call::Stat, [&] { return ErrorOf(lstat(path, info)); });
}
int SysFstat(int fd, struct stat* info) {
    return Guarded(Call::Stat, [&] { return ErrorOf(fstat(fd, info)); });
}
int SysReadlink(const char* path, char* buffer, std::size_t size, std::size_t& length) {
    return Guarded(Call::Stat, [&] {
        const ssize_t got = readlink(path, buffer, size);
        length = got > 0 ? static_cast<std::size_t>(got) : 0;
        return ErrorOf(got);
    });
}
int SysRemove(const char* path) {
    return Guarded(Call::Remove, [&] { return ErrorOf(unlink(path)); });
}
// The same calls on names in a folder held open, so that the folder another program
// moves or swaps for a link meanwhile is still the one written in.
int SysOpenAt(Call kind, int folder, const char* name, int flags, mode_t mode, int& fd) {
    fd = -1;
    return Guarded(kind, [&] { return ErrorOf(fd = openat(folder, name, flags, mode)); });
}
int SysStatAt(int folder, const char* name, struct stat* info) {
    return Guarded(Call::Stat, [&] { return ErrorOf(fstatat(folder, name, info, 0)); });
}
int SysAccessAt(int folder, const char* name, int mode) {
    return Guarded(Call::Stat, [&] { return ErrorOf(faccessat(folder, name, mode, AT_EACCESS)); });
}
int SysLinkAt(const char* from, int folder, const char* to) {
    return Guarded(Call::Place,
                   [&] { return ErrorOf(linkat(AT_FDCWD, from, folder, to, AT_SYMLINK_FOLLOW)); });
}
int SysRenameAt(int folder, const char* from, const char* to) {
    return Guarded(Call::Place, [&] { return ErrorOf(renameat(folder, from, folder, to)); });
}
int SysRemoveAt(int folder, const char* name) {
    return Guarded(Call::Remove, [&] { return ErrorOf(unlinkat(folder, name, 0)); });
}
int SysSeekStart(int fd) {
    return Guarded(Call::Seek, [&] { return ErrorOf(lseek(fd, 0, SEEK_SET)); });
}
int SysCut(int fd, off_t size) {
    return Guarded(Call::Seek, [&] {
        if (const int error = ErrorOf(ftruncate(fd, size))) {
            return error;
        }
        return ErrorOf(lseek(fd, size, SEEK_SET));
    });
}
int SysOwn(int fd, uid_t owner, gid_t group) {
    return Guarded(Call::Owner, [&] { return ErrorOf(fchown(fd, owner, group)); });
}
int SysMode(int fd, mode_t mode) {
    return Guarded(Call::Owner, [&] { return ErrorOf(fchmod(fd, mode)); });
}
int SysSocket(int kind, int& fd) {
    fd = -1;
    return Guarded(Call::Open,
                   [&] { return ErrorOf(fd = ::socket(AF_UNIX, kind | SOCK_CLOEXEC, 0)); });
}
int SysConnect(int fd, const sockaddr_un& address) {
    return Guarded(Call::Open, [&] {
        return ErrorOf(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    });
}
#ifdef __linux__
// `got` is the size listed or read, as the call said it.
int SysListAttributes(const char* path, char* names, std::size_t size, ssize_t& got) {
    got = 0;
    return Guarded(Call::Attributes, [&] { return ErrorOf(got = llistxattr(path, names, size)); });
}
int SysGetAttribute(const char* path, const char* name, char* value, std::size_t size,
                    ssize_t& got) {
    got = 0;
    return Guarded(Call::Attributes,
                   [&] { return ErrorOf(got = lgetxattr(path, name, value, size)); });
}
int SysSetAttribute(int fd, const char* name, const char* value, std::size_t size) {
    return Guarded(Call::Attributes, [&] { return ErrorOf(fsetxattr(fd, name, value, size, 0)); });
}
#endif
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
int SysFileFlags(int fd, int& flags) {
    flags = 0;
    return Guarded(Call::Attributes, [&] { return ErrorOf(ioctl(fd, FS_IOC_GETFLAGS, &flags)); });
}
#endif

// The next name in a folder being listed; `entry` is null at the end.
int SysReadFolder(DIR* folder, dirent*& entry) {
    entry = nullptr;
    return Guarded(Call::Stat, [&] {
        errno = 0;
        entry = readdir(folder);
        return entry == nullptr ? errno : 0;
    });
}
int SysCloseFolder(DIR* folder) {
    const int error = Inject(Call::Close);
    const int closed = ErrorOf(closedir(folder));
    return error != 0 ? error : closed;
}
// 0 when a process `id` is there (whoever's it is), ESRCH when there is none.
int SysProcessThere(pid_t id) {
    return Guarded(Call::Stat, [&] { return ErrorOf(kill(id, 0)); });
}

FileHandle Owned(int fd) {
    return FileHandle(new NativeFile{fd, true});
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The last name of a path: what a file is called in its folder.
std::string LeafOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The descriptor that a name such as /dev/stdout, /dev/fd/3 or /proc/self/fd/3 stands for,
// or -1 for any other name. What such a name links to is not a place to make a file in:
// it may be a file that has since been removed, or one that was opened for appending.
int DescriptorNamed(const std::string& path) {
    static const std::string kPrefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                            "/proc/" + std::to_string(getpid()) + "/fd/"};
    if (path == "/dev/stdin" || path == "/dev/stdout" || path == "/dev/stderr") {
        return path == "/dev/stdin" ? 0 : path == "/dev/stdout" ? 1 : 2;
    }
    for (const std::string& prefix : kPrefixes) {
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.size() - prefix.size() <= 9 &&
            std::all_of(path.begin() + static_cast<long>(prefix.size()), path.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            return std::stoi(path.substr(prefix.size()));
        }
    }
    return -1;
}

// Where a chain of symbolic links ends: the path there, which may not exist yet (a
// dangling link names the file to make), or the descriptor a link in it names.
// Relative links count from their own folder.
struct LinkEnd {
    std::string target;
    int descriptor = -1;
};

Result<LinkEnd> FollowLinks(const std::string& path) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        if (const int descriptor = DescriptorNamed(target); descriptor >= 0) {
            return LinkEnd{target, descriptor};
        }
        struct stat info {};
        if (const int error = SysLstat(target.c_str(), &info)) {
            if (error == ENOENT) {
                return LinkEnd{target};
            }
            return WriteFailure(path, error);
        }
        if (!S_ISLNK(info.st_mode)) {
            return LinkEnd{target};
        }
        if (hops == 40) {
            return WriteFailure(path, ELOOP);
        }
        std::array<char, PATH_MAX> link{};
        std::size_t length = 0;
        if (const int error = SysReadlink(target.c_str(), link.data(), link.size(), length)) {
            return WriteFailure(path, error);
        }
        if (length >= link.size()) {
            return WriteFailure(path, ENAMETOOLONG);
        }
        const std::string next(link.data(), length);
        target = next[0] == '/' ? next : FolderOf(target) + "/" + next;
    }
}

// The named temporary files that exist at this moment, for the signal handler to remove.
// Fixed slots, so that the handler takes no lock and touches no heap: a slot is Ready
// only while its name is whole.
enum SlotState : int { kFree, kFilling, kReady };
struct PendingSlot {
    std::atomic<int> state{kFree};
    int folder = -1;
    char name[NAME_MAX + 1];
};
std::array<PendingSlot, 64> g_pending;

// Keeps a temporary's name in its folder in a slot for as long as the file may exist
// under it.
class PendingName {
public:
    PendingName(int folder, const std::string& name) {
        if (name.size() > NAME_MAX) {
            return;
        }
        for (std::size_t i = 0; i < g_pending.size(); ++i) {
            int expected = kFree;
            if (g_pending[i].state.compare_exchange_strong(expected, kFilling)) {
                g_pending[i].folder = folder;
                std::memcpy(g_pending[i].name, name.c_str(), name.size() + 1);
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

// Whether the file system said it makes no unnamed files (in one of these ways), after
// which a named one is made.
bool Unnamed(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// The new text in a file of its own beside the output, in the output's folder held open,
// flushed, with the mode and owner the output is to have; on Linux unnamed until it is
// put in place.
class Temporary {
public:
    explicit Temporary(int folder) : m_folder(folder) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() {
        if (m_fd >= 0) {
            SysClose(m_fd);
        }
        if (!m_name.empty()) {
            SysRemoveAt(m_folder, m_name.c_str());
        }
    }

    // 0 or the error of making it.
    int Create(mode_t mode) {
#ifdef O_TMPFILE
        const int error = SysOpenAt(Call::CreateTemporary, m_folder, ".",
                                    O_TMPFILE | O_WRONLY | O_CLOEXEC, mode, m_fd);
        if (!Unnamed(error)) {
            return error;
        }
#endif
        return WithFreshName([&](const std::string& name) {
            return SysOpenAt(Call::CreateTemporary, m_folder, name.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode, m_fd);
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
        return SysClose(fd);
    }

private:
    // Gives the unnamed file the name `name`; EEXIST when something has it.
    int LinkTo(const std::string& name) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        return SysLinkAt(self.c_str(), m_folder, name.c_str());
    }
    // Tries fresh names beside the output until `make` takes one (0) or fails otherwise
    // than by finding the name taken; the name is known to the signal handler throughout.
    template <typename Make> int WithFreshName(Make make) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TemporaryLeaf();
            m_pending.emplace(m_folder, name);
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

    int m_folder;
    std::string m_name;
    std::optional<PendingName> m_pending;
    int m_fd = -1;
};

// Opens what stands at `path` and cannot be replaced by a file: a device, a FIFO, a
// socket, a descriptor's /dev/fd name.
int OpenInPlace(const std::string& path, bool socket, int& fd) {
    int error = SysOpen(Call::Open, path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY, 0, fd);
    if (error != ENXIO || !socket) {
        return error;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return ENAMETOOLONG;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A socket takes a connection only of its own kind: a stream's, else a datagram
    // socket's (as /dev/log is), whose every write is then a datagram.
    for (const int kind : {SOCK_STREAM, SOCK_DGRAM, SOCK_SEQPACKET}) {
        if ((error = SysSocket(kind, fd)) != 0) {
            return error;
        }
        if ((error = SysConnect(fd, address)) == 0) {
            return 0;
        }
        SysClose(fd);
        fd = -1;
        if (error != EPROTOTYPE) {
            return error;
        }
    }
    return error;
}

} // namespace

void RemovePendingTemporaries() {
    for (PendingSlot& slot : g_pending) {
        if (slot.state.load() == kReady) {
            unlinkat(slot.folder, slot.name, 0);
        }
    }
}

// ---- Files ------------------------------------------------------------------------

void CloseNativeFile::operator()(NativeFile* file) const {
    if (file->owned && file->fd >= 0) {
        SysClose(file->fd);
    }
    delete file;
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(getpid());
}

int ReadSome(NativeFile& file, char* buffer, std::size_t size, std::size_t& done) {
    done = 0;
    return Guarded(Call::Read, size, [&] {
        const ssize_t got = read(file.fd, buffer, size);
        done = got > 0 ? static_cast<std::size_t>(got) : 0;
        return ErrorOf(got);
    });
}

int WriteSome(NativeFile& file, const char* bytes, std::size_t size, std::size_t& done) {
    done = 0;
    return Guarded(Call::Write, size, [&] {
        const ssize_t put = write(file.fd, bytes, size);
        done = put > 0 ? static_cast<std::size_t>(put) : 0;
        return ErrorOf(put);
    });
}

int RewindFile(NativeFile& file) {
    return SysSeekStart(file.fd);
}

int CutFile(NativeFile& file, std::uint64_t size) {
    return SysCut(file.fd, static_cast<off_t>(size));
}

void StartWriteBack(NativeFile& file, std::uint64_t from, std::uint64_t to) {
#ifdef __linux__
    sync_file_range(file.fd, static_cast<off_t>(from), static_cast<off_t>(to - from),
                    SYNC_FILE_RANGE_WRITE);
#else
    (void)file, (void)from, (void)to;
#endif
}

bool KeepsNothing(NativeFile& file) {
    struct stat info {};
    return SysFstat(file.fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
}

int StampFile(NativeFile& file, FileStamp& stamp) {
    struct stat info {};
    if (const int error = SysFstat(file.fd, &info)) {
        return error;
    }
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(time.tv_nsec);
    };
    stamp =
        FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                  static_cast<std::uint64_t>(info.st_size), nanoseconds(info.st_mtim),
                  nanoseconds(info.st_ctim)};
    return 0;
}

int CloseFile(FileHandle file) {
    const int fd = std::exchange(file->fd, -1);
    return file->owned ? SysClose(fd) : 0;
}

FileHandle Borrowed(int descriptor) {
    return FileHandle(new NativeFile{descriptor, false});
}

int OpenInput(const std::string& path, FileHandle& file, bool& once) {
    int fd = -1;
    if (const int error = SysOpen(Call::Open, path.c_str(), O_RDONLY | O_CLOEXEC, 0, fd)) {
        return error;
    }
    file = Owned(fd);
    struct stat info {};
    if (const int error = SysFstat(fd, &info)) {
        return error;
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    once = !S_ISREG(info.st_mode);
    return 0;
}

// A stream copied to an unnamed file in the temporary folder; a named one, removed at
// once, where the file system has no unnamed files.
int MakeScratchFile(FileHandle& file, std::string& where) {
    int fd = -1;
    const char* base = std::getenv("TMPDIR");
    const std::string folder = base != nullptr && *base != '\0' ? base : "/tmp";
    where = base != nullptr && *base != '\0' ? "TMPDIR \"" + folder + "\"" : folder;
#ifdef O_TMPFILE
    const int unnamed =
        SysOpen(Call::CreateTemporary, folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600, fd);
    if (unnamed == 0) {
        file = Owned(fd);
    }
    if (!Unnamed(unnamed)) {
        return unnamed;
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = folder + "/" + TemporaryLeaf();
        const int error = SysOpen(Call::CreateTemporary, name.c_str(),
                                  O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600, fd);
        if (error == 0) {
            file = Owned(fd);
            SysRemove(name.c_str());
            return 0;
        }
        if (error != EEXIST) {
            return error;
        }
    }
    return EEXIST;
}

// ---- The output ---------------------------------------------------------------------

// The output's folder, opened once: the new file is made, named and renamed in it, and
// the folder flushed, through this descriptor alone.
struct Folder {
    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
        if (fd >= 0) {
            SysClose(fd);
        }
    }
    int fd = -1;
    bool flushable = false; // opened for reading, not only as a place
};

struct Replacement {
    std::string target; // the regular file that will be replaced or made
    std::string folderName;
    std::string leaf;
    Folder folder;
    bool exists = false;
    struct stat old {};
    std::optional<Temporary> temporary; // made, and removed, in `folder`
    NativeFile file;                    // the temporary's descriptor, borrowed from it
};

void DropReplacement::operator()(Replacement* replacement) const {
    delete replacement; // an uncommitted temporary goes with it
}

NativeFile& FileOf(Replacement& replacement) {
    replacement.file = {replacement.temporary->Fd(), false};
    return replacement.file;
}

namespace {

// 0, or the error of opening the folder of the output; one that may be searched but not
// read is held as a place only, and is not flushed.
int OpenFolder(const std::string& name, Folder& folder) {
    int error = SysOpenAt(Call::Open, AT_FDCWD, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0,
                          folder.fd);
    folder.flushable = error == 0;
#ifdef O_PATH
    if (error == EACCES) {
        error = SysOpenAt(Call::Open, AT_FDCWD, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0,
                          folder.fd);
    }
#endif
    return error;
}

// Removes the named temporaries that processes ended before they could put them in place
// (killed between naming the new file and renaming it), the first time this process
// writes in the folder. Only names of the exact form TemporaryLeaf makes, and only where
// the process the name gives is gone: a live one's file, or another's whose number was
// given again, is left alone. Nothing here may stop the conversion.
void RemoveLeftovers(int folder) {
    struct stat info {};
    if (SysFstat(folder, &info) != 0 ||
        !FirstLookIn(std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino))) {
        return;
    }
    int fd = -1;
    if (SysOpenAt(Call::Open, folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0, fd) != 0) {
        return; // a folder that may be searched but not read
    }
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        SysClose(fd);
        return;
    }
    std::vector<std::string> leftovers;
    for (dirent* entry = nullptr; SysReadFolder(listing, entry) == 0 && entry != nullptr;) {
        const unsigned long maker = MakerOfTemporary(entry->d_name);
        if (maker != 0 && maker != ProcessId() &&
            maker <= static_cast<unsigned long>(std::numeric_limits<pid_t>::max()) &&
            SysProcessThere(static_cast<pid_t>(maker)) == ESRCH) {
            leftovers.emplace_back(entry->d_name);
        }
    }
    SysCloseFolder(listing);
    for (const std::string& leftover : leftovers) {
        SysRemoveAt(folder, leftover.c_str());
    }
}

// Gives the new file the extended attributes of the one it replaces (its access control
// list and security label among them); 0, or the error that stops one being kept.
int CopyAttributes([[maybe_unused]] int folder, [[maybe_unused]] const std::string& leaf,
                   [[maybe_unused]] int to) {
#ifdef __linux__
    const std::string from = "/proc/self/fd/" + std::to_string(folder) + "/" + leaf;
    std::string names;
    for (;;) {
        ssize_t size = 0;
        if (const int error = SysListAttributes(from.c_str(), nullptr, 0, size)) {
            // A file system without attributes, or a system without /proc, has none to keep.
            return error == ENOTSUP || error == ENOENT ? 0 : error;
        }
        if (size == 0) {
            return 0;
        }
        names.resize(static_cast<std::size_t>(size));
        ssize_t listed = 0;
        const int error = SysListAttributes(from.c_str(), names.data(), names.size(), listed);
        if (error == 0) {
            names.resize(static_cast<std::size_t>(listed));
            break;
        }
        if (error != ERANGE) { // grown meanwhile: asked again
            return error;
        }
    }
    std::string value;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
        const char* name = names.c_str() + at;
        ssize_t size = 0;
        if (const int error = SysGetAttribute(from.c_str(), name, nullptr, 0, size)) {
            if (error == ENODATA) { // removed meanwhile
                continue;
            }
            return error;
        }
        value.resize(static_cast<std::size_t>(size));
        ssize_t got = 0;
        if (const int error =
                SysGetAttribute(from.c_str(), name, value.data(), value.size(), got)) {
            return error;
        }
        if (const int error =
                SysSetAttribute(to, name, value.data(), static_cast<std::size_t>(got))) {
            return error;
        }
    }
#endif
    return 0;
}

// Why a file that no one may replace is refused, whichever call finds it.
constexpr const char* kUnreplaceable = "the file is append-only or immutable";

// Whether the file is one that no one may replace: append-only or immutable.
bool Unreplaceable([[maybe_unused]] int folder, [[maybe_unused]] const std::string& leaf) {
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
    int fd = -1;
    if (SysOpenAt(Call::Open, folder, leaf.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC,
                  0, fd) != 0) {
        return false;
    }
    int flags = 0;
    const bool got = SysFileFlags(fd, flags) == 0;
    SysClose(fd);
    return got && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#else
    return false;
#endif
}

} // namespace

Result<void> OpenOutput(const std::string& path, FileHandle& direct,
                        ReplacementHandle& replacement) {
    Result<LinkEnd> end = FollowLinks(path);
    if (!end.has_value()) {
        return end.error();
    }
    const std::string& target = end->target;
    if (end->descriptor >= 0) {
        // Written through the descriptor itself, where it stands.
        struct stat info {};
        if (StartedWithout(end->descriptor)) {
            return WriteFailure(path, EBADF);
        }
        if (const int error = SysFstat(end->descriptor, &info)) {
            return WriteFailure(path, error);
        }
        if (S_ISDIR(info.st_mode)) {
            return WriteFailure(path, EISDIR);
        }
        direct = Borrowed(end->descriptor);
        return {};
    }
    struct stat info {};
    if (const int error = SysStat(target.c_str(), &info); error == 0) {
        if (S_ISDIR(info.st_mode)) {
            return WriteFailure(path, EISDIR);
        }
        if (!S_ISREG(info.st_mode)) {
            int fd = -1;
            if (const int refused = OpenInPlace(target, S_ISSOCK(info.st_mode), fd)) {
                return WriteFailure(path, refused);
            }
            direct = Owned(fd);
            return {};
        }
    } else if (error != ENOENT) {
        return WriteFailure(path, error);
    }
    // "out.txt/" names a folder, which there is not: as cp says, not a directory.
    if (target.ends_with('/')) {
        return WriteFailure(path, ENOTDIR);
    }
    ReplacementHandle made(new Replacement);
    Replacement& state = *made;
    state.target = target;
    state.folderName = FolderOf(target);
    state.leaf = LeafOf(target);
    if (const int error = OpenFolder(state.folderName, state.folder)) {
        return FolderFailure(path, state.folderName, "no new file can be made in", error);
    }
    RemoveLeftovers(state.folder.fd);
    state.exists = SysStatAt(state.folder.fd, state.leaf.c_str(), &state.old) == 0;
    if (state.exists) {
        if (S_ISDIR(state.old.st_mode)) {
            return WriteFailure(path, EISDIR);
        }
        // As cp does: a file its owner made read-only is not written over.
        if (const int error = SysAccessAt(state.folder.fd, state.leaf.c_str(), W_OK)) {
            if (error == EPERM && Unreplaceable(state.folder.fd, state.leaf)) {
                return WriteFailure(path, error, kUnreplaceable);
            }
            return WriteFailure(path, error);
        }
    }
    state.temporary.emplace(state.folder.fd);
    // A file that replaces another is private until it has that file's mode; a new one
    // gets 0666 less the umask, as any new file does.
    if (const int error = state.temporary->Create(state.exists ? 0600 : 0666)) {
        return FolderFailure(path, state.folderName, "no new file can be made in", error);
    }
    replacement = std::move(made);
    return {};
}

Result<void> PutInPlace(Replacement& state, const std::string& path) {
    Temporary& temporary = *state.temporary;
    // What the file carries as it is replaced, not as it was when the conversion began:
    // a mode changed meanwhile is kept.
    struct stat now {};
    const bool existsNow = SysStatAt(state.folder.fd, state.leaf.c_str(), &now) == 0;
    if (existsNow || state.exists) {
        const struct stat& old = existsNow ? now : state.old;
        // Only a privileged process may give a file away; the group, where the user is
        // in it; the mode last, since a change of owner clears set-id bits.
        if (SysOwn(temporary.Fd(), old.st_uid, old.st_gid) != 0) {
            SysOwn(temporary.Fd(), static_cast<uid_t>(-1), old.st_gid);
        }
        if (existsNow) {
            if (const int error = CopyAttributes(state.folder.fd, state.leaf, temporary.Fd())) {
                return WriteFailure(path, error, "its extended attributes cannot be kept");
            }
        }
        if (const int error = SysMode(temporary.Fd(), old.st_mode & 07777)) {
            return WriteFailure(path, error);
        }
    }
    if (const int error = SysFlush(temporary.Fd())) {
        return WriteFailure(path, error);
    }
    // Named beside the output and closed before it takes the output's place, so that
    // nothing can fail once it has.
    if (const int error = temporary.Name()) {
        return FolderFailure(path, state.folderName, "no new file can be made in", error);
    }
    if (const int error = temporary.Close()) {
        return WriteFailure(path, error);
    }
    {
        // An interruption from here on finds the output either not yet in place, or in
        // place and its conversion counted finished.
        const EndingHeldOff held;
        if (const int error = SysRenameAt(state.folder.fd, temporary.NameInFolder().c_str(),
                                          state.leaf.c_str())) {
            if (error == EPERM && Unreplaceable(state.folder.fd, state.leaf)) {
                return WriteFailure(path, error, kUnreplaceable);
            }
            return FolderFailure(path, state.folderName, "the file cannot be replaced in", error);
        }
        temporary.Placed();
        ConversionSettled();
    }
    if (state.folder.flushable) {
        SysFlush(state.folder.fd); // some file systems cannot, and the file itself is safe by now
    }
    return {};
}

// ---- Names ------------------------------------------------------------------------

// Linux's words are the ones every build gives already.
std::string SystemWords(int error) {
    return ErrorText(error);
}

const std::string_view kPathSeparators = "/";

bool NamesARegularFile(const std::string& path) {
    Result<LinkEnd> end = FollowLinks(path);
    if (!end.has_value()) {
        return true;
    }
    if (end->descriptor >= 0) {
        return false;
    }
    struct stat info {};
    return SysStat(end->target.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

std::string FileKey(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    struct stat info {};
    if (SysStat(path.c_str(), &info) == 0) {
        return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
    // Not there yet: its folder and its name there, so that every spelling of one new
    // file ("a.txt", "./a.txt", "sub/../a.txt", a link to it) is one file.
    Result<LinkEnd> end = FollowLinks(path);
    if (!end.has_value() || SysStat(FolderOf(end->target).c_str(), &info) != 0) {
        return {};
    }
    return "new " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + "/" +
           LeafOf(end->target);
}

// ---- Folders ----------------------------------------------------------------------------

int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    DIR* listing = nullptr;
    if (const int error = Guarded(Call::Open, [&] {
            listing = opendir(folder.empty() ? "." : folder.c_str());
            return listing == nullptr ? errno : 0;
        })) {
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(listing);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        FolderEntry found{std::string(name), entry->d_type == DT_DIR, name.starts_with('.')};
        found.link = entry->d_type == DT_LNK;
        found.other = entry->d_type != DT_REG && entry->d_type != DT_DIR && !found.link;
        if (entry->d_type == DT_UNKNOWN || found.link) {
            // What a link names; one that leads nowhere counts as a file: reading it will
            // say why.
            struct stat info {};
            if (entry->d_type == DT_UNKNOWN &&
                fstatat(dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                found.link = S_ISLNK(info.st_mode);
            }
            const bool known = fstatat(dirfd(listing), entry->d_name, &info, 0) == 0;
            found.folder = known && S_ISDIR(info.st_mode);
            found.other = known && !S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode);
        }
        entries.push_back(std::move(found));
    }
    closedir(listing);
    return error;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return SysStat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int MakeFolder(const std::string& folder) {
    return Guarded(Call::CreateTemporary, [&] { return ErrorOf(mkdir(folder.c_str(), 0777)); });
}

std::string ComparableName(std::string_view name) {
    return std::string(name);
}

std::string StreamKey(int descriptor, bool regularOnly) {
    struct stat info {};
    if (Guarded(Call::Stat, [&] { return ErrorOf(fstat(descriptor, &info)); }) != 0 ||
        (regularOnly && !S_ISREG(info.st_mode))) {
        return {};
    }
    return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

} // namespace velmora::sys
