// What the system layer does alike on every system, over the primitives of platform.h.

#include "faults.h"
#include "platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>

namespace velmora::sys {

Failure FolderFailure(const std::string& path, const std::string& folder, const char* what,
                      int error) {
    if (error == EACCES || error == EPERM || error == EROFS) {
        return WriteFailure(path, error, std::string(what) + " the folder \"" + folder + "\"");
    }
    return WriteFailure(path, error);
}

std::string TemporaryLeaf() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return ".velmora-" + std::to_string(ProcessId()) + "-" + std::to_string(counter.fetch_add(1)) +
           "-" + std::to_string(now % 1000000007) + ".tmp";
}

unsigned long MakerOfTemporary(std::string_view leaf) {
    constexpr std::string_view kStart = ".velmora-";
    constexpr std::string_view kEnd = ".tmp";
    if (!leaf.starts_with(kStart) || !leaf.ends_with(kEnd)) {
        return 0;
    }
    leaf = leaf.substr(kStart.size(), leaf.size() - kStart.size() - kEnd.size());
    // Three numbers, each of a few digits: the process, a counter, the time.
    std::uint64_t numbers[3] = {};
    for (std::uint64_t& number : numbers) {
        std::size_t digits = 0;
        while (digits < leaf.size() && leaf[digits] >= '0' && leaf[digits] <= '9') {
            number = number * 10 + static_cast<std::uint64_t>(leaf[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 10) {
            return 0;
        }
        leaf.remove_prefix(digits);
        if (&number != &numbers[2]) {
            if (!leaf.starts_with('-')) {
                return 0;
            }
            leaf.remove_prefix(1);
        }
    }
    const bool whole = leaf.empty() && numbers[0] <= std::numeric_limits<unsigned long>::max();
    return whole ? static_cast<unsigned long>(numbers[0]) : 0;
}

bool FirstLookIn(const std::string& folderKey) {
    static std::mutex mutex;
    static std::set<std::string> seen;
    std::lock_guard lock(mutex);
    return seen.insert(folderKey).second;
}

namespace {

// One read, tried again when interrupted.
int ReadOnce(NativeFile& file, char* buffer, std::size_t size, std::size_t& got) {
    int error = 0;
    while ((error = ReadSome(file, buffer, size, got)) == EINTR) {
    }
    return error;
}

// Writes until all is written, through interruptions and short writes.
int WriteAll(NativeFile& file, std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t put = 0;
        if (const int error = WriteSome(file, bytes.data(), bytes.size(), put)) {
            if (error == EINTR) {
                continue;
            }
            return error;
        }
        if (put == 0) {
            return EIO;
        }
        bytes.remove_prefix(put);
    }
    return 0;
}

} // namespace

// ---- Reading ------------------------------------------------------------------------

namespace {

// Reading an open file as a ReadFunction does.
ReadFunction ReadingFrom(NativeFile& file) {
    return [&file](char* buffer, std::size_t size, std::size_t& got) {
        return ReadOnce(file, buffer, size, got);
    };
}

} // namespace

InputFile::InputFile(FileHandle file, std::string name, bool once)
    : m_file(std::move(file)), m_name(std::move(name)), m_once(once) {}
InputFile::InputFile(InputFile&& other) noexcept = default;
InputFile& InputFile::operator=(InputFile&& other) noexcept = default;
InputFile::~InputFile() = default;

Result<InputFile> InputFile::Open(const std::string& path) {
    FileHandle file;
    bool once = false;
    if (const int error = OpenInput(path, file, once)) {
        return ReadFailure(path, error);
    }
    if (once) {
        // A pipe or a device can be read only once.
        return CopyOf(ReadingFrom(*file), path);
    }
    return InputFile(std::move(file), path);
}

Result<InputFile> InputFile::CopyOf(int descriptor, const std::string& name) {
    if (StartedWithout(descriptor)) {
        return ReadFailure(name, EBADF);
    }
    const FileHandle from = Borrowed(descriptor);
    return CopyOf(ReadingFrom(*from), name);
}

Result<InputFile> InputFile::OpenOnce(const std::string& path) {
    FileHandle file;
    bool once = false;
    if (const int error = OpenInput(path, file, once)) {
        return ReadFailure(path, error);
    }
    return InputFile(std::move(file), path, once);
}

Result<InputFile> InputFile::StreamOnce(int descriptor, const std::string& name) {
    if (StartedWithout(descriptor)) {
        return ReadFailure(name, EBADF);
    }
    return InputFile(Borrowed(descriptor), name, true);
}

Result<InputFile> InputFile::Scratch(const std::string& name) {
    FileHandle scratch;
    std::string where;
    if (const int error = MakeScratchFile(scratch, where)) {
        return ReadFailure(name, error, "no temporary file to hold it in " + where);
    }
    return InputFile(std::move(scratch), name);
}

Result<void> InputFile::Append(std::string_view bytes) {
    if (const int error = WriteAll(*m_file, bytes)) {
        return ReadFailure(m_name, error, "no room for a temporary copy");
    }
    return {};
}

// Copies what `read` gives to its end into a temporary file, left at its start.
Result<InputFile> InputFile::CopyOf(const ReadFunction& read, const std::string& name) {
    FileHandle scratch;
    std::string where;
    if (const int error = MakeScratchFile(scratch, where)) {
        return ReadFailure(name, error, "no temporary file to hold it in " + where);
    }
    InputFile copy(std::move(scratch), name);
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    const std::unique_ptr<char[]> buffer(new char[kBlock]);
    for (;;) {
        std::size_t got = 0;
        if (const int error = read(buffer.get(), kBlock, got)) {
            return ReadFailure(name, error);
        }
        if (got == 0) {
            break;
        }
        if (const int error = WriteAll(*copy.m_file, std::string_view(buffer.get(), got))) {
            return ReadFailure(name, error, "no room for a temporary copy");
        }
    }
    if (Result<void> rewound = copy.Rewind(); !rewound.has_value()) {
        return rewound.error();
    }
    return copy;
}

Result<std::size_t> InputFile::Read(char* buffer, std::size_t size) {
    std::size_t got = 0;
    if (const int error = ReadOnce(*m_file, buffer, size, got)) {
        return ReadFailure(m_name, error);
    }
    return got;
}

Result<void> InputFile::Rewind() {
    if (const int error = RewindFile(*m_file)) {
        return ReadFailure(m_name, error);
    }
    return {};
}

Result<FileStamp> InputFile::Stamp() const {
    FileStamp stamp;
    if (const int error = StampFile(*m_file, stamp)) {
        return ReadFailure(m_name, error);
    }
    return stamp;
}

// ---- Writing ------------------------------------------------------------------------

struct OutputFile::State {
    std::string path;  // as the user named it, for messages
    FileHandle direct; // a device, FIFO, socket or stream written directly
    ReplacementHandle replacement;
    FileHandle held;                      // what goes to `direct` or `write` at the commit
    const WriteFunction* write = nullptr; // a caller's function, the text's last stop
    bool closed = false;                  // a standard stream the program was started without
    // Of the replacement: its bytes, and how many of them the disk has been asked to take
    // ahead of the flush at the commit.
    std::uint64_t size = 0;
    std::uint64_t sent = 0;
};

namespace {
// How much of a replacement is written before the disk is asked to start on it.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{4} << 20;
} // namespace

Result<OutputFile> OutputFile::Create(const std::string& path) {
    if (path.empty()) {
        return WriteFailure(path, 0, "no output file was named");
    }
    auto state = std::make_unique<State>();
    state->path = path;
    if (Result<void> opened = OpenOutput(path, state->direct, state->replacement);
        !opened.has_value()) {
        return opened.error();
    }
    return OutputFile(state.release());
}

OutputFile OutputFile::Stream(int descriptor, std::string name) {
    auto* state = new State;
    state->path = std::move(name);
    state->direct = Borrowed(descriptor);
    state->closed = StartedWithout(descriptor);
    return OutputFile(state);
}

Result<OutputFile> OutputFile::Writer(const WriteFunction& write, std::string name) {
    OutputFile output(new State);
    output.m_state->path = std::move(name);
    output.m_state->write = &write;
    if (Result<void> held = output.Hold(); !held.has_value()) {
        return held.error();
    }
    return output;
}

OutputFile::OutputFile(OutputFile&& other) noexcept : m_state(other.m_state) {
    other.m_state = nullptr;
}

OutputFile::~OutputFile() {
    delete m_state; // an uncommitted new file goes with it
}

Result<void> OutputFile::Write(std::string_view bytes) {
    if (m_state->closed) {
        return WriteFailure(m_state->path, EBADF);
    }
    NativeFile& file = m_state->held     ? *m_state->held
                       : m_state->direct ? *m_state->direct
                                         : FileOf(*m_state->replacement);
    if (const int error = WriteAll(file, bytes)) {
        return WriteFailure(m_state->path, error);
    }
    if (!m_state->held && !m_state->direct) {
        m_state->size += bytes.size();
        if (m_state->size - m_state->sent >= kWriteBackStep) {
            StartWriteBack(file, m_state->sent, m_state->size);
            m_state->sent = m_state->size;
        }
    }
    return {};
}

Result<void> OutputFile::Hold() {
    // The null device keeps nothing to be cut back or dropped.
    if (m_state->replacement || m_state->held ||
        (m_state->direct && KeepsNothing(*m_state->direct))) {
        return {};
    }
    std::string where;
    if (const int error = MakeScratchFile(m_state->held, where)) {
        return WriteFailure(m_state->path, error, "no temporary file to hold it in " + where);
    }
    return {};
}

Result<void> OutputFile::Cut(std::uint64_t size) {
    if (!m_state->held && !m_state->replacement) {
        return {}; // the null device
    }
    NativeFile& file = m_state->held ? *m_state->held : FileOf(*m_state->replacement);
    if (const int error = CutFile(file, size)) {
        return WriteFailure(m_state->path, error);
    }
    if (!m_state->held) {
        m_state->size = size;
        m_state->sent = std::min(m_state->sent, size);
    }
    return {};
}

Result<void> OutputFile::Commit() {
    if (m_state->held) { // the text held back goes where it was meant to
        if (const int error = RewindFile(*m_state->held)) {
            return WriteFailure(m_state->path, error);
        }
        constexpr std::size_t kBlock = std::size_t{1} << 16;
        const std::unique_ptr<char[]> buffer(new char[kBlock]);
        for (;;) {
            std::size_t got = 0;
            if (const int error = ReadOnce(*m_state->held, buffer.get(), kBlock, got)) {
                return WriteFailure(m_state->path, error);
            }
            if (got == 0) {
                break;
            }
            const std::string_view piece(buffer.get(), got);
            if (m_state->write != nullptr) {
                if (!(*m_state->write)(piece)) {
                    return Failure{Action::Convert, m_state->path, kStoppedMessage};
                }
            } else if (m_state->closed) {
                return WriteFailure(m_state->path, EBADF);
            } else if (const int error = WriteAll(*m_state->direct, piece)) {
                return WriteFailure(m_state->path, error);
            }
        }
        if (m_state->write != nullptr) {
            return {};
        }
    }
    if (m_state->direct) {
        const EndingHeldOff held;
        if (const int error = CloseFile(std::move(m_state->direct))) {
            return WriteFailure(m_state->path, error);
        }
        ConversionSettled();
        return {};
    }
    return PutInPlace(*m_state->replacement, m_state->path);
}

// ---- The conversions a program expects ----------------------------------------------

namespace {

// How many are unfinished; -1 where no count is kept (the window). Lock-free, for the
// signal handler.
std::atomic<long> g_unsettled{-1};
static_assert(std::atomic<long>::is_always_lock_free);

} // namespace

void ExpectConversions(std::size_t count) {
    g_unsettled.store(static_cast<long>(count));
}

void ConversionSettled() {
    long left = g_unsettled.load();
    while (left > 0 && !g_unsettled.compare_exchange_weak(left, left - 1)) {
    }
}

bool AllSettled() {
    return g_unsettled.load() == 0;
}

// ---- Standard output and error --------------------------------------------------------

int WriteToStandardStream(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const long put = WriteStandardStream(descriptor, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return put < 0 ? errno : EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

// ---- Memory -------------------------------------------------------------------------

std::size_t AvailableMemory() {
    if (Inject(Call::MemoryQuery) != 0) {
        return PhysicalMemory(); // as when the system does not say what is free
    }
    return std::min(MachineMemory(), LimitedMemory());
}

} // namespace velmora::sys
