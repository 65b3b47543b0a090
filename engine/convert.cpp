// How a conversion runs, from the input to the output. Each arrow hands on pieces; "||"
// is where a second thread takes over, for a large input.
//
// One reading (SingleReading), for a caller that shows no progress:
//
//   read -> LineBreakFinder -> Normaliser -> Scanner -> Rewriter || Assembler -> held output
//                                             (refusal,   (again at "<dl" and after its ">";
//                                              scope)      marks at each "</dl>")
//   at the end: refused or empty, the output is dropped; else cut back to the last mark.
//   A later line break of another kind, or a file shorter than it says with its stamp
//   unchanged: the two readings. A stamp changed meanwhile: the file changed.
//
// Two readings (Passes), for the window's progress:
//
//   1. read -> digest || LineBreakFinder, RawScanner         (refusal, scope, its length)
//   2. read -> digest, Normaliser (the scope alone) -> Rewriter || Assembler -> output
//      SetMax before, SetValue per tag; the two digests and the file's stamps must agree.
//
// The phase functions (phases.h: PrepareSource, RewriteDefinitionLists,
// AssembleIndentedText, WriteOutputFile) are the same stages, called one at a time on
// whole texts.

#include "velmora/convert.h"

#include "assembler.h"
#include "digest.h"
#include "normaliser.h"
#include "out_of_memory.h"
#include "piece_writer.h"
#include "rewriter.h"
#include "scanner.h"
#include "steps.h"
#include "system.h"
#include "velmora/process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace velmora {

namespace {

constexpr std::size_t kReadSize = std::size_t{256} << 10;
// From this size of scope on, the second pass takes two threads.
constexpr std::size_t kTwoThreadsFrom = std::size_t{4} << 20;
// In front of each piece read: a held-back CR and the scanner's look behind.
constexpr std::size_t kHeadroom = 64;
static_assert(kHeadroom >= detail::kRawHeadroom + 1);

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
    // False for a stream, which can be read only once.
    bool Repeatable() const {
        const auto* file = std::get_if<sys::InputFile>(&m_input);
        return file == nullptr || file->Repeatable();
    }

    // The file's stamp; none for text in memory, which cannot change, nor for a stream,
    // which is taken as it comes.
    Result<std::optional<sys::FileStamp>> Stamp() const {
        if (const auto* file = std::get_if<sys::InputFile>(&m_input); file && file->Repeatable()) {
            Result<sys::FileStamp> stamp = file->Stamp();
            if (!stamp.has_value()) {
                return stamp.error();
            }
            return std::optional<sys::FileStamp>(stamp.value());
        }
        return std::optional<sys::FileStamp>();
    }

    // How much there is to read, as far as it is known before: a file's size by its stamp,
    // the whole of a text.
    std::uint64_t Size(const std::optional<sys::FileStamp>& stamp) const {
        if (const auto* text = std::get_if<std::string_view>(&m_input)) {
            return text->size();
        }
        return stamp ? stamp->size : 0;
    }

private:
    std::variant<sys::InputFile, std::string_view> m_input;
    std::size_t m_pieceSize = kReadSize;
    std::size_t m_at = 0;
};

// Hands each piece of output to the file or stream, keeping the first failure; any
// thread may ask whether there has been one.
class OutputSink final : public detail::PieceSink {
public:
    explicit OutputSink(sys::OutputFile& file) : m_file(&file) {}
    // To a caller's function, which may ask to stop.
    OutputSink(const WriteFunction& write, const std::string& name)
        : m_write(&write), m_name(&name) {}
    // Into a string.
    explicit OutputSink(std::string& text) : m_text(&text) {}
    void Take(std::string_view piece) override {
        if (m_failed) {
            return;
        }
        if (m_text != nullptr) {
            detail::StringSink(*m_text).Take(piece);
        } else if (m_file != nullptr) {
            Result<void> written = m_file->Write(piece);
            if (!written.has_value()) {
                m_failure = written.error();
                m_failed = true;
            }
        } else if (!piece.empty() && !(*m_write)(piece)) {
            m_failure = Failure{Action::Convert, *m_name, kStoppedMessage};
            m_failed = true;
        }
    }
    // Keeps the first `size` bytes of what has been taken, and takes on after them: a
    // file's (held, see sys::OutputFile::Hold) or a string's.
    void Cut(std::uint64_t size) {
        if (m_failed) {
            return;
        }
        if (m_text != nullptr) {
            m_text->resize(size);
        } else if (Result<void> cut = m_file->Cut(size); !cut.has_value()) {
            m_failure = cut.error();
            m_failed = true;
        }
    }
    const std::atomic<bool>& Failed() const { return m_failed; }
    // Once the writing has ended.
    const std::optional<velmora::Failure>& FirstFailure() const { return m_failure; }

private:
    std::string* m_text = nullptr;
    sys::OutputFile* m_file = nullptr;
    const WriteFunction* m_write = nullptr;
    const std::string* m_name = nullptr;
    std::optional<velmora::Failure> m_failure;
    std::atomic<bool> m_failed{false};
};

// Carries pieces to the next stage on a thread of its own, a few at a time, so that both
// halves of a reading use both cores: the rewritten text to the assembly, the bytes read
// to the scanning. What goes wrong on that thread (memory) stops both and is raised again
// on the calling one. `Next` takes TakeBuffer(), Mark() and Finish(); a mark goes in its
// place among the pieces.
template <typename Next> class Handover final : public detail::PieceSink {
public:
    explicit Handover(Next& next) : m_next(next) {}
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;
    ~Handover() {
        if (m_thread.joinable()) { // left early: the assembly is stopped, not finished
            {
                std::lock_guard lock(m_mutex);
                m_stopped = true;
                m_closed = true;
            }
            m_changed.notify_all();
            m_thread.join();
        }
    }

    // Starts the assembling thread; false where no thread can be had.
    bool Start() {
        return StartThread(m_thread, [this] { Run(); });
    }
    void Take(std::string_view piece) override {
        std::string copy(piece);
        TakeBuffer(copy, copy.size());
    }
    // The writer's buffer itself goes into the queue, and a spare one back.
    void TakeBuffer(std::string& buffer, std::size_t used) override {
        std::string spare;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_queue.size() < kPieces || m_stopped; });
            if (m_stopped) {
                return;
            }
            if (!m_spare.empty()) {
                spare = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        if (spare.size() < buffer.size()) {
            spare.resize(buffer.size());
        }
        std::swap(spare, buffer);
        Queue(Entry{std::move(spare), used, false});
    }
    void Mark() override { Queue(Entry{{}, 0, true}); }
    bool Stopped() {
        std::lock_guard lock(m_mutex);
        return m_stopped;
    }
    // No more pieces: the assembly finishes, and what it threw comes back here.
    void Close() {
        if (!m_thread.joinable()) {
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_all();
        m_thread.join();
        if (m_error) {
            std::rethrow_exception(std::exchange(m_error, nullptr));
        }
    }

private:
    static constexpr std::size_t kPieces = 4;

    struct Entry {
        std::string buffer;
        std::size_t used = 0; // the bytes of it that are the piece
        bool mark = false;
    };

    void Queue(Entry entry) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_queue.size() < kPieces || m_stopped; });
        if (m_stopped) {
            return;
        }
        m_queue.push_back(std::move(entry));
        m_changed.notify_all();
    }

    void Run() {
        try {
            for (;;) {
                Entry piece;
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [&] { return !m_queue.empty() || m_closed; });
                    if (m_stopped) {
                        return;
                    }
                    if (m_queue.empty()) {
                        break;
                    }
                    piece = std::move(m_queue.front());
                    m_queue.pop_front();
                    m_changed.notify_all();
                }
                if (piece.mark) {
                    m_next.Mark();
                    continue;
                }
                m_next.TakeBuffer(piece.buffer, piece.used);
                std::lock_guard lock(m_mutex);
                m_spare.push_back(std::move(piece.buffer));
            }
            m_next.Finish();
        } catch (...) {
            std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
            m_stopped = true;
            m_changed.notify_all();
        }
    }

    Next& m_next;
    std::jthread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_queue;
    std::vector<std::string> m_spare;
    bool m_closed = false;
    bool m_stopped = false;
    std::exception_ptr m_error;
};

// What the first reading looks for, in pieces that have kHeadroom bytes in front.
struct ScanStage {
    detail::LineBreakFinder breaks;
    detail::RawScanner scanner;

    void TakeBuffer(std::string& buffer, std::size_t used) {
        char* const piece = buffer.data() + kHeadroom;
        breaks.Feed(std::string_view(piece, used - kHeadroom));
        scanner.Feed(piece, used - kHeadroom);
    }
    void Mark() {}
    void Finish() {}
};

// The two passes over one input, and what the first leaves for the second.
struct Passes {
    Passes(Reader input, std::string inputName)
        : reader(std::move(input)), name(std::move(inputName)) {}

    Reader reader;
    std::size_t twoThreadsFrom = kTwoThreadsFrom;
    std::string name;
    std::string buffer = std::string(kHeadroom + kReadSize, '\0');
    SourceOutcome outcome = SourceOutcome::Empty;
    std::string_view lineBreak;
    std::size_t begin = 0; // the scope, in the input as read
    std::size_t end = 0;
    std::size_t length = 0; // of the scope once normalised
    // What the first reading saw: the file's stamp before it, and the digest of its bytes.
    std::optional<sys::FileStamp> stamp;
    detail::Digest first;

    char* Piece() { return buffer.data() + kHeadroom; }

    // The first reading: the line break, the refusal phrase and the scope, all found in
    // the bytes as read. A large file is read and digested on this thread and scanned on
    // another.
    Result<void> Scan() {
        Result<std::optional<sys::FileStamp>> stamped = reader.Stamp();
        if (!stamped.has_value()) {
            return stamped.error();
        }
        stamp = stamped.value();
        ScanStage stage;
        std::optional<Handover<ScanStage>> handover;
        if (reader.Size(stamp) >= twoThreadsFrom && !handover.emplace(stage).Start()) {
            handover.reset();
        }
        for (;;) {
            Result<std::size_t> got = reader.Read(Piece(), kReadSize);
            if (!got.has_value()) {
                return got.error();
            }
            if (got.value() == 0) {
                break;
            }
            first.Feed(Piece(), got.value());
            if (handover) {
                handover->TakeBuffer(buffer, kHeadroom + got.value());
            } else {
                stage.TakeBuffer(buffer, kHeadroom + got.value());
            }
        }
        if (handover) {
            handover->Close();
        }
        const detail::LineBreakFinder& breaks = stage.breaks;
        const detail::RawScanner& scanner = stage.scanner;
        if (first.Count() == 0) {
            outcome = SourceOutcome::Empty;
            // A file that says it holds bytes but gave none was cut short as it was read,
            // and one that was empty may have been given its text meanwhile.
            Result<std::optional<sys::FileStamp>> now = reader.Stamp();
            if (!now.has_value()) {
                return now.error();
            }
            if (stamp && (stamp->size > 0 || now.value() != stamp)) {
                return Failure{Action::Read, name, kChangedMessage};
            }
            return {};
        }
        lineBreak = breaks.LineBreak();
        outcome = scanner.Refused(lineBreak) ? SourceOutcome::Refused : SourceOutcome::Accepted;
        begin = scanner.ScopeBegin();
        end = scanner.ScopeEnd();
        length = scanner.ScopeLength(lineBreak);
        return {};
    }

    // Reads the input again, normalises the scope a piece at a time and hands it to
    // `rewriter`, stopping at the scope's end, since nothing after it matters, or once
    // `stop()` says so. With a `digest`, every byte read goes into it, to the input's end.
    template <typename Stop>
    Result<void> RewriteScope(detail::Rewriter& rewriter, Stop stop,
                              detail::Digest* digest = nullptr) {
        if (Result<void> rewound = reader.Rewind(); !rewound.has_value()) {
            return rewound;
        }
        detail::Normaliser normaliser(lineBreak);
        std::size_t at = 0; // where the next piece begins in the input
        for (;;) {
            Result<std::size_t> got = reader.Read(Piece(), kReadSize);
            if (!got.has_value()) {
                return got.error();
            }
            const std::size_t size = got.value();
            if (digest != nullptr) {
                digest->Feed(Piece(), size);
            } else if (at >= end) {
                return {};
            }
            if (at < end && at + size >= begin) {
                // The scope's part of the piece; once the input or the scope has ended,
                // with a CR held back by the normaliser.
                const std::size_t from = std::max(at, begin) - at;
                const std::size_t to = std::min(at + size, end) - at;
                const bool last = size == 0 || at + size >= end;
                rewriter.Feed(normaliser.Feed(Piece() + from, to - from, last));
                if (stop()) {
                    return {};
                }
            }
            if (size == 0) {
                return {};
            }
            at += size;
        }
    }

    // Whether the second reading found the file as the first did: the same bytes, and the
    // same file, size and times afterwards as before the first. A file changed meanwhile
    // would give a text made of neither version, or an empty one.
    Result<void> Unchanged(const detail::Digest& second) const {
        const Failure changed{Action::Read, name, kChangedMessage};
        if (second.Value() != first.Value()) {
            return changed;
        }
        Result<std::optional<sys::FileStamp>> now = reader.Stamp();
        if (!now.has_value()) {
            return now.error();
        }
        if (now.value() != stamp) {
            return changed;
        }
        return {};
    }

    // How long the output will be: the second pass counting only, for an output that is
    // to be held in memory.
    Result<std::size_t> Measure() {
        struct Nowhere final : detail::PieceSink {
            void Take(std::string_view) override {}
        } nowhere;
        NoProgress none;
        detail::Assembler counter(nowhere);
        counter.CountOnly();
        detail::Rewriter rewriter(none, counter);
        Result<void> passed = RewriteScope(rewriter, [] { return false; });
        if (!passed.has_value()) {
            return passed.error();
        }
        rewriter.Finish();
        counter.Finish();
        return counter.Size();
    }

    // The second pass: the scope of the normalised text through the rewriting and the
    // assembly into `out`.
    Result<void> Stream(ProgressSink& progress, detail::PieceSink& out,
                        const std::atomic<bool>* outFailed, detail::Digest* digest = nullptr) {
        const auto max = static_cast<float>(length);
        progress.SetMax(max);
        detail::Assembler assembler(out);
        // A large scope is rewritten on this thread and assembled on another.
        std::optional<Handover<detail::Assembler>> handover;
        if (length >= twoThreadsFrom && !handover.emplace(assembler).Start()) {
            handover.reset();
        }
        detail::Rewriter rewriter(progress, handover ? static_cast<detail::PieceSink&>(*handover)
                                                     : assembler);
        // A failed write ends the pass, as does a caller who asks it to stop.
        bool stopped = false;
        Result<void> passed = RewriteScope(
            rewriter,
            [&] {
                stopped = stopped || progress.Stopped();
                return stopped || (outFailed != nullptr && *outFailed) ||
                       (handover && handover->Stopped());
            },
            digest);
        if (!passed.has_value()) {
            return passed;
        }
        if (stopped) {
            return Failure{Action::Convert, name, kStoppedMessage};
        }
        rewriter.Finish();
        if (handover) {
            handover->Close();
        } else {
            assembler.Finish();
        }
        progress.SetValue(max);
        // Asked at the last values: the text is whole, but the caller no longer wants it.
        if (progress.Stopped()) {
            return Failure{Action::Convert, name, kStoppedMessage};
        }
        return {};
    }
};

// The stages of one reading, from the rewriting on, into `out`: built afresh wherever the
// scope is found to begin, since what was made before it is dropped.
struct Pipeline {
    Pipeline(detail::PieceSink& out, bool twoThreads, ProgressSink& progress) : assembler(out) {
        if (twoThreads && !handover.emplace(assembler).Start()) {
            handover.reset();
        }
        rewriter.emplace(progress,
                         handover ? static_cast<detail::PieceSink&>(*handover) : assembler);
    }
    bool Stopped() { return handover && handover->Stopped(); }
    void Finish() {
        rewriter->Finish();
        if (handover) {
            handover->Close();
        } else {
            assembler.Finish();
        }
    }

    detail::Assembler assembler;
    std::optional<Handover<detail::Assembler>> handover;
    std::optional<detail::Rewriter> rewriter;
};

// The conversion in a single reading, for a caller that shows no progress and so needs no
// maximum before the first value. The line break is taken from the first piece that holds
// one; the text is normalised, scanned and rewritten as it is read, as though the scope
// ran from its start to its end, and the output is held back (sys::OutputFile::Hold). The
// stages start again at the first "<dl" and once more after the ">" that closes it; the
// assembly notes where the output stands at each "</dl>" that may be the last, and at the
// end the output is cut back there. A refused or empty input drops it all. A later line
// break that contradicts the one taken sends the conversion back to the two readings,
// from a copy of what a stream gave, as does a file that gave fewer bytes than it said it
// held.
class SingleReading {
public:
    SingleReading(Reader reader, std::string name, OutputSink& out, std::size_t twoThreadsFrom)
        : m_reader(std::move(reader)), m_name(std::move(name)), m_out(out),
          m_twoThreadsFrom(twoThreadsFrom) {}

    // The outcome; with `contradicted` set, the two readings are to be made instead, from
    // the input Rewound (TakeReader), the output cut back to nothing.
    Result<SourceOutcome> Run(bool& contradicted) {
        contradicted = false;
        Result<std::optional<sys::FileStamp>> stamped = m_reader.Stamp();
        if (!stamped.has_value()) {
            return stamped.error();
        }
        m_stamp = stamped.value();
        m_twoThreads = !m_reader.Repeatable() || m_reader.Size(m_stamp) >= m_twoThreadsFrom;
        Start(0);
        std::uint64_t read = 0;
        bool ended = false; // read to its end, not stopped by a failure on the way
        for (;;) {
            Result<std::size_t> got = m_reader.Read(Piece(), kReadSize);
            if (!got.has_value()) {
                return got.error();
            }
            const std::size_t size = got.value();
            read += size;
            m_breaks.Feed(std::string_view(Piece(), size));
            const std::string_view lineBreak = m_breaks.LineBreak();
            if (!m_decided && !lineBreak.empty()) {
                m_decided = true;
                m_normaliser.SetLineBreak(lineBreak);
            }
            const bool contradiction = lineBreak != m_normaliser.LineBreak();
            if (Result<void> kept = Keep(std::string_view(Piece(), size), contradiction);
                !kept.has_value()) {
                return kept.error();
            }
            if (contradiction) {
                m_pipeline.reset();
                contradicted = true;
                return SourceOutcome::Empty;
            }
            const std::string_view normalised = m_normaliser.Feed(Piece(), size, size == 0);
            Scan(const_cast<char*>(normalised.data()), normalised.size(), size == 0);
            if (m_pipeline->Stopped() || m_out.Failed()) {
                break; // the failure is reported below
            }
            if (size == 0) {
                ended = true;
                break;
            }
        }
        if (ended && m_stamp && read < m_stamp->size) {
            // Fewer bytes than the file says it holds: cut short as it was read, which its
            // stamp tells (reading it again would convert whatever is half written there
            // now), or one of the system's own that says more than it gives, which two
            // readings take as it comes.
            if (Result<void> same = Unchanged(); !same.has_value()) {
                return same.error();
            }
            m_pipeline.reset();
            contradicted = true;
            return SourceOutcome::Empty;
        }
        if (ended && read == 0) {
            if (Result<void> same = Unchanged(); !same.has_value()) {
                return same.error();
            }
            return SourceOutcome::Empty;
        }
        if (ended && m_scanner.Refused()) {
            return SourceOutcome::Refused;
        }
        m_pipeline->Finish(); // raises again what stopped the assembly
        const detail::Assembler& assembler = m_pipeline->assembler;
        if (assembler.Marked()) {
            m_out.Cut(assembler.MarkedSize());
            m_out.Take(assembler.MarkedLine());
        }
        if (m_out.FirstFailure()) {
            return *m_out.FirstFailure();
        }
        if (Result<void> same = Unchanged(); !same.has_value()) {
            return same.error();
        }
        return SourceOutcome::Accepted;
    }

    // For a stream, a copy of what it gave before the contradiction and of the rest.
    Result<Reader> TakeReader() {
        if (!m_copy) {
            if (Result<void> rewound = m_reader.Rewind(); !rewound.has_value()) {
                return rewound.error();
            }
            return std::move(m_reader);
        }
        for (;;) {
            Result<std::size_t> got = m_reader.Read(Piece(), kReadSize);
            if (!got.has_value()) {
                return got.error();
            }
            if (got.value() == 0) {
                break;
            }
            if (Result<void> kept = m_copy->Append(std::string_view(Piece(), got.value()));
                !kept.has_value()) {
                return kept.error();
            }
        }
        if (Result<void> rewound = m_copy->Rewind(); !rewound.has_value()) {
            return rewound.error();
        }
        return Reader(std::move(*m_copy));
    }

private:
    char* Piece() { return m_buffer.data() + kHeadroom; }

    // A stream is copied as it is read while a later line break could still contradict
    // the one taken; a CR LF settles it, and the copy goes.
    Result<void> Keep(std::string_view piece, bool contradiction) {
        if (m_reader.Repeatable() || (m_breaks.Settled() && !contradiction)) {
            m_copy.reset();
            return {};
        }
        if (!m_copy) {
            Result<sys::InputFile> copy = sys::InputFile::Scratch(m_name);
            if (!copy.has_value()) {
                return copy.error();
            }
            m_copy.emplace(std::move(copy.value()));
        }
        return m_copy->Append(piece);
    }

    // The stages from `from` on, in positions of the normalised text; the output so far
    // goes.
    void Start(std::size_t from) {
        m_pipeline.reset();
        m_out.Cut(0);
        m_pipeline.emplace(m_out, m_twoThreads, m_none);
        m_fed = std::max(m_fed, from);
    }

    // Scans the next piece of normalised text and rewrites what of it is known to belong
    // to the scope as it may be. The last bytes are held back until the next piece, so
    // that a "<dl" or "</dl>" cut by the end of a piece is found before its first byte is
    // rewritten; they stand in front of the piece again once the scanner has put its look
    // behind there.
    void Scan(char* piece, std::size_t n, bool last) {
        constexpr std::size_t kHeld = 4; // "</dl>" less one
        const std::size_t start = m_scanner.Size();
        m_scanner.Feed(piece, n);
        const std::size_t size = m_scanner.Size();
        const std::size_t upto = last ? size : size - std::min(size, kHeld);
        if (m_open == kNone && m_scanner.Open() != kNone) {
            m_open = m_scanner.Open();
            Start(m_open); // the scope begins here, or after the ">" that ends this tag
        }
        if (m_close == kNone && m_scanner.Close() != kNone) {
            m_close = m_scanner.Close();
            Start(m_close + 1);
        }
        if (m_open != kNone && m_close == kNone) {
            m_fed = std::max(m_fed, upto); // a tag with no end yet: none of it is written
            return;
        }
        const auto text = [&](std::size_t at) { return piece + (at - start); };
        if (m_close != kNone && m_scanner.Last() != m_marked && m_scanner.Last() != kNone) {
            m_marked = m_scanner.Last();
            Feed(text(m_fed), m_marked - m_fed);
            m_pipeline->rewriter->Mark();
        }
        if (upto > m_fed) {
            Feed(text(m_fed), upto - m_fed);
        }
    }

    void Feed(const char* text, std::size_t n) {
        m_pipeline->rewriter->Feed(std::string_view(text, n));
        m_fed += n;
    }

    // Whether the file is as it was before it was read (one that was empty may have been
    // given its text meanwhile); a stream is taken as it comes.
    Result<void> Unchanged() const {
        if (!m_stamp || !m_reader.Repeatable()) {
            return {};
        }
        Result<std::optional<sys::FileStamp>> now = m_reader.Stamp();
        if (!now.has_value()) {
            return now.error();
        }
        if (now.value() != m_stamp) {
            return Failure{Action::Read, m_name, kChangedMessage};
        }
        return {};
    }

    static constexpr std::size_t kNone = detail::kNoPosition;
    Reader m_reader;
    std::string m_name;
    OutputSink& m_out;
    std::size_t m_twoThreadsFrom;
    bool m_twoThreads = false;
    std::optional<sys::FileStamp> m_stamp;
    std::optional<sys::InputFile> m_copy;
    std::string m_buffer = std::string(kHeadroom + kReadSize, '\0');
    NoProgress m_none;
    detail::LineBreakFinder m_breaks;
    bool m_decided = false;
    detail::Normaliser m_normaliser{""};
    detail::Scanner m_scanner;
    std::optional<Pipeline> m_pipeline;
    std::size_t m_fed = 0; // normalised bytes handed to the rewriting or passed over
    std::size_t m_open = kNone;
    std::size_t m_close = kNone;
    std::size_t m_marked = kNone; // the "</dl>" last noted
};

// The conversion in one reading where that is enough, else in two.
Result<SourceOutcome> ReadOnce(Reader reader, const std::string& name, OutputSink& out,
                               std::size_t twoThreadsFrom) {
    std::optional<Reader> again;
    {
        SingleReading single(std::move(reader), name, out, twoThreadsFrom);
        bool contradicted = false;
        Result<SourceOutcome> outcome = single.Run(contradicted);
        if (!contradicted) {
            return outcome;
        }
        Result<Reader> taken = single.TakeReader();
        if (!taken.has_value()) {
            return taken.error();
        }
        again.emplace(std::move(taken.value()));
    }
    out.Cut(0);
    Passes passes(std::move(*again), name);
    passes.twoThreadsFrom = twoThreadsFrom;
    if (Result<void> scanned = passes.Scan(); !scanned.has_value()) {
        return scanned.error();
    }
    if (passes.outcome != SourceOutcome::Accepted) {
        return passes.outcome;
    }
    NoProgress none;
    detail::Digest second;
    if (Result<void> streamed = passes.Stream(none, out, &out.Failed(), &second);
        !streamed.has_value()) {
        return streamed.error();
    }
    if (out.FirstFailure()) {
        return *out.FirstFailure();
    }
    if (Result<void> same = passes.Unchanged(second); !same.has_value()) {
        return same.error();
    }
    return SourceOutcome::Accepted;
}

// The source's reader: a file or text in memory; a stream, or a caller's read function,
// copied to a temporary file to be read again, unless it is to be read `once`.
Result<Reader> OpenSource(const Source& source, bool once) {
    if (source.inMemory) {
        return Reader(source.text, kReadSize);
    }
    Result<sys::InputFile> file = source.read ? sys::InputFile::CopyOf(source.read, source.name)
                                  : source.fd >= 0
                                      ? (once ? sys::InputFile::StreamOnce(source.fd, source.name)
                                              : sys::InputFile::CopyOf(source.fd, source.name))
                                  : once ? sys::InputFile::OpenOnce(source.name)
                                         : sys::InputFile::Open(source.name);
    if (!file.has_value()) {
        return file.error();
    }
    return Reader(std::move(file.value()));
}

} // namespace

struct Conversion::State {
    Passes passes;
};

Conversion::Conversion(std::unique_ptr<State> state) : m_state(std::move(state)) {}
Conversion::Conversion(Conversion&&) noexcept = default;
Conversion& Conversion::operator=(Conversion&&) noexcept = default;
Conversion::~Conversion() = default;

SourceOutcome Conversion::Outcome() const {
    return m_state->passes.outcome;
}

Result<Conversion> Conversion::Prepare(const Source& source) {
    return detail::OrOutOfMemory(Action::Convert, source.name, [&]() -> Result<Conversion> {
        Result<Reader> reader = OpenSource(source, false);
        if (!reader.has_value()) {
            return reader.error();
        }
        auto state = std::make_unique<State>(State{Passes(std::move(reader.value()), source.name)});
        if (Result<void> scanned = state->passes.Scan(); !scanned.has_value()) {
            return scanned.error();
        }
        return Conversion(std::move(state));
    });
}

Result<void> Conversion::Write(const Destination& destination, ProgressSink& progress) {
    return detail::OrOutOfMemory(Action::Convert, m_state->passes.name, [&]() -> Result<void> {
        std::optional<sys::OutputFile> file;
        std::optional<OutputSink> sink;
        if (destination.write) {
            sink.emplace(destination.write, m_state->passes.name);
        } else {
            Result<sys::OutputFile> made =
                destination.fd >= 0 ? Result<sys::OutputFile>(
                                          sys::OutputFile::Stream(destination.fd, destination.name))
                                    : sys::OutputFile::Create(destination.name);
            if (!made.has_value()) {
                return made.error();
            }
            sink.emplace(file.emplace(std::move(made.value())));
        }
        detail::Digest second;
        if (Result<void> streamed =
                m_state->passes.Stream(progress, *sink, &sink->Failed(), &second);
            !streamed.has_value()) {
            return streamed;
        }
        if (sink->FirstFailure()) {
            return *sink->FirstFailure();
        }
        // Before the new text takes the output's place.
        if (Result<void> same = m_state->passes.Unchanged(second); !same.has_value()) {
            return same;
        }
        return file ? file->Commit() : Result<void>();
    });
}

namespace {

// A conversion in a single reading (SingleReading), when no progress is shown. Nothing
// when the output cannot be opened: the two readings then say what is wrong with it once
// they know the input is to be converted at all, as they always have.
std::optional<Result<SourceOutcome>> ConvertOnce(const Source& source,
                                                 const Destination& destination) {
    bool opened = true;
    Result<SourceOutcome> converted =
        detail::OrOutOfMemory(Action::Convert, source.name, [&]() -> Result<SourceOutcome> {
            Result<Reader> reader = OpenSource(source, true);
            if (!reader.has_value()) {
                return reader.error();
            }
            Result<sys::OutputFile> made =
                destination.write     ? sys::OutputFile::Writer(destination.write, destination.name)
                : destination.fd >= 0 ? Result<sys::OutputFile>(sys::OutputFile::Stream(
                                            destination.fd, destination.name))
                                      : sys::OutputFile::Create(destination.name);
            if (!made.has_value() || !made.value().Hold().has_value()) {
                opened = false;
                return SourceOutcome::Empty;
            }
            sys::OutputFile& file = made.value();
            OutputSink sink(file);
            Result<SourceOutcome> outcome =
                ReadOnce(std::move(reader.value()), source.name, sink, kTwoThreadsFrom);
            if (!outcome.has_value() || outcome.value() != SourceOutcome::Accepted) {
                return outcome; // the output goes uncommitted: nothing is written
            }
            if (Result<void> committed = file.Commit(); !committed.has_value()) {
                return committed.error();
            }
            return outcome;
        });
    if (!opened) {
        return std::nullopt;
    }
    return converted;
}

} // namespace

Result<SourceOutcome> Convert(const Source& source, const Destination& destination,
                              ProgressSink& progress) {
    if (!progress.Shown()) {
        if (std::optional<Result<SourceOutcome>> once = ConvertOnce(source, destination)) {
            return *once;
        }
    }
    Result<Conversion> conversion = Conversion::Prepare(source);
    if (!conversion.has_value()) {
        return conversion.error();
    }
    const SourceOutcome outcome = conversion.value().Outcome();
    if (outcome == SourceOutcome::Accepted) {
        if (Result<void> written = conversion.value().Write(destination, progress);
            !written.has_value()) {
            return written.error();
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
                                          ProgressSink& sink, std::size_t pieceSize,
                                          std::size_t twoThreadsFrom, bool once) {
    return OrOutOfMemory(Action::Convert, {}, [&]() -> Result<SourceOutcome> {
        if (once) {
            output.clear();
            OutputSink into(output);
            Result<SourceOutcome> outcome = ReadOnce(
                Reader(input, std::max<std::size_t>(pieceSize, 1)), {}, into, twoThreadsFrom);
            if (!outcome.has_value() || outcome.value() != SourceOutcome::Accepted) {
                output.clear();
            }
            return outcome;
        }
        Passes state(Reader(input, std::max<std::size_t>(pieceSize, 1)), {});
        state.twoThreadsFrom = twoThreadsFrom;
        if (Result<void> scanned = state.Scan(); !scanned.has_value()) {
            return scanned.error();
        }
        if (state.outcome == SourceOutcome::Accepted) {
            // Deeply nested lists can ask for more output than there is memory: that is
            // known, and said, before any of it is made.
            Result<std::size_t> size = state.Measure();
            if (!size.has_value()) {
                return size.error();
            }
            if (size.value() > sys::AvailableMemory()) {
                return Failure{Action::Convert, {}, {}, ENOMEM};
            }
            output.clear();
            StringSink into(output);
            if (Result<void> streamed = state.Stream(sink, into, nullptr); !streamed.has_value()) {
                return streamed.error();
            }
        }
        return state.outcome;
    });
}

} // namespace detail

Result<SourceOutcome> ConvertText(std::string_view input, std::string& output, ProgressSink& sink) {
    return detail::ConvertTextInPieces(input, output, sink, kReadSize, kTwoThreadsFrom);
}

} // namespace velmora
