// The engine's door to Windows, through the Win32 calls themselves: no C run-time file
// (whose text mode turns CR LF into LF and stops at byte 0x1A), 64-bit positions, and
// paths kept in UTF-8 inside and turned into UTF-16 at each call. Failures are told in
// the words Linux uses for the same condition, so that both builds read alike.

#include "system.h"

#include "faults.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <io.h>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>

namespace velmora::sys {

namespace {

// ReadFile and WriteFile take 32-bit counts; a gigabyte a call stays well inside them.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;
constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// ---- Failures -------------------------------------------------------------------------

// The errno value of the condition a Win32 error stands for.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
        return EACCES;
    case ERROR_PRIVILEGE_NOT_HELD:
        return EPERM;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return EBUSY;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
        return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK_ON_DEVICE:
        return ESPIPE;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_NOT_SUPPORTED:
        return EOPNOTSUPP;
    default:
        return EIO;
    }
}

int LastError() {
    return ErrnoOf(GetLastError());
}

// Windows says a path is not found where a folder in it is a file; Linux says which.
int NotFoundOrNotAFolder(int error, const std::wstring& path) {
    if (error != ENOENT) {
        return error;
    }
    for (std::wstring folder = path.substr(0, path.rfind(L'\\')); folder.size() > 7;
         folder = folder.substr(0, folder.rfind(L'\\'))) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return attributes & FILE_ATTRIBUTE_DIRECTORY ? ENOENT : ENOTDIR;
        }
    }
    return ENOENT;
}

Failure ReadFailure(const std::string& path, int error, std::string context = {}) {
    return Failure{Action::Read, path, std::move(context), error};
}

Failure WriteFailure(const std::string& path, int error, std::string context = {}) {
    return Failure{Action::Write, path, std::move(context), error};
}

// ---- Paths ----------------------------------------------------------------------------

std::wstring Wide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string Narrow(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
    return text.substr(0, start.size()) == start;
}

// The path the system is handed: whole (either separator, a drive letter or none, "."
// and ".." resolved against the current folder) and in the \\?\ form that lifts the
// 260-character limit. Devices (NUL, CON, \\.\pipe\...) stay as they are. Empty when the
// path is not one Windows can take.
std::wstring SystemPath(const std::string& path) {
    const std::wstring wide = Wide(path);
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
        return {};
    }
    DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) {
        return {};
    }
    full.resize(size);
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) {
        return full;
    }
    if (StartsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

bool IsDevice(std::wstring_view path) {
    return StartsWith(path, L"\\\\.\\");
}

// The folder of a whole path from SystemPath: \\?\C:\data\out.txt gives \\?\C:\data.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// The folder of a path as the user wrote it, for messages: either separator, and a
// drive's current folder ("C:out.txt" is in "C:").
std::string ShownFolderOf(const std::string& path) {
    const bool drive = path.size() >= 2 && path[1] == ':';
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return drive ? path.substr(0, 2) : ".";
    }
    if (slash == 0 || (drive && slash == 2)) {
        return path.substr(0, slash + 1);
    }
    return path.substr(0, slash);
}

// The user's spelling of a path the system gave back (a link's target).
std::string Shown(const std::wstring& path) {
    if (StartsWith(path, L"\\\\?\\UNC\\")) {
        return "\\\\" + Narrow(path.substr(8));
    }
    return Narrow(StartsWith(path, L"\\\\?\\") ? path.substr(4) : path);
}

// ---- The calls, each under the name of its kind (faults.h) -------------------------
// Each returns 0 or the errno value of its failure.

int SysOpen(Call kind, const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags, HANDLE& handle) {
    handle = INVALID_HANDLE_VALUE;
    if (const int error = Inject(kind)) {
        return error;
    }
    handle = CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    return handle == INVALID_HANDLE_VALUE ? LastError() : 0;
}

int SysRead(HANDLE handle, char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    int error = 0;
    while ((error = Inject(Call::Read, &size)) == EINTR) {
        // tried again, as an interrupted read is on Linux
    }
    if (error != 0) {
        return error;
    }
    DWORD count = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(std::min(size, kMostPerCall)), &count,
                  nullptr)) {
        const DWORD failure = GetLastError();
        // A pipe whose writer has gone has reached its end.
        return failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF ? 0 : ErrnoOf(failure);
    }
    got = count;
    return 0;
}

int SysWrite(HANDLE handle, const char* bytes, std::size_t size, std::size_t& put) {
    put = 0;
    int error = 0;
    while ((error = Inject(Call::Write, &size)) == EINTR) {
        // tried again, as an interrupted write is on Linux
    }
    if (error != 0) {
        return error;
    }
    DWORD count = 0;
    if (!WriteFile(handle, bytes, static_cast<DWORD>(std::min(size, kMostPerCall)), &count,
                   nullptr)) {
        return LastError();
    }
    put = count;
    return 0;
}

int SysFlush(HANDLE handle) {
    if (const int error = Inject(Call::Flush)) {
        return error;
    }
    return FlushFileBuffers(handle) ? 0 : LastError();
}

int SysClose(HANDLE handle) {
    const int error = Inject(Call::Close);
    // The handle goes all the same, as after a real failure.
    if (!CloseHandle(handle) && error == 0) {
        return LastError();
    }
    return error;
}

int SysAttributes(const std::wstring& path, DWORD& attributes) {
    attributes = INVALID_FILE_ATTRIBUTES;
    if (const int error = Inject(Call::Stat)) {
        return error;
    }
    attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? LastError() : 0;
}

int SysIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    if (const int error = Inject(Call::Stat)) {
        return error;
    }
    return GetFileInformationByHandle(handle, &info) ? 0 : LastError();
}

int SysMove(const std::wstring& from, const std::wstring& to) {
    if (const int error = Inject(Call::Place)) {
        return error;
    }
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : LastError();
}

int SysRemove(const std::wstring& path) {
    if (const int error = Inject(Call::Remove)) {
        return error;
    }
    return DeleteFileW(path.c_str()) ? 0 : LastError();
}

// Marks an open file to go when its last handle closes, or takes the mark back. Unlike
// FILE_FLAG_DELETE_ON_CLOSE the mark can be taken back, so that the output can be written
// under it and kept once whole: a process that ends in any way before then, killed
// included, leaves nothing behind.
bool MarkForDeletion(HANDLE handle, bool doomed) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = doomed ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// WriteFile until all is written.
int WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t put = 0;
        if (const int error = SysWrite(handle, bytes.data(), bytes.size(), put)) {
            return error;
        }
        if (put == 0) {
            return EIO;
        }
        bytes.remove_prefix(put);
    }
    return 0;
}

// The handle behind a C run-time descriptor (0 to 2 are the standard handles).
HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// InputFile keeps an int: kernel handles are 32-bit values on 64-bit Windows too, which
// is what HandleToLong relies on.
int Stored(HANDLE handle) {
    return static_cast<int>(HandleToLong(handle));
}
HANDLE Loaded(int stored) {
    return LongToHandle(stored);
}

// A name beside the output that no other writer, in this process or another, will pick
// at the same moment; CREATE_NEW catches the rest.
std::wstring TemporaryName(const std::wstring& folder) {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return folder + L"\\.velmora-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter.fetch_add(1)) + L"-" + std::to_wstring(now % 1000000007) +
           L".tmp";
}

// A stream copied to a file in the temporary folder that goes when it is closed.
int UnnamedTemporary(HANDLE& handle) {
    std::array<wchar_t, MAX_PATH + 1> base{};
    const DWORD length = GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    std::wstring folder =
        length > 0 && length < base.size() ? std::wstring(base.data(), length) : std::wstring(L".");
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int error = SysOpen(
            Call::CreateTemporary, TemporaryName(folder), GENERIC_READ | GENERIC_WRITE, 0,
            CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, handle);
        if (error != EEXIST) {
            return error;
        }
    }
    return EEXIST;
}

// ---- Interruption ---------------------------------------------------------------------

// Temporaries being put in place: between taking back their deletion mark and the move,
// a Ctrl+C must wait, or it would leave a named temporary behind. Fixed slots, so that
// the handler's thread takes no lock and touches no heap.
enum SlotState : int { kFree, kTaken, kPlacing };
std::array<std::atomic<int>, 64> g_slots{};
std::atomic<bool> g_ending{false};

BOOL WINAPI EndQuietly(DWORD) {
    g_ending.store(true);
    for (std::atomic<int>& slot : g_slots) {
        while (slot.load() == kPlacing) {
            Sleep(1);
        }
    }
    return FALSE; // the default handler ends the process; marked temporaries go with it
}

class PlacingSlot {
public:
    PlacingSlot() {
        for (std::size_t i = 0; i < g_slots.size(); ++i) {
            int expected = kFree;
            if (g_slots[i].compare_exchange_strong(expected, kTaken)) {
                m_slot = &g_slots[i];
                return;
            }
        }
    }
    PlacingSlot(const PlacingSlot&) = delete;
    PlacingSlot& operator=(const PlacingSlot&) = delete;
    ~PlacingSlot() {
        if (m_slot != nullptr) {
            m_slot->store(kFree);
        }
    }
    // False when the process is being ended: the temporary must stay marked.
    bool Begin() {
        if (m_slot != nullptr) {
            m_slot->store(kPlacing);
        }
        return !g_ending.load();
    }
    void End() {
        if (m_slot != nullptr) {
            m_slot->store(kTaken);
        }
    }

private:
    std::atomic<int>* m_slot = nullptr;
};

// A failure to make or rename a file in the output's folder, said of the folder: the
// output itself may well be writable.
Failure FolderFailure(const std::string& path, const std::string& folder, const char* what,
                      int error) {
    if (error == EACCES || error == EPERM || error == EROFS) {
        return WriteFailure(path, error, std::string(what) + " the folder \"" + folder + "\"");
    }
    return WriteFailure(path, error);
}

// The new text in a hidden file beside the output, marked for deletion until it is put
// in its place.
class Temporary {
public:
    explicit Temporary(std::wstring folder) : m_folder(std::move(folder)) {}
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() {
        if (m_handle == INVALID_HANDLE_VALUE) {
            return;
        }
        const bool marked = m_placed || MarkForDeletion(m_handle, true);
        SysClose(m_handle);
        if (!marked) {
            SysRemove(m_name);
        }
    }

    int Create() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::wstring name = TemporaryName(m_folder);
            // Shared for deletion, so that it can be moved while still open.
            const int error =
                SysOpen(Call::CreateTemporary, name, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                        CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, m_handle);
            if (error == 0) {
                m_name = std::move(name);
                if (!MarkForDeletion(m_handle, true)) {
                    const int marking = LastError();
                    SysClose(m_handle);
                    m_handle = INVALID_HANDLE_VALUE;
                    SysRemove(m_name);
                    return marking;
                }
                return 0;
            }
            if (error != EEXIST) {
                return error;
            }
        }
        return EEXIST;
    }
    HANDLE Handle() const { return m_handle; }

    // Takes the deletion mark back and moves the file over `target`, replacing what is
    // there; on failure the mark is put back.
    int PlaceAt(const std::wstring& target, bool replacing) {
        if (!m_slot.Begin()) {
            m_slot.End();
            return EINTR;
        }
        int error = 0;
        if (!MarkForDeletion(m_handle, false)) {
            error = LastError();
        } else if ((error = SysMove(m_name, target)) == EACCES && replacing) {
            error = MoveAsideAndPlace(target);
        }
        if (error != 0) {
            MarkForDeletion(m_handle, true);
        } else {
            m_placed = true;
        }
        m_slot.End();
        return error;
    }
    int Close() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return SysClose(handle);
    }

private:
    // Windows replaces no file that is open, not even one opened to share its deletion,
    // as the input is when a document is converted onto itself. Such a file can still be
    // renamed: it is moved aside, and removed once its last handle closes.
    int MoveAsideAndPlace(const std::wstring& target) {
        const std::wstring aside = TemporaryName(m_folder);
        if (SysMove(target, aside) != 0) {
            return EACCES;
        }
        if (const int error = SysMove(m_name, target)) {
            SysMove(aside, target);
            return error;
        }
        SysRemove(aside);
        return 0;
    }

    std::wstring m_folder;
    std::wstring m_name;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    bool m_placed = false;
    PlacingSlot m_slot;
};

// ---- Memory -----------------------------------------------------------------------------

// All the machine has: the best that is known when it does not say what is free.
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
std::size_t JobMemory() {
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

} // namespace

// ---- Reading ------------------------------------------------------------------------

namespace {

// Copies what `from` holds to its end into a temporary file, left at its start.
Result<InputFile> CopyFrom(HANDLE from, const std::string& name,
                           Result<InputFile> (*adopt)(HANDLE, const std::string&)) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (const int error = UnnamedTemporary(copy)) {
        return ReadFailure(name, error, "no temporary file to hold it");
    }
    Result<InputFile> file = adopt(copy, name);
    std::unique_ptr<char[]> buffer(new char[1 << 16]);
    for (;;) {
        std::size_t got = 0;
        if (const int error = SysRead(from, buffer.get(), std::size_t{1} << 16, got)) {
            return ReadFailure(name, error);
        }
        if (got == 0) {
            break;
        }
        if (const int error = WriteAll(copy, std::string_view(buffer.get(), got))) {
            return ReadFailure(name, error, "no room for a temporary copy");
        }
    }
    Result<void> rewound = file.value().Rewind();
    if (!rewound.has_value()) {
        return rewound.error();
    }
    return file;
}

} // namespace

Result<InputFile> InputFile::Open(const std::string& path) {
    const std::wstring name = SystemPath(path);
    if (name.empty()) {
        return ReadFailure(path, ENOENT);
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (int error = SysOpen(Call::Open, name, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, handle)) {
        // A folder cannot be opened as a file: Windows says "access denied".
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (error == EACCES && SysAttributes(name, attributes) == 0 &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = EISDIR;
        }
        // A name Windows cannot hold (a control byte, a '?') names no file.
        return ReadFailure(path, NotFoundOrNotAFolder(error == EINVAL ? ENOENT : error, name));
    }
    InputFile file(Stored(handle), path);
    if (Inject(Call::Stat) != 0 || GetFileType(handle) != FILE_TYPE_DISK) {
        // A pipe or a device can be read only once.
        return CopyFrom(handle, path, [](HANDLE copy, const std::string& shown) {
            return Result<InputFile>(InputFile(Stored(copy), shown));
        });
    }
    return file;
}

Result<InputFile> InputFile::CopyOf(int fd, const std::string& name) {
    const HANDLE from = HandleOf(fd);
    if (from == INVALID_HANDLE_VALUE || from == nullptr) {
        return ReadFailure(name, EBADF);
    }
    return CopyFrom(from, name, [](HANDLE copy, const std::string& shown) {
        return Result<InputFile>(InputFile(Stored(copy), shown));
    });
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
    if (m_fd != -1) {
        SysClose(Loaded(m_fd));
    }
}

Result<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
    std::size_t got = 0;
    if (const int error = SysRead(Loaded(m_fd), buffer, size, got)) {
        return ReadFailure(m_name, error);
    }
    return got;
}

Result<void> InputFile::Rewind() {
    if (!SetFilePointerEx(Loaded(m_fd), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        return ReadFailure(m_name, LastError());
    }
    return {};
}

// ---- Writing ------------------------------------------------------------------------

struct OutputFile::State {
    std::string path;    // as the user named it, for messages
    std::wstring target; // the file that will be replaced or made
    std::string shownFolder;
    HANDLE direct = INVALID_HANDLE_VALUE; // a device, pipe or stream written directly
    bool ownsHandle = true;
    bool exists = false;
    DWORD oldAttributes = 0;
    std::optional<Temporary> temporary;
};

namespace {

// A link is followed to the file it names, which is the one replaced.
std::wstring FinalPath(const std::wstring& path) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (SysOpen(Call::Stat, path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                OPEN_EXISTING, 0, handle) != 0) {
        return path;
    }
    std::wstring final(32768, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
    CloseHandle(handle);
    if (length == 0 || length >= final.size()) {
        return path;
    }
    final.resize(length);
    return final;
}

} // namespace

Result<OutputFile> OutputFile::Create(const std::string& path) {
    if (path.empty()) {
        return WriteFailure(path, 0, "no output file was named");
    }
    auto state = std::make_unique<State>();
    state->path = path;
    state->target = SystemPath(path);
    if (state->target.empty()) {
        return WriteFailure(path, EINVAL);
    }
    if (IsDevice(state->target)) {
        if (const int error =
                SysOpen(Call::Open, state->target, GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, state->direct)) {
            return WriteFailure(path, error);
        }
        return OutputFile(state.release());
    }
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool followed = false;
    if (const int error = SysAttributes(state->target, attributes)) {
        if (error != ENOENT) {
            return WriteFailure(path, error);
        }
    } else {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            return WriteFailure(path, EISDIR);
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            state->target = FinalPath(state->target);
            followed = true;
            SysAttributes(state->target, attributes);
        }
        // As cp does: a file its owner made read-only is not written over.
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            return WriteFailure(path, EACCES);
        }
        // Nor one the user may not write, or another program holds open.
        HANDLE probe = INVALID_HANDLE_VALUE;
        if (const int refused = SysOpen(Call::Stat, state->target, GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        OPEN_EXISTING, 0, probe)) {
            return WriteFailure(path, refused);
        }
        CloseHandle(probe);
        state->exists = true;
        state->oldAttributes = attributes;
    }
    state->shownFolder = ShownFolderOf(followed ? Shown(state->target) : path);
    state->temporary.emplace(FolderOf(state->target));
    if (const int error = state->temporary->Create()) {
        return FolderFailure(path, state->shownFolder, "no new file can be made in",
                             NotFoundOrNotAFolder(error, state->target));
    }
    return OutputFile(state.release());
}

OutputFile OutputFile::Stream(int fd, std::string name) {
    auto* state = new State;
    state->path = std::move(name);
    state->direct = HandleOf(fd);
    state->ownsHandle = false;
    return OutputFile(state);
}

OutputFile::OutputFile(OutputFile&& other) noexcept : m_state(other.m_state) {
    other.m_state = nullptr;
}

OutputFile::~OutputFile() {
    if (m_state != nullptr && m_state->direct != INVALID_HANDLE_VALUE && m_state->ownsHandle) {
        SysClose(m_state->direct);
    }
    delete m_state; // an uncommitted temporary goes with it
}

Result<void> OutputFile::Write(std::string_view bytes) {
    const bool direct = m_state->direct != INVALID_HANDLE_VALUE || !m_state->temporary;
    const HANDLE handle = direct ? m_state->direct : m_state->temporary->Handle();
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return WriteFailure(m_state->path, EBADF);
    }
    if (const int error = WriteAll(handle, bytes)) {
        return WriteFailure(m_state->path, error);
    }
    return {};
}

Result<void> OutputFile::Commit() {
    State& state = *m_state;
    const std::string& path = state.path;
    if (!state.temporary) {
        const HANDLE handle = state.direct;
        state.direct = INVALID_HANDLE_VALUE;
        if (state.ownsHandle && handle != INVALID_HANDLE_VALUE) {
            if (const int error = SysClose(handle)) {
                return WriteFailure(path, error);
            }
        }
        return {};
    }
    Temporary& temporary = *state.temporary;
    // The replaced file's attributes (hidden, system, not indexed), else a plain file's.
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        (state.exists ? state.oldAttributes & kKept : 0) | FILE_ATTRIBUTE_ARCHIVE;
    if (!SetFileInformationByHandle(temporary.Handle(), FileBasicInfo, &basic, sizeof basic)) {
        return WriteFailure(path, LastError());
    }
    if (const int error = SysFlush(temporary.Handle())) {
        return WriteFailure(path, error);
    }
    if (const int error = temporary.PlaceAt(state.target, state.exists)) {
        return FolderFailure(path, state.shownFolder, "the file cannot be replaced in", error);
    }
    // The text is flushed and in its place: whatever closing the handle says changes
    // nothing about that, and the output is not to be reported as failed when it stands.
    temporary.Close();
    return {};
}

// ---- Threads, memory, interruption, identity ------------------------------------------------

std::size_t AvailableMemory() {
    if (Inject(Call::MemoryQuery) != 0) {
        return PhysicalMemory(); // as when the system does not say what is free
    }
    return std::min(MachineMemory(), JobMemory());
}

void InstallInterruptCleanup() {
    SetConsoleCtrlHandler(EndQuietly, TRUE);
}

std::string FileKey(const std::string& path) {
    const std::wstring name = SystemPath(path);
    if (name.empty()) {
        return {};
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Folders open only with backup semantics; no access is asked for, only identity.
    if (SysOpen(Call::Stat, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, handle) == 0) {
        BY_HANDLE_FILE_INFORMATION info{};
        const int error = SysIdentity(handle, info);
        CloseHandle(handle);
        if (error == 0) {
            return "file " + std::to_string(info.dwVolumeSerialNumber) + ":" +
                   std::to_string((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
        }
    }
    // Not there yet: its place, in the case-blind way Windows compares names.
    std::wstring place = FinalPath(FolderOf(name)) + name.substr(FolderOf(name).size());
    CharUpperBuffW(place.data(), static_cast<DWORD>(place.size()));
    return "path " + Narrow(place);
}

} // namespace velmora::sys
