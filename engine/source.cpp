#include "phases.h"

#include "bytes.h"
#include "normaliser.h"
#include "out_of_memory.h"
#include "scanner.h"
#include "steps.h"
#include "system.h"
#include "velmora/process.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <stdexcept>

namespace velmora {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

// The whole of an input, read a block at a time into a string that grows as it fills,
// no further than the memory the system can give.
Result<std::string> ReadWhole(Result<sys::InputFile> opened) {
    if (!opened.has_value()) {
        return opened.error();
    }
    sys::InputFile& file = opened.value();
    return detail::OrOutOfMemory(Action::Read, file.Name(), [&]() -> Result<std::string> {
        std::string text;
        std::size_t size = 0;
        for (;;) {
            if (text.size() - size < kBlock) {
                const std::size_t grown = std::max(text.size() * 2, size + kBlock);
                if (grown >= (std::size_t{8} << 20) && grown > AvailableMemory()) {
                    return Failure{Action::Read, file.Name(), {}, ENOMEM};
                }
                text.resize(grown);
            }
            Result<std::size_t> got = file.Read(text.data() + size, text.size() - size);
            if (!got.has_value()) {
                return got.error();
            }
            if (got.value() == 0) {
                text.resize(size);
                return text;
            }
            size += got.value();
        }
    });
}

} // namespace

Result<std::string> ReadSourceStream(int fd, const std::string& name) {
    return ReadWhole(sys::InputFile::CopyOf(fd, name));
}

Result<std::string> ReadSourceFile(const std::string& path) {
    return ReadWhole(sys::InputFile::Open(path));
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
    if (!read.has_value()) {
        return read.error();
    }
    return PrepareSourceText(std::move(read.value()));
}

} // namespace velmora
