#include "source.h"

#include "bytes.h"
#include "io.h"
#include "memory.h"
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
    if (text.find("\r\n") != std::string_view::npos) {
        return "\r\n";
    }
    if (text.find('\n') != std::string_view::npos) {
        return "\n";
    }
    if (text.find('\r') != std::string_view::npos) {
        return "\r";
    }
    return "";
}

std::string NormaliseSource(std::string text) {
    const std::string_view lineBreak = DetectLineBreak(text);
    // Both replacements shrink or keep the text, so one pass writes over what it has
    // already read. The halving keeps the first, third, fifth... space of a run, which is
    // what replacing "  " by " " from the left without rescanning leaves.
    const bool pairs = lineBreak.size() == 2;
    // The character that starts a line break: CR for CR LF, else the break itself.
    const char breakStart = lineBreak.empty() ? '\0' : lineBreak[0];
    const std::size_t n = text.size();
    char* data = text.data();
    std::size_t in = 0;
    std::size_t out = 0;
    std::size_t spaceRun = 0; // spaces in the run that ends where `in` stands

    // Bytes written may run up to a block past `out`, rather than the exact few, once
    // what has been read is that far ahead: they land on bytes already done with.
    auto roomToSpare = [&] { return in - out >= Block::kSize; };

    // At a space or a line break: the whole run of them at once, since indentation and
    // wrapped lines make such runs common. Each line break counts as one space.
    auto run = [&] {
        std::size_t length = 0;
        for (;;) {
            while (in + Block::kSize <= n) {
                const std::uint32_t others = ~Block(data + in).Matches(' ');
                const auto spaces = std::min<std::size_t>(std::countr_zero(others), Block::kSize);
                in += spaces;
                length += spaces;
                if (spaces < Block::kSize) {
                    break;
                }
            }
            while (in < n && data[in] == ' ') {
                ++in;
                ++length;
            }
            if (in < n && !pairs && !lineBreak.empty() && data[in] == breakStart) {
                ++in;
            } else if (in + 1 < n && pairs && data[in] == '\r' && data[in + 1] == '\n') {
                in += 2;
            } else {
                break;
            }
            ++length;
        }
        if (length == 0) { // a CR that does not start a CR LF is a character like any other
            data[out++] = data[in++];
            spaceRun = 0;
            return;
        }
        // The run's spaces are numbers spaceRun to spaceRun + length - 1; the even ones stay.
        const std::size_t kept = (spaceRun + length + 1) / 2 - (spaceRun + 1) / 2;
        if (kept <= 8 && in - out >= 8) {
            std::memcpy(data + out, "        ", 8);
        } else {
            std::memset(data + out, ' ', kept);
        }
        out += kept;
        spaceRun += length;
    };

    // Most of a document is words and single spaces, which stay as they are: a block at a
    // time is checked for a line break or for a space that follows another (maybe the
    // last byte before it); what comes before the first such byte is copied whole and the
    // run that starts there is taken by `run`.
    constexpr std::uint32_t kLastByte = std::uint32_t{1} << (Block::kSize - 1);
    while (in + Block::kSize <= n) {
        const Block block(data + in);
        const std::uint32_t spaces = block.Matches(' ');
        std::uint32_t special = spaces & ((spaces << 1) | (spaceRun > 0 ? 1 : 0));
        if (!lineBreak.empty()) {
            special |= block.Matches(breakStart);
        }
        if (special == 0) {
            block.Store(data + out);
            out += Block::kSize;
            in += Block::kSize;
            spaceRun = (spaces & kLastByte) != 0 ? 1 : 0;
            continue;
        }
        const auto plain = static_cast<std::size_t>(std::countr_zero(special));
        if (plain > 0) {
            if (roomToSpare()) {
                block.Store(data + out);
            } else {
                std::memmove(data + out, data + in, plain);
            }
            out += plain;
            in += plain;
            spaceRun = (spaces >> (plain - 1)) & 1; // the byte before the special one
        }
        run();
    }
    while (in < n) {
        if (data[in] == ' ' || (!lineBreak.empty() && data[in] == breakStart)) {
            run();
        } else {
            data[out++] = data[in++];
            spaceRun = 0;
        }
    }
    text.resize(out);
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
