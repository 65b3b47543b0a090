#include "stages.h"

#include "bytes.h"
#include "steps.h"
#include "velmora/process.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

namespace velmora::detail {

namespace {

constexpr std::size_t kPieceSize = std::size_t{64} << 10;

enum class TagKind { ListOpen, ListClose, Term, Definition, Paragraph, Removed };

// Only the whole tag, case aside, counts: "<dl compact>" or "<dd >" are removed like
// any other tag. A tag begins with "<" and ends with ">" by the way it is found, so only
// what lies between is compared. `c | 0x20` is the lower case of a letter and equals
// one of the lower-case letters compared with only for that letter in either case.
TagKind Classify(const char* tag, std::size_t length) {
    auto lower = [](char c) { return static_cast<char>(c | 0x20); };
    switch (length) {
    case 3:
        return lower(tag[1]) == 'p' ? TagKind::Paragraph : TagKind::Removed;
    case 4:
        if (lower(tag[1]) != 'd') {
            return TagKind::Removed;
        }
        switch (lower(tag[2])) {
        case 'l':
            return TagKind::ListOpen;
        case 't':
            return TagKind::Term;
        case 'd':
            return TagKind::Definition;
        default:
            return TagKind::Removed;
        }
    case 5:
        return tag[1] == '/' && lower(tag[2]) == 'd' && lower(tag[3]) == 'l' ? TagKind::ListClose
                                                                             : TagKind::Removed;
    default:
        return TagKind::Removed;
    }
}

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

// Makes room in `text` for `size` bytes; past a few megabytes (one very long line),
// only where the memory can be had beside what the other conversions claim, since the
// system would give it on credit and kill the process while filling it. What it costs
// is counted whole: the new buffer, the old one until the text has moved, and
// `alsoNeeded`, what the same bytes will take again further on.
void EnsureCapacity(std::string& text, std::size_t size, std::size_t alsoNeeded = 0) {
    if (size <= text.capacity()) {
        return;
    }
    const std::size_t wanted = std::max(size, text.capacity() * 2);
    if (wanted >= (std::size_t{8} << 20) &&
        wanted + text.capacity() + alsoNeeded > MemoryBudget::Shared().Room()) {
        throw std::bad_alloc();
    }
    text.reserve(wanted);
}

} // namespace

void StringSink::Take(std::string_view piece) {
    EnsureCapacity(m_into, m_into.size() + piece.size());
    m_into.append(piece);
}

// ---- PieceWriter ----------------------------------------------------------------------

PieceWriter::PieceWriter(PieceSink& next) : m_next(next) {
    m_buffer.resize(kPieceSize);
}

char* PieceWriter::ReserveLong(std::size_t count) {
    Flush();
    if (count > m_buffer.size()) { // a line longer than a piece: the buffer grows to it
        EnsureCapacity(m_buffer, count);
        m_buffer.resize(count);
    }
    return m_buffer.data();
}

void PieceWriter::PutLong(const char* data, std::size_t count) {
    Flush();
    if (count >= m_buffer.size()) {
        m_next.Take(std::string_view(data, count));
    } else {
        std::memcpy(m_buffer.data(), data, count);
        m_used = count;
    }
}

void PieceWriter::PutRepeatedLong(char c, std::size_t count) {
    while (count > 0) {
        if (m_used == m_buffer.size()) {
            Flush();
        }
        const std::size_t now = std::min(count, m_buffer.size() - m_used);
        std::memset(m_buffer.data() + m_used, c, now);
        m_used += now;
        count -= now;
    }
}

void PieceWriter::Flush() {
    if (m_used > 0) {
        m_next.TakeBuffer(m_buffer, m_used);
        m_used = 0;
    }
}

// ---- LineBreakFinder ------------------------------------------------------------------

void LineBreakFinder::Feed(std::string_view piece) {
    if (m_crlf || piece.empty()) {
        return;
    }
    const char* p = piece.data();
    const char* const end = p + piece.size();
    if (m_endsInCr && *p == '\n') {
        m_crlf = true;
        return;
    }
    m_lf = m_lf || FindByte(p, end, '\n') != end;
    for (const char* cr = FindByte(p, end, '\r'); cr != end; cr = FindByte(cr + 1, end, '\r')) {
        m_cr = true;
        if (cr + 1 < end && cr[1] == '\n') {
            m_crlf = true;
            return;
        }
    }
    m_endsInCr = end[-1] == '\r';
}

std::string_view LineBreakFinder::LineBreak() const {
    return m_crlf ? "\r\n" : m_lf ? "\n" : m_cr ? "\r" : "";
}

// ---- Normaliser -----------------------------------------------------------------------

Normaliser::Normaliser(std::string_view lineBreak) : m_lineBreak(lineBreak) {}

std::string_view Normaliser::Feed(char* data, std::size_t n, bool last) {
    if (m_heldCr) {
        *--data = '\r';
        ++n;
        m_heldCr = false;
    }
    if (!last && n > 0 && m_lineBreak.size() == 2 && data[n - 1] == '\r') {
        m_heldCr = true;
        --n;
    }
    return std::string_view(data, NormaliseInPlace(data, n));
}

std::size_t Normaliser::NormaliseInPlace(char* data, std::size_t n) {
    return ChosenKernels().normalise(data, n, m_lineBreak.data(), m_lineBreak.size(), m_spaceRun);
}

// ---- CleanLine ------------------------------------------------------------------------

std::size_t CleanLine(char* out, std::string_view trimmed) {
    return ChosenKernels().cleanLine(out, trimmed.data(), trimmed.size());
}

// ---- ScopeFinder ------------------------------------------------------------------------

ScopeFinder::Found ScopeFinder::Find(std::string_view view, std::size_t start, std::size_t fed) {
    Found found;
    if (m_open == kNoPosition) {
        const std::size_t open = FindFolded(view, "<dl");
        if (open != std::string_view::npos) {
            m_open = found.open = start + open;
        }
    }
    if (m_open != kNoPosition && m_close == kNoPosition) {
        const std::size_t from = m_open > start ? m_open - start : 0;
        const std::size_t close = view.find('>', from);
        if (close != std::string_view::npos) {
            m_close = found.close = start + close;
        }
    }
    // Only a "</dl>" that ends in this piece is new: the last of those, if any, is the
    // last of the text so far.
    constexpr std::string_view kLast = "</dl>";
    if (m_close != kNoPosition) {
        const std::size_t from =
            std::max(m_close + 1, fed - std::min(fed, kLast.size() - 1)) - start;
        const std::size_t last =
            from < view.size() ? FindLastFolded(view.substr(from), kLast) : std::string_view::npos;
        if (last != std::string_view::npos) {
            m_last = found.last = start + from + last;
        }
    }
    return found;
}

// ---- Scanner --------------------------------------------------------------------------

void Scanner::Feed(char* piece, std::size_t n) {
    // The end of the text before this piece goes in front of it, so that a match cut in
    // two by the pieces is found whole; what it finds again is found at the same place.
    char* const text = piece - m_tailSize;
    std::memcpy(text, m_tail, m_tailSize);
    const std::string_view view(text, m_tailSize + n);
    if (!m_refused) {
        m_refused = FindFolded(view, kRefusalPhrase) != std::string_view::npos;
    }
    m_found = m_scope.Find(view, m_size - m_tailSize, m_size);
    m_size += n;
    m_tailSize = std::min(view.size(), kRefusalPhrase.size() - 1);
    std::memcpy(m_tail, view.data() + view.size() - m_tailSize, m_tailSize);
}

// ---- RawScanner -----------------------------------------------------------------------

std::size_t LineBreakKind(std::string_view lineBreak) {
    return lineBreak.size() == 2 ? 3 : lineBreak == "\r" ? 2 : lineBreak == "\n" ? 1 : 0;
}

namespace {

constexpr std::size_t kNoBreak = 0;
constexpr std::size_t kLf = 1;
constexpr std::size_t kCr = 2;
constexpr std::size_t kCrLf = 3;

// Whether the rest of the refusal phrase, after its first word, stands at `p` when lines
// break as `kind` says: each space of it one or two spaces or line breaks, which
// normalising makes one space (three make two).
bool RestOfPhraseAt(const char* p, const char* end, std::size_t kind) {
    constexpr std::string_view kFirstWord = kRefusalPhrase.substr(0, kRefusalPhrase.find(' '));
    for (std::size_t i = kFirstWord.size(); i < kRefusalPhrase.size(); ++i) {
        if (kRefusalPhrase[i] != ' ') {
            if (p == end || Fold(*p) != static_cast<unsigned char>(kRefusalPhrase[i])) {
                return false;
            }
            ++p;
            continue;
        }
        std::size_t blanks = 0;
        for (;;) {
            if (p < end &&
                (*p == ' ' || (kind == kLf && *p == '\n') || (kind == kCr && *p == '\r'))) {
                ++p;
            } else if (kind == kCrLf && end - p >= 2 && p[0] == '\r' && p[1] == '\n') {
                p += 2;
            } else {
                break;
            }
            ++blanks;
        }
        if (blanks == 0 || blanks > 2) {
            return false;
        }
    }
    return true;
}

} // namespace

void RawScanner::Feed(char* piece, std::size_t n) {
    char* const text = piece - m_tailSize;
    std::memcpy(text, m_tail, m_tailSize);
    const std::string_view view(text, m_tailSize + n);
    const std::size_t start = m_size - m_tailSize; // the position of text[0]
    Refusals(view);
    // What is found here that the last piece did not hold whole, and so was not found
    // then: in this piece, or cut in two by its start.
    const ScopeFinder::Found found = m_scope.Find(view, start, m_size);
    // The drops are counted up to each end of the scope found, noted, and then on. An end
    // that lies before this piece is in a "<dl" or "</dl>" cut in two: nothing between it
    // and this piece is dropped.
    std::size_t counted = 0;
    auto countTo = [&](std::size_t position, Drops& noted) {
        if (position == kNone) {
            return;
        }
        if (position > m_size) {
            CountDrops(piece + counted, position - m_size - counted);
            counted = position - m_size;
        }
        std::copy(std::begin(m_count.drops), std::end(m_count.drops), std::begin(noted));
    };
    countTo(found.open, m_dropsAtOpen);
    countTo(found.close == kNone ? kNone : found.close + 1, m_dropsAtBegin);
    countTo(found.last, m_dropsAtLast);
    CountDrops(piece + counted, n - counted);
    m_size += n;
    m_tailSize = std::min(view.size(), kRawHeadroom);
    std::memcpy(m_tail, view.data() + view.size() - m_tailSize, m_tailSize);
}

void RawScanner::Refusals(std::string_view view) {
    constexpr std::size_t kAll = (1u << kLineBreakKinds) - 1;
    constexpr std::string_view kFirstWord = kRefusalPhrase.substr(0, kRefusalPhrase.find(' '));
    for (std::size_t at = 0; m_refused != kAll;) {
        const std::size_t found = FindFolded(view.substr(at), kFirstWord);
        if (found == std::string_view::npos) {
            return;
        }
        at += found;
        for (std::size_t kind = 0; kind < kLineBreakKinds; ++kind) {
            if (RestOfPhraseAt(view.data() + at + kFirstWord.size(), view.data() + view.size(),
                               kind)) {
                m_refused |= 1u << kind;
            }
        }
        ++at;
    }
}

// One byte of the input: each kind's run of spaces and line breaks grows or ends, and
// every second one of a run is dropped (a CR LF drops its LF, or both).
void RawScanner::Step(char c) {
    auto blank = [this](std::size_t kind, bool is) {
        if (!is) {
            m_count.odd[kind] = false;
        } else if (m_count.odd[kind]) {
            ++m_count.drops[kind];
            m_count.odd[kind] = false;
        } else {
            m_count.odd[kind] = true;
        }
    };
    const bool space = c == ' ';
    blank(kNoBreak, space);
    blank(kLf, space || c == '\n');
    blank(kCr, space || c == '\r');
    if (m_count.pendingCr) {
        m_count.pendingCr = false;
        if (c == '\n') {
            ++m_count.drops[kCrLf];
            blank(kCrLf, true);
            return;
        }
        m_count.odd[kCrLf] = false; // the CR was a character like any other
    }
    if (c == '\r') {
        m_count.pendingCr = true;
        return;
    }
    blank(kCrLf, space);
}

void RawScanner::CountDrops(const char* p, std::size_t n) {
    for (std::size_t i = ChosenKernels().countDrops(p, n, m_count); i < n; ++i) {
        Step(p[i]);
    }
}

bool RawScanner::Refused(std::string_view lineBreak) const {
    return (m_refused >> LineBreakKind(lineBreak) & 1) != 0;
}

std::size_t RawScanner::ScopeBegin() const {
    return m_scope.ScopeBegin();
}

std::size_t RawScanner::ScopeEnd() const {
    return m_scope.ScopeEnd(m_size);
}

std::size_t RawScanner::ScopeLength(std::string_view lineBreak) const {
    const std::size_t kind = LineBreakKind(lineBreak);
    const std::size_t begin = ScopeBegin();
    const std::size_t end = ScopeEnd();
    const std::size_t dropped =
        (m_scope.Close() != kNone && m_scope.Last() != kNone ? m_dropsAtLast
                                                             : m_count.drops)[kind] -
        (m_scope.Open() == kNone    ? 0
         : m_scope.Close() == kNone ? m_dropsAtOpen[kind]
                                    : m_dropsAtBegin[kind]);
    return end - begin - dropped;
}

// ---- Rewriter -------------------------------------------------------------------------

Rewriter::Rewriter(ProgressSink& progress, PieceSink& next, Markers markers)
    : m_progress(progress), m_shown(progress.Shown()), m_out(next), m_markers(markers) {}

// The piece goes 64 bytes at a time, with a bit mask of its "<" and one of its ">": the
// text runs to the next "<", the tag from there to the next ">". The masks of a batch of
// blocks are made at once by the kernels. Each run of text is copied 64 bytes at once, so
// reads go up to 64 bytes past a block; the last 128 bytes or less of the piece are read
// from a copy with zeros behind them, which hold neither.
void Rewriter::Feed(std::string_view piece) {
    constexpr std::size_t kBlock = 64;
    constexpr std::size_t kBatch = 64;
    const Kernels& kernels = ChosenKernels();
    const char* p = piece.data();
    const char* end = p + piece.size();
    char last[3 * kBlock];
    bool inLast = false;
    const char* tagFrom = p; // the open tag's bytes since the last cut begin here
    std::uint64_t opens[kBatch];
    std::uint64_t closes[kBatch];
    std::size_t marked = 0; // blocks of the batch whose masks are made
    std::size_t next = 0;   // the next of them
    while (p < end) {
        if (!inLast && static_cast<std::size_t>(end - p) < 2 * kBlock) {
            if (m_inTag) {
                CarryTag(tagFrom, p);
            }
            const auto rest = static_cast<std::size_t>(end - p);
            std::memcpy(last, p, rest);
            std::memset(last + rest, 0, sizeof last - rest);
            p = last;
            end = last + rest;
            tagFrom = last;
            inLast = true;
            marked = next = 0;
        }
        if (next == marked) {
            // Before the copy, the blocks that end 64 bytes or more before the piece does.
            const auto left = static_cast<std::size_t>(end - p);
            marked = inLast ? (left + kBlock - 1) / kBlock
                            : std::min(kBatch, (left - 2 * kBlock) / kBlock + 1);
            kernels.markTags(p, marked, opens, closes);
            next = 0;
        }
        const std::uint64_t blockOpens = opens[next];
        const std::uint64_t blockCloses = closes[next];
        ++next;
        const std::size_t n = std::min(kBlock, static_cast<std::size_t>(end - p));
        std::size_t i = 0;
        while (i < n) {
            if (!m_inTag) {
                const std::uint64_t at = blockOpens >> i << i;
                if (at == 0) {
                    Text(p + i, n - i);
                    break;
                }
                const auto open = static_cast<std::size_t>(std::countr_zero(at));
                Text(p + i, open - i);
                m_inTag = true;
                m_tagLength = 0;
                tagFrom = p + open;
                i = open + 1;
            } else {
                const std::uint64_t at = blockCloses >> i << i;
                if (at == 0) {
                    break;
                }
                const auto close = static_cast<std::size_t>(std::countr_zero(at));
                CloseTag(tagFrom, p + close);
                i = close + 1;
            }
        }
        p += n;
    }
    if (m_inTag) {
        CarryTag(tagFrom, end); // the tag goes on in the next piece
    }
}

inline void Rewriter::Text(const char* from, std::size_t length) {
    constexpr std::size_t kWidth = 64;
    std::memcpy(m_out.Reserve(kWidth), from, kWidth);
    m_out.Advance(length);
    m_written += length;
}

void Rewriter::CarryTag(const char* from, const char* to) {
    const auto length = static_cast<std::size_t>(to - from);
    if (m_tagLength < sizeof m_tagHead) {
        std::memcpy(m_tagHead + m_tagLength, from,
                    std::min(sizeof m_tagHead - m_tagLength, length));
    }
    m_tagLength += length;
}

inline void Rewriter::CloseTag(const char* from, const char* close) {
    m_inTag = false;
    if (m_tagLength == 0) {
        EndTag(from, static_cast<std::size_t>(close + 1 - from));
        return;
    }
    CarryTag(from, close + 1);
    const std::size_t length = m_tagLength;
    m_tagLength = 0;
    EndTag(m_tagHead, length);
}

void Rewriter::EndTag(const char* head, std::size_t length) {
    // The tag's ">" stands, in the text as it is at this moment, right after what has
    // been written so far and the tag itself.
    if (m_shown) {
        m_progress.SetValue(static_cast<float>(m_written + length));
    }
    std::size_t markers = 0;
    std::size_t feeds = 1;
    switch (Classify(head, length)) {
    case TagKind::ListOpen:
        m_prefix += 2;
        return;
    case TagKind::ListClose:
        // More closings than openings: nothing is left to take away.
        m_prefix = m_prefix >= 2 ? m_prefix - 2 : 0;
        return;
    case TagKind::Removed:
        return;
    case TagKind::Term:
        markers = m_prefix;
        break;
    case TagKind::Definition:
        markers = m_prefix + 2;
        break;
    case TagKind::Paragraph:
        markers = m_prefix + 2;
        feeds = 2;
        break;
    }
    m_written += feeds + markers;
    // Both feeds go in, and the second is written over when there is one.
    constexpr std::size_t kWidth = 64;
    if (m_markers == Markers::Written) {
        if (markers > kWidth - 2) {
            m_out.PutRepeated('\n', feeds);
            m_out.PutRepeated('+', markers);
            return;
        }
        char* const out = m_out.Reserve(kWidth);
        std::memset(out, '+', kWidth);
        out[0] = '\n';
        out[1] = feeds == 2 ? '\n' : '+';
        m_out.Advance(feeds + markers);
        return;
    }
    constexpr std::size_t kRecord = 2 + std::numeric_limits<std::size_t>::digits10 + 1;
    char* const out = m_out.Reserve(2 + kRecord);
    out[0] = '\n';
    out[1] = '\n';
    char* const record = out + feeds;
    record[0] = kCountOpen;
    // Most counts have two digits or one: those are written without a division loop.
    std::size_t recordSize = 0;
    if (markers < 100) {
        const bool two = markers >= 10;
        record[1] = static_cast<char>('0' + (two ? markers / 10 : markers));
        record[2] = static_cast<char>('0' + markers % 10);
        record[2 + two] = kCountClose;
        recordSize = markers > 0 ? 3 + two : 0;
    } else {
        char* const digitsEnd = std::to_chars(record + 1, record + kRecord - 1, markers).ptr;
        *digitsEnd = kCountClose;
        recordSize = static_cast<std::size_t>(digitsEnd + 1 - record);
    }
    m_out.Advance(feeds + recordSize);
}

void Rewriter::Finish() {
    if (m_inTag) {
        // A tag cut off by the end of the text: it and everything after it go, as a
        // browser drops it.
        m_progress.SetValue(0.0f);
        m_inTag = false;
    }
    m_out.Flush();
}

// ---- Assembler ------------------------------------------------------------------------

Assembler::Assembler(PieceSink& next, Markers markers) : m_out(next), m_markers(markers) {}

void Assembler::Take(std::string_view piece) {
    m_any = m_any || !piece.empty();
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while (p < end) {
        if (m_inCount) {
            while (p < end && *p != kCountClose) {
                m_count = m_count * 10 + static_cast<std::size_t>(*p++ - '0');
            }
            if (p == end) {
                return; // the record goes on in the next piece
            }
            ++p;
            m_inCount = false;
            continue;
        }
        if (m_atStart && m_markers == Markers::Counted && *p == kCountOpen) {
            m_inCount = true;
            m_atStart = false;
            ++p;
            continue;
        }
        m_atStart = false;
        const char* const feed = FindByte(p, end, '\n');
        const auto length = static_cast<std::size_t>(feed - p);
        if (feed == end) {
            // The line is written out once more, as long.
            EnsureCapacity(m_segment, m_segment.size() + length, m_segment.size() + length);
            m_segment.append(p, length);
            return;
        }
        if (m_segment.empty()) {
            EndMarkedSegment(std::string_view(p, length));
            m_size += Segment(m_out, m_count, std::string_view(p, length));
        } else {
            EnsureCapacity(m_segment, m_segment.size() + length, m_segment.size() + length);
            m_segment.append(p, length);
            EndMarkedSegment(m_segment);
            m_size += Segment(m_out, m_count, m_segment);
            m_segment.clear();
        }
        m_count = 0;
        m_atStart = true;
        p = feed + 1;
    }
}

// The segment is `markers` markers, then `text`. Markers are no spaces: with any in
// front, trimming takes spaces from the end of the text alone, and the trimmed segment
// (the markers and what is left of the text) is at least two characters long and ends
// in a marker exactly when that rest is empty or ends in "+". The line is then a space
// per marker and the cleaned rest, since neither entity holds a "+".
std::size_t Assembler::Segment(PieceWriter& out, std::size_t markers, std::string_view text) {
    std::string_view rest;
    if (markers == 0) {
        rest = TrimSpaces(text);
        if (!IsContentLine(rest)) {
            return 0;
        }
    } else {
        rest = text.substr(0, text.find_last_not_of(' ') + 1); // npos + 1 is 0
        if (rest.empty() || rest.back() == '+') {
            return 0;
        }
    }
    if (m_counting) {
        return 2 + markers + CleanLine(out.Reserve(rest.size()), rest);
    }
    if (markers > kPieceSize) { // an indentation longer than a piece goes out a piece at a time
        out.Put("\r\n", 2);
        out.PutRepeated(' ', markers);
        const std::size_t cleaned = CleanLine(out.Reserve(rest.size()), rest);
        out.Advance(cleaned);
        return 2 + markers + cleaned;
    }
    char* const line = out.Reserve(2 + markers + rest.size());
    line[0] = '\r';
    line[1] = '\n';
    std::memset(line + 2, ' ', markers);
    const std::size_t size = 2 + markers + CleanLine(line + 2 + markers, rest);
    out.Advance(size);
    return size;
}

void Assembler::Mark() {
    m_marked = true;
    m_markedPending = true;
    m_markedAny = m_any;
    m_markedSize = m_size;
    m_markedCount = m_count;
    m_markedPrefix = m_segment.size();
}

void Assembler::EndMarkedSegment(std::string_view text) {
    if (!m_markedPending) {
        return;
    }
    m_markedPending = false;
    m_markedLine.clear();
    if (m_markedAny) {
        StringSink into(m_markedLine);
        PieceWriter out(into);
        Segment(out, m_markedCount, text.substr(0, m_markedPrefix));
        out.Flush();
    }
}

void Assembler::Finish() {
    EndMarkedSegment(m_segment);
    if (m_any) {
        m_size += Segment(m_out, m_count, m_segment);
        m_segment.clear();
        m_count = 0;
    }
    m_out.Flush();
}

} // namespace velmora::detail
