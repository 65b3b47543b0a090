#include "assemble.h"

#include "bytes.h"
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
    std::size_t first = 0;
    std::size_t last = segment.size();
    while (first < last && segment[first] == ' ') {
        ++first;
    }
    while (last > first && segment[last - 1] == ' ') {
        --last;
    }
    return segment.substr(first, last - first);
}

// Copies `text` to `out` less every `entity`, in one pass from the left that does not
// look at what it has written: removing the inner "&gt;" of "&&gt;gt;" leaves an "&gt;"
// behind. Returns the length written.
std::size_t CopyWithout(char* out, std::string_view text, std::string_view entity) {
    char* const begin = out;
    for (std::size_t pos = 0;;) {
        const std::size_t hit = text.find(entity, pos);
        const std::size_t stop = hit == std::string_view::npos ? text.size() : hit;
        std::memmove(out, text.data() + pos, stop - pos);
        out += stop - pos;
        if (hit == std::string_view::npos) {
            return static_cast<std::size_t>(out - begin);
        }
        pos = hit + entity.size();
    }
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

// The markers in front become the indentation; in the rest, the entities go in two
// passes, "&lt;" after "&gt;", the second over what the first left, in place: a document
// that is one long line must not need its size in memory once more. A "+" in the rest
// becomes a space last, which is the same as first: neither entity holds one.
std::size_t CleanLine(char* out, std::string_view trimmed) {
    std::size_t markers = 0;
    while (markers < trimmed.size() && trimmed[markers] == '+') {
        ++markers;
    }
    std::memset(out, ' ', markers);
    const std::string_view rest = trimmed.substr(markers);
    char* const text = out + markers;
    const char* const restEnd = rest.data() + rest.size();
    std::size_t length = rest.size();
    if (FindByte(rest.data(), restEnd, '&') == restEnd) {
        std::memcpy(text, rest.data(), length);
    } else {
        length = CopyWithout(text, rest, kGreaterThan);
        length = CopyWithout(text, std::string_view(text, length), kLessThan);
    }
    char* const end = text + length;
    for (char* plus = text; (plus = const_cast<char*>(FindByte(plus, end, '+'))) != end;) {
        *plus++ = ' ';
    }
    return markers + length;
}

bool IsContentLine(std::string_view trimmed) {
    const bool notEndingInMarker = trimmed.empty() || trimmed.back() != '+';
    const bool longerThanOne = trimmed.size() > 1;
    return notEndingInMarker && longerThanOne;
}

} // namespace detail

Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax, std::string spare) {
    try {
        // A line never outgrows its segment by more than the CR that joins its LF, so a
        // text of short segments may not fit in this first guess: then the room left is
        // worked out exactly, from the line feeds still to come, and made once.
        const std::size_t guess = rewritten.size() + rewritten.size() / 16 + 64;
        std::string out = std::move(spare);
        if (out.capacity() >= guess) {
            out.resize(guess); // memory already in use: no new pages to fault in
        } else {
            out = detail::NewText(guess);
        }
        std::size_t size = 0;
        std::size_t pos = 0;
        while (pos <= rewritten.size() && !rewritten.empty()) {
            const char* const text = rewritten.data();
            const auto end = static_cast<std::size_t>(
                detail::FindByte(text + pos, text + rewritten.size(), '\n') - text);
            const std::string_view trimmed = TrimSpaces(rewritten.substr(pos, end - pos));
            if (detail::IsContentLine(trimmed)) {
                if (size + 2 + trimmed.size() > out.size()) {
                    const std::string_view rest = rewritten.substr(pos);
                    const auto feeds = static_cast<std::size_t>(
                        std::count(rest.begin(), rest.end(), '\n'));
                    out.resize(size + rest.size() + feeds + 2);
                }
                out[size++] = '\r';
                out[size++] = '\n';
                size += detail::CleanLine(out.data() + size, trimmed);
            }
            pos = end + 1;
        }
        out.resize(size);
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
