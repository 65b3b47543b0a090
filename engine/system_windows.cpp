// The system's primitives on Windows, under the system core (system_common.cpp), through
// the Win32 calls themselves: no C run-time file (whose text mode turns CR LF into LF and
// stops at byte 0x1A), 64-bit positions, and paths kept in UTF-8 inside and turned into
// UTF-16 at each call. A Win32 error becomes the errno value of the same condition, so
// that failures read as they do on Linux.

#include "faults.h"
#include "platform.h"
#include "velmora/wide_text.h"
#include "velmora/wildcards.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <fcntl.h>
#include <io.h>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

namespace velmora::sys {

struct NativeFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool owned = true;
};

namespace {

// ReadFile and WriteFile take 32-bit counts; a gigabyte a call stays well inside them.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;
constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// ---- Errors -------------------------------------------------------------------------

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

// ERROR_DIRECTORY_NOT_SUPPORTED, which MinGW's headers lack.
constexpr DWORD kDirectoryNotSupported = 336;

// The Windows error that stands for an errno value, for the words Windows gives it: the
// reverse of ErrnoOf, taking for each value the error a user meets most. 0 for none.
DWORD WindowsErrorOf(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: // a folder in the path is a file: Windows finds no such path
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case EISDIR: // Windows says "access denied" of a folder opened as a file
        return kDirectoryNotSupported;
    case EPERM:
        return ERROR_PRIVILEGE_NOT_HELD;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case EMFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case EFBIG:
        return ERROR_FILE_TOO_LARGE;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ESPIPE:
        return ERROR_SEEK_ON_DEVICE;
    case EINVAL: // a path Windows cannot take
        return ERROR_INVALID_NAME;
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case EIO:
        return ERROR_IO_DEVICE;
    case EINTR:
        return ERROR_OPERATION_ABORTED;
    default:
        return 0;
    }
}

// ---- Paths ----------------------------------------------------------------------------

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

int SysOpen(Call kind, const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags, HANDLE& handle) {
    handle = INVALID_HANDLE_VALUE;
    return Guarded(kind, [&] {
        handle = CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
        return handle == INVALID_HANDLE_VALUE ? LastError() : 0;
    });
}

bool Valid(HANDLE handle) {
    return handle != INVALID_HANDLE_VALUE && handle != nullptr;
}

int SysFlush(HANDLE handle) {
    return Guarded(Call::Flush, [&] { return FlushFileBuffers(handle) ? 0 : LastError(); });
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
    return Guarded(Call::Stat, [&] {
        attributes = GetFileAttributesW(path.c_str());
        return attributes == INVALID_FILE_ATTRIBUTES ? LastError() : 0;
    });
}

int SysIdentity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return Guarded(Call::Stat,
                   [&] { return GetFileInformationByHandle(handle, &info) ? 0 : LastError(); });
}

int SysMove(const std::wstring& from, const std::wstring& to) {
    return Guarded(Call::Place, [&] {
        return MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? 0
                   : LastError();
    });
}

int SysRemove(const std::wstring& path) {
    return Guarded(Call::Remove, [&] { return DeleteFileW(path.c_str()) ? 0 : LastError(); });
}

int SysSeekStart(HANDLE handle) {
    return Guarded(Call::Seek, [&] {
        return SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_BEGIN) ? 0 : LastError();
    });
}

int SysCut(HANDLE handle, std::uint64_t size) {
    return Guarded(Call::Seek, [&] {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size);
        return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle)
                   ? 0
                   : LastError();
    });
}

// Sets what SetFileInformationByHandle sets (a file's attributes and times, its deletion
// mark), as a call of `kind`.
template <typename Info>
int SysSetInformation(Call kind, HANDLE handle, FILE_INFO_BY_HANDLE_CLASS type, Info& info) {
    return Guarded(kind, [&] {
        return SetFileInformationByHandle(handle, type, &info, sizeof info) ? 0 : LastError();
    });
}

int SysBasicInformation(HANDLE handle, FILE_BASIC_INFO& basic) {
    return Guarded(Call::Stat, [&] {
        return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)
                   ? 0
                   : LastError();
    });
}

int SysFinalPath(HANDLE handle, std::wstring& final, DWORD& length) {
    length = 0;
    return Guarded(Call::Stat, [&] {
        length =
            GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()), 0);
        return length == 0 ? LastError() : 0;
    });
}

// The first name in a folder that matches `pattern`, and the next; ENOENT at the end.
int SysFindFirst(const std::wstring& pattern, HANDLE& search, WIN32_FIND_DATAW& found) {
    search = INVALID_HANDLE_VALUE;
    return Guarded(Call::Stat, [&] {
        search = FindFirstFileW(pattern.c_str(), &found);
        return search == INVALID_HANDLE_VALUE ? LastError() : 0;
    });
}
int SysFindNext(HANDLE search, WIN32_FIND_DATAW& found) {
    return Guarded(Call::Stat, [&] {
        return FindNextFileW(search, &found)           ? 0
               : GetLastError() == ERROR_NO_MORE_FILES ? ENOENT
                                                       : LastError();
    });
}
int SysFindClose(HANDLE search) {
    const int error = Inject(Call::Close);
    return !FindClose(search) && error == 0 ? LastError() : error;
}
// 0 when a process `id` is there (whoever's it is), ESRCH when there is none.
int SysProcessThere(DWORD id) {
    return Guarded(Call::Stat, [&] {
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process != nullptr) {
            CloseHandle(process);
            return 0;
        }
        return GetLastError() == ERROR_INVALID_PARAMETER ? ESRCH : LastError();
    });
}

// Windows says a path is not found where a folder in it is a file; Linux says which.
int NotFoundOrNotAFolder(int error, const std::wstring& path) {
    if (error != ENOENT) {
        return error;
    }
    for (std::wstring folder = path.substr(0, path.rfind(L'\\')); folder.size() > 7;
         folder = folder.substr(0, folder.rfind(L'\\'))) {
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (SysAttributes(folder, attributes) == 0) {
            return attributes & FILE_ATTRIBUTE_DIRECTORY ? ENOENT : ENOTDIR;
        }
    }
    return ENOENT;
}

FileHandle Owned(HANDLE handle) {
    return FileHandle(new NativeFile{handle, true});
}

// Marks an open file to go when its last handle closes, or takes the mark back; 0 or the
// error. Unlike FILE_FLAG_DELETE_ON_CLOSE the mark can be taken back, so that the output
// can be written under it and kept once whole: a process that ends in any way before
// then, killed included, leaves nothing behind. Marking is a removal to the fault seam,
// taking the mark back a step of putting the file in place.
int MarkForDeletion(HANDLE handle, bool doomed) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = doomed ? TRUE : FALSE;
    return SysSetInformation(doomed ? Call::Remove : Call::Place, handle, FileDispositionInfo,
                             disposition);
}

// A name for a temporary file in `folder`.
std::wstring TemporaryName(const std::wstring& folder) {
    return folder + L"\\" + Wide(TemporaryLeaf());
}

// Removes the temporaries that processes ended before the system could delete them
// (killed between taking a temporary's deletion mark back and moving it into place, or
// after moving the old file aside), the first time this process writes in the folder.
// Only names of the exact form TemporaryLeaf makes, and only where the process the name
// gives is gone. Nothing here may stop the conversion.
void RemoveLeftovers(const std::wstring& folder) {
    std::wstring key = folder;
    CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    if (!FirstLookIn(Narrow(key))) {
        return;
    }
    WIN32_FIND_DATAW found{};
    HANDLE search = INVALID_HANDLE_VALUE;
    if (SysFindFirst(folder + L"\\.velmora-*.tmp", search, found) != 0) {
        return;
    }
    std::vector<std::wstring> leftovers;
    do {
        const unsigned long maker = MakerOfTemporary(Narrow(found.cFileName));
        if (maker != 0 && maker != ProcessId() &&
            SysProcessThere(static_cast<DWORD>(maker)) == ESRCH) {
            leftovers.emplace_back(found.cFileName);
        }
    } while (SysFindNext(search, found) == 0);
    SysFindClose(search);
    for (const std::wstring& leftover : leftovers) {
        SysRemove(folder + L"\\" + leftover);
    }
}

// ---- Interruption ---------------------------------------------------------------------

// Temporaries being put in place: between taking back their deletion mark and the move,
// a Ctrl+C must wait, or it would leave a named temporary behind. Fixed slots, so that
// the handler's thread takes no lock and touches no heap.
enum SlotState : int { kFree, kTaken, kPlacing };
std::array<std::atomic<int>, 64> g_slots{};
std::atomic<bool> g_ending{false};
std::atomic<int> g_holds{0}; // EndingHeldOff's

BOOL WINAPI EndQuietly(DWORD) {
    g_ending.store(true);
    for (std::atomic<int>& slot : g_slots) {
        while (slot.load() == kPlacing) {
            Sleep(1);
        }
    }
    while (g_holds.load() > 0) {
        Sleep(1);
    }
    if (AllSettled()) { // every conversion asked for is finished: the status stands
        g_ending.store(false);
        return TRUE;
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

} // namespace

// The console's handler runs on a thread of its own: it waits for the holds to end.
EndingHeldOff::EndingHeldOff() {
    ++g_holds;
}

EndingHeldOff::~EndingHeldOff() {
    --g_holds;
}

namespace {

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
        const bool marked = m_placed || MarkForDeletion(m_handle, true) == 0;
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
                if (const int marking = MarkForDeletion(m_handle, true)) {
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
    NativeFile& File() {
        m_file = {m_handle, false};
        return m_file;
    }

    // Takes the deletion mark back and moves the file over `target`, replacing what is
    // there; on failure the mark is put back.
    int PlaceAt(const std::wstring& target, bool replacing) {
        if (!m_slot.Begin()) {
            m_slot.End();
            return EINTR;
        }
        int error = MarkForDeletion(m_handle, false);
        if (error == 0 && (error = SysMove(m_name, target)) == EACCES && replacing) {
            error = MoveAsideAndPlace(target);
        }
        if (error != 0) {
            MarkForDeletion(m_handle, true);
        } else {
            m_placed = true;
            ConversionSettled(); // in the same step, to a Ctrl+C waiting for it
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
    NativeFile m_file; // the handle, borrowed, for the system core to write through
};

} // namespace

// ---- Files ----------------------------------------------------------------------------

void CloseNativeFile::operator()(NativeFile* file) const {
    if (file->owned && file->handle != INVALID_HANDLE_VALUE) {
        SysClose(file->handle);
    }
    delete file;
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

int ReadSome(NativeFile& file, char* buffer, std::size_t size, std::size_t& done) {
    done = 0;
    return Guarded(Call::Read, size, [&] {
        if (!Valid(file.handle)) {
            return EBADF;
        }
        DWORD count = 0;
        if (!ReadFile(file.handle, buffer, static_cast<DWORD>(std::min(size, kMostPerCall)), &count,
                      nullptr)) {
            const DWORD failure = GetLastError();
            // A pipe whose writer has gone has reached its end.
            return failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF ? 0
                                                                               : ErrnoOf(failure);
        }
        done = count;
        return 0;
    });
}

int WriteSome(NativeFile& file, const char* bytes, std::size_t size, std::size_t& done) {
    done = 0;
    return Guarded(Call::Write, size, [&] {
        if (!Valid(file.handle)) {
            return EBADF;
        }
        DWORD count = 0;
        if (!WriteFile(file.handle, bytes, static_cast<DWORD>(std::min(size, kMostPerCall)), &count,
                       nullptr)) {
            return LastError();
        }
        done = count;
        return 0;
    });
}

int RewindFile(NativeFile& file) {
    return SysSeekStart(file.handle);
}

int CutFile(NativeFile& file, std::uint64_t size) {
    return SysCut(file.handle, size);
}

void StartWriteBack(NativeFile&, std::uint64_t, std::uint64_t) {} // the flush does it all

bool KeepsNothing(NativeFile&) {
    return false; // NUL is not told apart from a console: held back like one
}

int StampFile(NativeFile& file, FileStamp& stamp) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (const int error = SysIdentity(file.handle, info)) {
        return error;
    }
    const auto joined = [](DWORD high, DWORD low) {
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    stamp = FileStamp{
        info.dwVolumeSerialNumber, joined(info.nFileIndexHigh, info.nFileIndexLow),
        joined(info.nFileSizeHigh, info.nFileSizeLow),
        joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime), 0};
    // The change time, where the file system keeps one.
    FILE_BASIC_INFO basic{};
    if (SysBasicInformation(file.handle, basic) == 0) {
        stamp.changed = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
    }
    return 0;
}

int CloseFile(FileHandle file) {
    const HANDLE handle = std::exchange(file->handle, INVALID_HANDLE_VALUE);
    return file->owned && handle != INVALID_HANDLE_VALUE ? SysClose(handle) : 0;
}

// The handle behind a C run-time descriptor (0 to 2 are the standard handles).
FileHandle Borrowed(int descriptor) {
    return FileHandle(new NativeFile{reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), false});
}

int OpenInput(const std::string& path, FileHandle& file, bool& once) {
    const std::wstring name = SystemPath(path);
    if (name.empty()) {
        return ENOENT;
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
        return NotFoundOrNotAFolder(error == EINVAL ? ENOENT : error, name);
    }
    file = Owned(handle);
    // A pipe or a device can be read only once.
    once = Inject(Call::Stat) != 0 || GetFileType(handle) != FILE_TYPE_DISK;
    return 0;
}

// A stream copied to a file in the temporary folder that goes when it is closed.
int MakeScratchFile(FileHandle& file, std::string& where) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::array<wchar_t, MAX_PATH + 1> base{};
    const DWORD length = GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    std::wstring folder =
        length > 0 && length < base.size() ? std::wstring(base.data(), length) : std::wstring(L".");
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    where = Narrow(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int error = SysOpen(
            Call::CreateTemporary, TemporaryName(folder), GENERIC_READ | GENERIC_WRITE, 0,
            CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, handle);
        if (error == 0) {
            file = Owned(handle);
        }
        if (error != EEXIST) {
            return error;
        }
    }
    return EEXIST;
}

// ---- The output -------------------------------------------------------------------------

struct Replacement {
    std::wstring target; // the file that will be replaced or made
    std::string shownFolder;
    bool exists = false;
    DWORD oldAttributes = 0;
    std::optional<Temporary> temporary;
};

void DropReplacement::operator()(Replacement* replacement) const {
    delete replacement; // an uncommitted temporary goes with it
}

NativeFile& FileOf(Replacement& replacement) {
    return replacement.temporary->File();
}

namespace {

// A link is followed to the file it names, which is the one replaced.
std::wstring FinalPath(const std::wstring& path) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (SysOpen(Call::Stat, path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                OPEN_EXISTING, 0, handle) != 0) {
        return path;
    }
    std::wstring final(32768, L'\0');
    DWORD length = 0;
    const int error = SysFinalPath(handle, final, length);
    SysClose(handle);
    if (error != 0 || length >= final.size()) {
        return path;
    }
    final.resize(length);
    return final;
}

} // namespace

Result<void> OpenOutput(const std::string& path, FileHandle& direct,
                        ReplacementHandle& replacement) {
    ReplacementHandle made(new Replacement);
    Replacement* const state = made.get();
    state->target = SystemPath(path);
    if (state->target.empty()) {
        return WriteFailure(path, EINVAL);
    }
    if (IsDevice(state->target)) {
        HANDLE handle = INVALID_HANDLE_VALUE;
        if (const int error =
                SysOpen(Call::Open, state->target, GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, handle)) {
            return WriteFailure(path, error);
        }
        direct = Owned(handle);
        return {};
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
        SysClose(probe);
        state->exists = true;
        state->oldAttributes = attributes;
    }
    state->shownFolder = ShownFolderOf(followed ? Shown(state->target) : path);
    RemoveLeftovers(FolderOf(state->target));
    state->temporary.emplace(FolderOf(state->target));
    if (const int error = state->temporary->Create()) {
        return FolderFailure(path, state->shownFolder, "no new file can be made in",
                             NotFoundOrNotAFolder(error, state->target));
    }
    replacement = std::move(made);
    return {};
}

Result<void> PutInPlace(Replacement& state, const std::string& path) {
    Temporary& temporary = *state.temporary;
    // The replaced file's attributes (hidden, system, not indexed), else a plain file's.
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        (state.exists ? state.oldAttributes & kKept : 0) | FILE_ATTRIBUTE_ARCHIVE;
    if (const int error =
            SysSetInformation(Call::Attributes, temporary.Handle(), FileBasicInfo, basic)) {
        return WriteFailure(path, error);
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

// ---- Words ----------------------------------------------------------------------------

std::string SystemWords(int error) {
    const DWORD code = WindowsErrorOf(error);
    wchar_t* words = nullptr;
    const DWORD length =
        code == 0 ? 0
                  : FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&words), 0, nullptr);
    std::wstring text(words != nullptr ? words : L"", length);
    LocalFree(words);
    // The system's sentence ends in a full stop and a line break; the caller ends its own.
    // A system without words for the error (Wine has none for some) leaves Linux's.
    while (!text.empty() && (text.back() == L'.' || std::iswspace(text.back()))) {
        text.pop_back();
    }
    return text.empty() ? ErrorText(error) : Narrow(text);
}

// ---- Start-up, interruption, identity ---------------------------------------------------

const std::string_view kPathSeparators = ":/\\"; // "C:report" too

bool StartProcess(bool commandLine, int, char**, std::vector<Argument>& arguments) {
    if (commandLine) {
        for (const int fd : {0, 1, 2}) {
            _setmode(fd, _O_BINARY);
        }
    }
    InstallInterruptCleanup();
    // The arguments as the user typed them, whatever the code page. Which of them are
    // wildcards for us to expand shows only on the line itself: quotes are gone from
    // CommandLineToArgvW's words. The system's words are the ones taken; where our reading
    // of the line would give other words, nothing is expanded.
    const LPCWSTR line = GetCommandLineW();
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(line, &count);
    for (int i = 0; wide != nullptr && i < count; ++i) {
        arguments.push_back({Narrow(wide[i]), false});
    }
    LocalFree(wide);
    const std::vector<Argument> typed = SplitCommandLine(Narrow(line));
    if (typed.size() == arguments.size()) {
        for (std::size_t i = 1; i < typed.size(); ++i) {
            if (typed[i].text != arguments[i].text) {
                return true;
            }
        }
        for (std::size_t i = 1; i < typed.size(); ++i) {
            arguments[i].pattern = typed[i].pattern;
        }
    }
    return true;
}

long WriteStandardStream(int descriptor, const char* bytes, std::size_t size) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (!Valid(handle) || !GetConsoleMode(handle, &mode)) {
        return _write(descriptor, bytes,
                      static_cast<unsigned>(std::min<std::size_t>(size, kMostPerCall)));
    }
    // A console shows bytes in its code page (437 in a Western one), whatever they are:
    // UTF-8 goes to it as the characters themselves.
    std::array<char16_t, 2048> wide;
    std::size_t made = 0;
    const std::size_t taken =
        WidenUtf8(std::string_view(bytes, size), wide.data(), wide.size(), made);
    for (std::size_t written = 0; written < made;) {
        DWORD count = 0;
        if (!WriteConsoleW(handle, wide.data() + written, static_cast<DWORD>(made - written),
                           &count, nullptr) ||
            count == 0) {
            errno = LastError();
            return -1;
        }
        written += count;
    }
    return static_cast<long>(taken);
}

// Windows names no descriptors as files; its devices ("NUL", "CON") are written in place.
bool NamesARegularFile(const std::string&) {
    return true;
}

void InstallInterruptCleanup() {
    SetConsoleCtrlHandler(EndQuietly, TRUE);
}

namespace {

// One file, whatever its names: its volume and its index there.
std::string IdentityKey(const BY_HANDLE_FILE_INFORMATION& info) {
    return "file " + std::to_string(info.dwVolumeSerialNumber) + ":" +
           std::to_string((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
}

} // namespace

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
        SysClose(handle);
        if (error == 0) {
            return IdentityKey(info);
        }
    }
    // Not there yet: its place, in the case-blind way Windows compares names.
    std::wstring place = FinalPath(FolderOf(name)) + name.substr(FolderOf(name).size());
    CharUpperBuffW(place.data(), static_cast<DWORD>(place.size()));
    return "path " + Narrow(place);
}

// ---- Folders ----------------------------------------------------------------------------

int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    std::wstring query = SystemPath(folder.empty() ? std::string(".") : folder);
    if (query.empty()) {
        return ENOENT;
    }
    if (query.back() != L'\\') {
        query += L'\\';
    }
    query += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE listing = INVALID_HANDLE_VALUE;
    if (const int error = Guarded(Call::Open, [&] {
            listing = FindFirstFileExW(query.c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
            const DWORD failure = listing == INVALID_HANDLE_VALUE ? GetLastError() : 0;
            // A drive's root folder holds not even "." and "..": empty, it finds nothing.
            return failure == 0 || failure == ERROR_FILE_NOT_FOUND ? 0 : ErrnoOf(failure);
        })) {
        return error;
    }
    if (listing == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int error = 0;
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const DWORD attributes = found.dwFileAttributes;
        entries.push_back({Narrow(name), (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0,
                           // A link or a junction, not a file a cloud or a
                           // deduplicating store keeps its own way.
                           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                               IsReparseTagNameSurrogate(found.dwReserved0)});
    } while ((error = Guarded(Call::Read, [&] {
                  return FindNextFileW(listing, &found)          ? 0
                         : GetLastError() == ERROR_NO_MORE_FILES ? -1
                                                                 : LastError();
              })) == 0);
    FindClose(listing);
    return error < 0 ? 0 : error;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = 0;
    const std::wstring system = SystemPath(path);
    return !system.empty() && SysAttributes(system, attributes) == 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int MakeFolder(const std::string& folder) {
    const std::wstring path = SystemPath(folder);
    return Guarded(Call::CreateTemporary, [&] {
        return path.empty() ? ENOENT : CreateDirectoryW(path.c_str(), nullptr) ? 0 : LastError();
    });
}

std::string ComparableName(std::string_view name) {
    std::wstring wide = Wide(name);
    CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return Narrow(wide);
}

std::string StreamKey(int descriptor, bool regularOnly) {
    // Only a file on a disk has an identity to compare; a console or a pipe has none,
    // and so no other name.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        SysIdentity(handle, info) != 0 ||
        (regularOnly && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
        return {};
    }
    return IdentityKey(info);
}

} // namespace velmora::sys
