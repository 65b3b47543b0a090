#include "convert.h"

#include "io.h"
#include "stages.h"
#include "system.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <variant>

namespace velmora {

namespace {

constexpr std::size_t kReadSize = std::size_t{256} << 10;
// In front of each piece read: a held-back CR and the scanner's look behind.
constexpr std::size_t kHeadroom = 64;
static_assert(kHeadroom >= detail::kScanHeadroom + 1);

// The input, read from its start as often as asked: a file, or text in memory.
class Reader {
public:
    explicit Reader(sys::InputFile file) : m_input(std::move(file)) {}
    Reader(std::string_view text, std::size_t pieceSize) : m_input(text), m_pieceSize(pieceSize) {}

    Result<std::size_t> Read(char* buffer, std::size_t size) {
        if (auto* file = std::get_if<sys::InputFile>(&m_input)) {
            return file->Read(buffer, size);
        }
        const std::string_view text = std::get<std::string_view>(m_input);
        const std::size_t count = std::min({size, m_pieceSize, text.size() - m_at});
        std::memcpy(buffer, text.data() + m_at, count);
        m_at += count;
        return count;
    }
    Result<void> Rewind() {
        m_at = 0;
        if (auto* file = std::get_if<sys::InputFile>(&m_input)) {
            return file->Rewind();
        }
        return {};
    }

private:
    std::variant<sys::InputFile, std::string_view> m_input;
    std::size_t m_pieceSize = kReadSize;
    std::size_t m_at = 0;
};

// Hands each piece of output to the file or stream, keeping the first failure.
class OutputSink final : public detail::PieceSink {
public:
    explicit OutputSink(sys::OutputFile& file) : m_file(file) {}
    void Take(std::string_view piece) override {
        if (!m_failure) {
            Result<void> written = m_file.Write(piece);
            if (!written.Ok()) {
                m_failure = written.GetFailure();
            }
        }
    }
    const std::optional<Failure>& Failed() const { return m_failure; }

private:
    sys::OutputFile& m_file;
    std::optional<Failure> m_failure;
};

// What running out of memory anywhere in a conversion of `name` comes to.
Failure OutOfMemory(const std::string& name) {
    return Failure{"cannot convert", name, detail::kOutOfMemory};
}

// The two passes over one input, and what the first leaves for the second.
struct Passes {
    Passes(Reader input, std::string inputName) : reader(std::move(input)), name(std::move(inputName)) {}

    Reader reader;
    std::string name;
    std::string buffer = std::string(kHeadroom + kReadSize, '\0');
    SourceOutcome outcome = SourceOutcome::Empty;
    std::string_view lineBreak;
    std::size_t begin = 0; // the scope, in the normalised text
    std::size_t end = 0;

    char* Piece() { return buffer.data() + kHeadroom; }

    // The first pass: the line break (stopping early once it is settled), then the
    // normalised text searched for the refusal phrase and the scope.
    Result<void> Scan() {
        detail::LineBreakFinder breaks;
        bool empty = true;
        for (;;) {
            Result<std::size_t> got = reader.Read(Piece(), kReadSize);
            if (!got.Ok()) {
                return got.GetFailure();
            }
            if (got.Value() == 0) {
                break;
            }
            empty = false;
            breaks.Feed(std::string_view(Piece(), got.Value()));
            if (breaks.Settled()) {
                break;
            }
        }
        if (empty) {
            outcome = SourceOutcome::Empty;
            return {};
        }
        lineBreak = breaks.LineBreak();
        detail::Normaliser normaliser(lineBreak);
        detail::Scanner scanner;
        Result<void> passed = Pass(normaliser, [&](char* data, std::size_t size, std::size_t) {
            scanner.Feed(data, size);
            return true;
        });
        if (!passed.Ok()) {
            return passed;
        }
        outcome = scanner.Refused() ? SourceOutcome::Refused : SourceOutcome::Accepted;
        begin = scanner.ScopeBegin();
        end = scanner.ScopeEnd();
        return {};
    }

    // Reads the input from its start and normalises it a piece at a time, handing each
    // normalised piece and its position to `take` until that says enough.
    template <typename Take>
    Result<void> Pass(detail::Normaliser& normaliser, Take take) {
        if (Result<void> rewound = reader.Rewind(); !rewound.Ok()) {
            return rewound;
        }
        std::size_t position = 0;
        for (;;) {
            Result<std::size_t> got = reader.Read(Piece(), kReadSize);
            if (!got.Ok()) {
                return got.GetFailure();
            }
            const bool last = got.Value() == 0;
            const std::string_view piece = normaliser.Feed(Piece(), got.Value(), last);
            // The piece lies in the buffer, which the stages may write in front of.
            if (!take(const_cast<char*>(piece.data()), piece.size(), position)) {
                return {};
            }
            position += piece.size();
            if (last) {
                return {};
            }
        }
    }

    // How long the rewritten text will be: the second pass counting only, for an output
    // that is to be held in memory.
    Result<std::size_t> Measure() {
        NoProgress none;
        detail::StringSink nowhere(buffer); // never written to while counting
        detail::Rewriter counter(none, nowhere);
        counter.CountOnly();
        detail::Normaliser normaliser(lineBreak);
        Result<void> passed = Pass(normaliser, [&](char* data, std::size_t size, std::size_t at) {
            const std::size_t from = std::max(at, begin);
            const std::size_t to = std::min(at + size, end);
            if (from < to) {
                counter.Feed(std::string_view(data + (from - at), to - from));
            }
            return at + size < end;
        });
        if (!passed.Ok()) {
            return passed.GetFailure();
        }
        counter.Finish();
        return counter.Written();
    }

    // The second pass: the scope of the normalised text through the rewriting and the
    // assembly into `out`.
    Result<void> Stream(ProgressSink& progress, detail::PieceSink& out,
                        const std::optional<Failure>* outFailed) {
        const auto max = static_cast<float>(end - begin);
        progress.SetMax(max);
        detail::Assembler assembler(out);
        detail::Rewriter rewriter(progress, assembler);
        detail::Normaliser normaliser(lineBreak);
        Result<void> passed = Pass(normaliser, [&](char* data, std::size_t size, std::size_t at) {
            const std::size_t from = std::max(at, begin);
            const std::size_t to = std::min(at + size, end);
            if (from < to) {
                rewriter.Feed(std::string_view(data + (from - at), to - from));
            }
            // Nothing after the scope matters, and a failed write ends the pass.
            return at + size < end && (outFailed == nullptr || !*outFailed);
        });
        if (!passed.Ok()) {
            return passed;
        }
        rewriter.Finish();
        assembler.Finish();
        progress.SetValue(max);
        return {};
    }
};

} // namespace

struct Conversion::State {
    Passes passes;
};

Conversion::Conversion(std::unique_ptr<State> state) : m_state(std::move(state)) {}
Conversion::Conversion(Conversion&&) noexcept = default;
Conversion& Conversion::operator=(Conversion&&) noexcept = default;
Conversion::~Conversion() = default;

SourceOutcome Conversion::Outcome() const { return m_state->passes.outcome; }

Result<Conversion> Conversion::Prepare(const Source& source) {
    try {
        Result<sys::InputFile> file = source.fd >= 0 ? sys::InputFile::CopyOf(source.fd, source.name)
                                                     : sys::InputFile::Open(source.name);
        if (!file.Ok()) {
            return file.GetFailure();
        }
        auto state = std::make_unique<State>(State{Passes(Reader(std::move(file.Value())), source.name)});
        if (Result<void> scanned = state->passes.Scan(); !scanned.Ok()) {
            return scanned.GetFailure();
        }
        return Conversion(std::move(state));
    } catch (const std::bad_alloc&) {
        return OutOfMemory(source.name);
    } catch (const std::length_error&) {
        return OutOfMemory(source.name);
    }
}

Result<void> Conversion::Write(const Destination& destination, ProgressSink& progress) {
    try {
        Result<sys::OutputFile> file = destination.fd >= 0
                                           ? Result<sys::OutputFile>(sys::OutputFile::Stream(
                                                 destination.fd, destination.name))
                                           : sys::OutputFile::Create(destination.name);
        if (!file.Ok()) {
            return file.GetFailure();
        }
        OutputSink sink(file.Value());
        if (Result<void> streamed = m_state->passes.Stream(progress, sink, &sink.Failed());
            !streamed.Ok()) {
            return streamed;
        }
        if (sink.Failed()) {
            return *sink.Failed();
        }
        return file.Value().Commit();
    } catch (const std::bad_alloc&) {
        return OutOfMemory(m_state->passes.name);
    } catch (const std::length_error&) {
        return OutOfMemory(m_state->passes.name);
    }
}

Result<SourceOutcome> Convert(const Source& source, const Destination& destination,
                              ProgressSink& progress) {
    Result<Conversion> conversion = Conversion::Prepare(source);
    if (!conversion.Ok()) {
        return conversion.GetFailure();
    }
    const SourceOutcome outcome = conversion.Value().Outcome();
    if (outcome == SourceOutcome::Accepted) {
        if (Result<void> written = conversion.Value().Write(destination, progress); !written.Ok()) {
            return written.GetFailure();
        }
    }
    return outcome;
}

Result<SourceOutcome> ConvertFile(const std::string& inputPath, const std::string& outputPath,
                                  ProgressSink& sink) {
    return Convert(Source::File(inputPath), Destination::File(outputPath), sink);
}

namespace detail {

Result<SourceOutcome> ConvertTextInPieces(std::string_view input, std::string& output,
                                          ProgressSink& sink, std::size_t pieceSize) {
    try {
        Passes state(Reader(input, std::max<std::size_t>(pieceSize, 1)), {});
        if (Result<void> scanned = state.Scan(); !scanned.Ok()) {
            return scanned.GetFailure();
        }
        if (state.outcome == SourceOutcome::Accepted) {
            // Deeply nested lists can ask for more output than there is memory: that is
            // known, and said, before any of it is made.
            Result<std::size_t> rewritten = state.Measure();
            if (!rewritten.Ok()) {
                return rewritten.GetFailure();
            }
            if (rewritten.Value() > sys::AvailableMemory()) {
                return OutOfMemory({});
            }
            output.clear();
            StringSink into(output);
            if (Result<void> streamed = state.Stream(sink, into, nullptr); !streamed.Ok()) {
                return streamed.GetFailure();
            }
        }
        return state.outcome;
    } catch (const std::bad_alloc&) {
        return OutOfMemory({});
    } catch (const std::length_error&) {
        return OutOfMemory({});
    }
}

} // namespace detail

Result<SourceOutcome> ConvertText(std::string_view input, std::string& output, ProgressSink& sink) {
    return detail::ConvertTextInPieces(input, output, sink, kReadSize);
}

} // namespace velmora
