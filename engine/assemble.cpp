#include "assemble.h"

#include "io.h"
#include "steps.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::string_view kGreaterThan = "&gt;";
constexpr std::string_view kLessThan = "&lt;";

std::string_view TrimSpaces(std::string_view segment) {
    const std::size_t first = segment.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = segment.find_last_not_of(' ');
    return segment.substr(first, last - first + 1);
}

// Appends `text` less every `entity`, in one pass from the left that does not look at
// what it has written: removing the inner "&gt;" of "&&gt;gt;" leaves an "&gt;" behind.
void AppendWithout(std::string& out, std::string_view text, std::string_view entity) {
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = text.find(entity, pos);
        if (hit == std::string_view::npos) {
            out.append(text.substr(pos));
            return;
        }
        out.append(text.substr(pos, hit - pos));
        pos = hit + entity.size();
    }
}

// Removes every `entity` from `text` from `start` on, in place, in one pass from the
// left as AppendWithout does.
void EraseFrom(std::string& text, std::size_t start, std::string_view entity) {
    std::size_t hit = text.find(entity, start);
    if (hit == std::string::npos) {
        return;
    }
    std::size_t kept = hit;
    std::size_t pos = hit + entity.size();
    for (;;) {
        hit = text.find(entity, pos);
        const std::size_t stop = hit == std::string::npos ? text.size() : hit;
        // Moves left over what was removed; `kept` never passes `pos`.
        std::copy(text.begin() + static_cast<std::ptrdiff_t>(pos),
                  text.begin() + static_cast<std::ptrdiff_t>(stop),
                  text.begin() + static_cast<std::ptrdiff_t>(kept));
        kept += stop - pos;
        if (hit == std::string::npos) {
            break;
        }
        pos = hit + entity.size();
    }
    text.resize(kept);
}

// CleanLine appended to `out`, without a copy of the line on the side: a document that
// is one long line must not need its size in memory once more.
void AppendCleanLine(std::string& out, std::string_view trimmed) {
    const std::size_t start = out.size();
    if (trimmed.find('&') == std::string_view::npos) {
        out.append(trimmed);
    } else {
        AppendWithout(out, trimmed, kGreaterThan);
        EraseFrom(out, start, kLessThan);
    }
    // Markers become spaces only now, which is the same as doing it first: neither
    // entity holds a "+" or a space.
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '+', ' ');
}

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

// A name for the temporary file that no other writer, in this process or another,
// will pick at the same moment; O_EXCL catches the rest.
std::string TemporaryName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return folder + "/.velmora-" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(now % 1000000007) +
           ".tmp";
}

} // namespace

namespace detail {

bool IsContentLine(std::string_view trimmed) {
    const bool notEndingInMarker = trimmed.empty() || trimmed.back() != '+';
    const bool longerThanOne = trimmed.size() > 1;
    return notEndingInMarker && longerThanOne;
}

std::string CleanLine(std::string_view trimmed) {
    std::string line;
    AppendCleanLine(line, trimmed);
    return line;
}

} // namespace detail

Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax) {
    try {
        std::string out;
        if (!rewritten.empty()) {
            // Each of the k + 1 segments gains at most CR LF in place of its LF, so this
            // bound is never exceeded and the buffer never moves.
            const auto breaks =
                static_cast<std::size_t>(std::count(rewritten.begin(), rewritten.end(), '\n'));
            out.reserve(rewritten.size() + breaks + 2);
        }
        std::size_t pos = 0;
        while (pos <= rewritten.size() && !rewritten.empty()) {
            std::size_t end = rewritten.find('\n', pos);
            if (end == std::string_view::npos) {
                end = rewritten.size();
            }
            const std::string_view trimmed = TrimSpaces(rewritten.substr(pos, end - pos));
            if (detail::IsContentLine(trimmed)) {
                out.append("\r\n");
                AppendCleanLine(out, trimmed);
            }
            pos = end + 1;
        }
        sink.SetValue(progressMax);
        return out;
    } catch (const std::bad_alloc&) {
        return Failure{"cannot convert", {}, detail::kOutOfMemory};
    } catch (const std::length_error&) {
        return Failure{"cannot convert", {}, detail::kOutOfMemory};
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
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return WriteFailure(path, std::strerror(EISDIR));
        }
        const std::string folder = FolderOf(path);
        std::string temporary;
        int fd = -1;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temporary = TemporaryName(folder);
            // Mode 0666 less the umask, as for any new file.
            fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) {
                return WriteFailure(path, std::strerror(errno));
            }
        }
        if (fd < 0) {
            return WriteFailure(path, std::strerror(EEXIST));
        }
        detail::FileDescriptor file(fd);
        Result<void> written = WriteAll(file.Get(), text, path);
        if (written.Ok() && fsync(file.Get()) != 0) {
            written = WriteFailure(path, std::strerror(errno));
        }
        if (file.Close() != 0 && written.Ok()) {
            written = WriteFailure(path, std::strerror(errno));
        }
        if (written.Ok() && rename(temporary.c_str(), path.c_str()) != 0) {
            written = WriteFailure(path, std::strerror(errno));
        }
        if (!written.Ok()) {
            unlink(temporary.c_str());
        }
        return written;
    } catch (const std::bad_alloc&) {
        return WriteFailure(path, detail::kOutOfMemory);
    }
}

} // namespace velmora
