#include "source.h"

#include "bytes.h"
#include "io.h"
#include "memory.h"
#include "stages.h"
#include "steps.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {

namespace {

constexpr std::string_view kRefusalPhrase = "zoak metadata report generated";

Failure ReadFailure(const std::string& path, std::string reason) {
    return Failure{"cannot read", path, std::move(reason)};
}

} // namespace

Result<std::string> ReadSourceStream(int fd, const std::string& name) {
    // Read in pieces and joined once at the end: doubling one buffer as it fills would
    // hold twice the input, then three times it while copying to the final size.
    constexpr std::size_t kPiece = std::size_t{4} << 20;
    try {
        std::vector<std::string> pieces;
        std::size_t total = 0;
        std::size_t used = kPiece; // of the last piece
        for (;;) {
            if (used == kPiece) {
                // An input of no known size is held to the memory budget as it grows,
                // so that an endless one ends in a failure, not in the process killed.
                if (ConversionMemory(total + kPiece) - total > MemoryBudget::Shared().Room()) {
                    return ReadFailure(name, detail::kOutOfMemory);
                }
                pieces.emplace_back(kPiece, '\0');
                used = 0;
            }
            const ssize_t got = read(fd, pieces.back().data() + used, kPiece - used);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return ReadFailure(name, std::strerror(errno));
            }
            if (got == 0) {
                break;
            }
            used += static_cast<std::size_t>(got);
            total += static_cast<std::size_t>(got);
        }
        std::string text = detail::NewText(total);
        std::size_t at = 0;
        for (std::string& piece : pieces) {
            const std::size_t count = std::min(kPiece, total - at);
            std::memcpy(text.data() + at, piece.data(), count);
            at += count;
            std::string().swap(piece);
        }
        return text;
    } catch (const std::bad_alloc&) {
        return ReadFailure(name, detail::kOutOfMemory);
    } catch (const std::length_error&) {
        return ReadFailure(name, detail::kOutOfMemory);
    }
}

Result<std::string> ReadSourceFile(const std::string& path) {
    detail::FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return ReadFailure(path, std::strerror(errno));
    }
    struct stat info {};
    if (fstat(file.Get(), &info) != 0) {
        return ReadFailure(path, std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return ReadFailure(path, std::strerror(EISDIR));
    }
    if (!S_ISREG(info.st_mode) || info.st_size == 0) {
        // A pipe or a device has no length to go by, and some generated files report
        // none.
        return ReadSourceStream(file.Get(), path);
    }
    try {
        // The size is a hint: files under /proc and /sys say more or less than they hold,
        // and a file may grow while it is read. What counts is where reading ends.
        const auto length = static_cast<std::size_t>(info.st_size);
        std::string text = detail::NewText(length);
        std::size_t used = 0;
        while (used < length) {
            const ssize_t got = read(file.Get(), text.data() + used, length - used);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return ReadFailure(path, std::strerror(errno));
            }
            if (got == 0) {
                text.resize(used);
                return text;
            }
            used += static_cast<std::size_t>(got);
        }
        char probe[4096];
        ssize_t more = 0;
        while ((more = read(file.Get(), probe, sizeof probe)) < 0 && errno == EINTR) {
        }
        if (more < 0) {
            return ReadFailure(path, std::strerror(errno));
        }
        if (more == 0) {
            return text;
        }
        Result<std::string> rest = ReadSourceStream(file.Get(), path);
        if (!rest.Ok()) {
            return rest;
        }
        text.append(probe, static_cast<std::size_t>(more)).append(rest.Value());
        return text;
    } catch (const std::bad_alloc&) {
        return ReadFailure(path, detail::kOutOfMemory);
    } catch (const std::length_error&) {
        return ReadFailure(path, detail::kOutOfMemory);
    }
}

namespace detail {

std::string_view DetectLineBreak(std::string_view text) {
    LineBreakFinder finder;
    finder.Feed(text);
    return finder.LineBreak();
}

std::string NormaliseSource(std::string text) {
    Normaliser normaliser(DetectLineBreak(text));
    text.resize(normaliser.Feed(text.data(), text.size(), true).size());
    return text;
}

bool IsRefusedReport(std::string_view normalised) {
    return FindFolded(normalised, kRefusalPhrase) != std::string_view::npos;
}

} // namespace detail

PreparedSource PrepareSourceText(std::string text) {
    if (text.empty()) {
        return {SourceOutcome::Empty, {}};
    }
    std::string normalised = detail::NormaliseSource(std::move(text));
    const SourceOutcome outcome =
        detail::IsRefusedReport(normalised) ? SourceOutcome::Refused : SourceOutcome::Accepted;
    return {outcome, std::move(normalised)};
}

Result<PreparedSource> PrepareSource(const std::string& path) {
    Result<std::string> read = ReadSourceFile(path);
    if (!read.Ok()) {
        return read.GetFailure();
    }
    return PrepareSourceText(std::move(read.Value()));
}

} // namespace velmora
