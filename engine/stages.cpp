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

namespace {

// For each set of the eight bytes of a word that stay, where each of them stands in the
// word (the first comes first), and how many there are; and each byte of a word set
// where a bit is.
struct WordTables {
    std::uint64_t kept[256];
    unsigned char count[256];
    std::uint64_t bytes[256];
};
constexpr WordTables kWordTables = [] {
    WordTables tables{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        unsigned char count = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if ((bits >> i & 1) != 0) {
                tables.kept[bits] |= std::uint64_t{i} << (8 * count++);
                tables.bytes[bits] |= std::uint64_t{0xff} << (8 * i);
            }
        }
        tables.count[bits] = count;
    }
    return tables;
}();

// The bytes of `word` whose bits are set in `keep`, moved to its front.
[[gnu::always_inline]] inline std::uint64_t KeepPortable(std::uint64_t word, unsigned keep) {
    const std::uint64_t from = kWordTables.kept[keep];
    std::uint64_t kept = 0;
    for (unsigned i = 0; i < kWordTables.count[keep]; ++i) {
        kept |= (word >> (8 * (from >> (8 * i) & 0xff)) & 0xff) << (8 * i);
    }
    return kept;
}

#if defined(VELMORA_AVX2_BLOCKS)
__attribute__((target("avx2"))) inline std::uint64_t KeepShuffled(std::uint64_t word,
                                                                  unsigned keep) {
    const __m128i from = _mm_cvtsi64_si128(static_cast<long long>(kWordTables.kept[keep]));
    return static_cast<std::uint64_t>(
        _mm_cvtsi128_si64(_mm_shuffle_epi8(_mm_cvtsi64_si128(static_cast<long long>(word)), from)));
}
#endif

// Normalises 64 bytes at a time as bit masks, while the byte after them is there to be
// seen, from data[in] to data[out] (out <= in), and returns where it stopped; `odd` says
// whether the run that reaches the last byte done has an odd number of units. A CR LF
// cut by the end of a block goes with the block: its CR stays or goes as the run says,
// and its LF goes with the next block, or after the last.
template <typename Block>
[[gnu::always_inline]] inline void NormaliseMasked(char* data, std::size_t n, std::size_t kind,
                                                   std::size_t& in, std::size_t& out, bool& odd) {
    bool crBefore = false;
    for (; in + 64 < n; in += 64) {
        const char* const p = data + in;
        const std::uint64_t spaces = Mask64<Block>(p, ' ');
        std::uint64_t runs = spaces;
        std::uint64_t units = spaces;
        std::uint64_t pairCrs = 0;
        std::uint64_t pairLfs = 0;
        if (kind == 1 || kind == 2) { // LF or CR
            runs = units = spaces | Mask64<Block>(p, kind == 1 ? '\n' : '\r');
        } else if (kind == 3) {
            const std::uint64_t crs = Mask64<Block>(p, '\r');
            const std::uint64_t lfs = Mask64<Block>(p, '\n');
            pairLfs = lfs & ((crs << 1) | (crBefore ? 1 : 0));
            pairCrs = crs & ((lfs >> 1) | (static_cast<std::uint64_t>(p[64] == '\n') << 63));
            crBefore = pairCrs >> 63 != 0;
            runs = spaces | pairCrs | pairLfs;
            units = spaces | pairLfs;
        }
        const std::uint64_t own = RunParity(runs, units, odd);
        odd = (runs >> 63 & own >> 63) != 0;
        // A unit goes when an even number stand in its run up to it; a CR LF always loses
        // its LF, and its CR too when the pair goes as a unit. What stays of a line break
        // becomes a space.
        std::uint64_t dropped = units & ~own;
        std::uint64_t toSpace = (units & ~spaces) & own;
        if (kind == 3) {
            dropped = (units & ~own) | pairLfs | (pairCrs & own);
            toSpace = pairCrs & ~own;
        }
        if (dropped == 0 && toSpace == 0 && out == in) {
            out += 64;
            continue;
        }
        for (std::size_t at = 0; at < 64; at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p + at, 8);
            const auto spaced = static_cast<unsigned>(toSpace >> at & 0xff);
            const auto keep = static_cast<unsigned>(~dropped >> at & 0xff);
#if defined(VELMORA_AVX2_BLOCKS)
            if constexpr (std::is_same_v<Block, Avx2Block>) {
                // Without a branch: where the words that change fall is hard to foresee.
                const std::uint64_t bytes = kWordTables.bytes[spaced];
                word = KeepShuffled((word & ~bytes) | (0x2020202020202020ULL & bytes), keep);
            } else
#endif
            {
                if (spaced != 0) {
                    const std::uint64_t bytes = kWordTables.bytes[spaced];
                    word = (word & ~bytes) | (0x2020202020202020ULL & bytes);
                }
                if (keep != 0xff) {
                    word = KeepPortable(word, keep);
                }
            }
            // All eight bytes are written: those past the kept ones land where the next
            // word's bytes will be written, never on a byte not yet read.
            std::memcpy(data + out, &word, 8);
            out += kWordTables.count[keep];
        }
    }
    if (crBefore) { // the LF of a CR LF cut by the last block: it goes, and counts as its unit
        ++in;
        odd = !odd;
    }
}

// The normalising of one piece with blocks of type Block; `spaceRun` counts the spaces
// in the run that ends where the piece begins, and then where it ends. Inlined into one
// function per kind of block, each built for the processor that the block needs.
template <typename Block>
[[gnu::always_inline]] inline std::size_t
NormaliseBlocks(char* data, std::size_t n, std::string_view lineBreak, std::size_t& spaceRun) {
    // Both replacements shrink or keep the text, so one pass writes over what it has
    // already read. The halving keeps the first, third, fifth... space of a run, which is
    // what replacing "  " by " " from the left without rescanning leaves.
    const bool pairs = lineBreak.size() == 2;
    // The character that starts a line break: CR for CR LF, else the break itself.
    const char breakStart = lineBreak.empty() ? '\0' : lineBreak[0];
    std::size_t in = 0;
    std::size_t out = 0;
    // Long pieces go 64 bytes at a time first, the rest below.
    if (n > 64) {
        bool odd = spaceRun % 2 == 1;
        NormaliseMasked<Block>(data, n, LineBreakKind(lineBreak), in, out, odd);
        spaceRun = odd ? 1 : 0;
    }

    // Bytes written may run up to a block past `out`, rather than the exact few, once
    // what has been read is that far ahead: they land on bytes already done with.
    auto roomToSpare = [&]() __attribute__((always_inline)) {
        return in - out >= Block::kSize;
    };

    // At a space or a line break: the whole run of them at once, since indentation and
    // wrapped lines make such runs common. Each line break counts as one space.
    auto run = [&]() __attribute__((always_inline)) {
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
    return out;
}

std::size_t NormaliseWords(char* data, std::size_t n, std::string_view lineBreak,
                           std::size_t& spaceRun) {
    return NormaliseBlocks<WordBlock>(data, n, lineBreak, spaceRun);
}

#if defined(__SSE2__)
std::size_t NormaliseSse2(char* data, std::size_t n, std::string_view lineBreak,
                          std::size_t& spaceRun) {
    return NormaliseBlocks<VectorBlock>(data, n, lineBreak, spaceRun);
}
#endif

#if defined(VELMORA_AVX2_BLOCKS)
__attribute__((target("avx2"))) std::size_t
NormaliseAvx2(char* data, std::size_t n, std::string_view lineBreak, std::size_t& spaceRun) {
    return NormaliseBlocks<Avx2Block>(data, n, lineBreak, spaceRun);
}
#endif

} // namespace

std::size_t Normaliser::NormaliseInPlace(char* data, std::size_t n) {
    switch (ChosenBlockPath()) {
#if defined(VELMORA_AVX2_BLOCKS)
    case BlockPath::Avx2:
        return NormaliseAvx2(data, n, m_lineBreak, m_spaceRun);
#endif
#if defined(__SSE2__)
    case BlockPath::Sse2:
        return NormaliseSse2(data, n, m_lineBreak, m_spaceRun);
#endif
    default:
        return NormaliseWords(data, n, m_lineBreak, m_spaceRun);
    }
}

// ---- CleanLine ------------------------------------------------------------------------

namespace {

// The markers in front become the indentation. The rest goes in one pass from the left
// that writes each "+" as a space, skips each "&gt;" of the text and takes back each
// "&lt;" as soon as its ";" is written, among what was written since the last one taken
// back: the same as removing "&gt;" in one pass, then "&lt;" in one over what that left,
// neither looking again at what it has written ("&&gt;gt;" keeps an "&gt;", "&l&gt;t;"
// loses both). Neither entity holds a "+", so where the markers become spaces is no matter.
template <typename Block>
[[gnu::always_inline]] inline std::size_t CleanBlocks(char* out, std::string_view trimmed) {
    std::size_t markers = 0;
    while (markers < trimmed.size() && trimmed[markers] == '+') {
        ++markers;
    }
    std::memset(out, ' ', markers);
    const char* in = trimmed.data() + markers;
    const char* const end = trimmed.data() + trimmed.size();
    char* written = out + markers;
    char* taken = written; // where what was written since the last "&lt;" taken back begins
    for (;;) {
        // A block with no "&", "+" or ";" goes whole: no entity begins or ends in it. Once
        // one is found, the block is stored all the same, since the bytes written ahead
        // stay within the line's room and are written over.
        while (static_cast<std::size_t>(end - in) >= Block::kSize) {
            const Block block(in);
            const std::uint32_t special =
                block.Matches('&') | block.Matches('+') | block.Matches(';');
            block.Store(written);
            if (special == 0) {
                written += Block::kSize;
                in += Block::kSize;
                continue;
            }
            const auto plain = static_cast<std::size_t>(std::countr_zero(special));
            written += plain;
            in += plain;
            break;
        }
        if (in == end) {
            return static_cast<std::size_t>(written - out);
        }
        if (*in == '&' && end - in >= 4 && std::memcmp(in, "&gt;", 4) == 0) {
            in += 4;
            continue;
        }
        const char c = *in == '+' ? ' ' : *in;
        ++in;
        *written++ = c;
        if (c == ';' && written - taken >= 4 && std::memcmp(written - 4, "&lt;", 4) == 0) {
            written -= 4;
            taken = written;
        }
    }
}

std::size_t CleanWords(char* out, std::string_view trimmed) {
    return CleanBlocks<WordBlock>(out, trimmed);
}

#if defined(__SSE2__)
std::size_t CleanSse2(char* out, std::string_view trimmed) {
    return CleanBlocks<VectorBlock>(out, trimmed);
}
#endif

#if defined(VELMORA_AVX2_BLOCKS)
__attribute__((target("avx2"))) std::size_t CleanAvx2(char* out, std::string_view trimmed) {
    return CleanBlocks<Avx2Block>(out, trimmed);
}
#endif

} // namespace

std::size_t CleanLine(char* out, std::string_view trimmed) {
    switch (ChosenBlockPath()) {
#if defined(VELMORA_AVX2_BLOCKS)
    case BlockPath::Avx2:
        return CleanAvx2(out, trimmed);
#endif
#if defined(__SSE2__)
    case BlockPath::Sse2:
        return CleanSse2(out, trimmed);
#endif
    default:
        return CleanWords(out, trimmed);
    }
}

// ---- Scanner --------------------------------------------------------------------------

void Scanner::Feed(char* piece, std::size_t n) {
    // The end of the text before this piece goes in front of it, so that a match cut in
    // two by the pieces is found whole; what it finds again is found at the same place.
    char* const text = piece - m_tailSize;
    std::memcpy(text, m_tail, m_tailSize);
    const std::string_view view(text, m_tailSize + n);
    const std::size_t start = m_size - m_tailSize; // the position of text[0]
    if (!m_refused) {
        m_refused = FindFolded(view, kRefusalPhrase) != std::string_view::npos;
    }
    if (m_open == kNone) {
        const std::size_t open = FindFolded(view, "<dl");
        if (open != std::string_view::npos) {
            m_open = start + open;
        }
    }
    if (m_open != kNone && m_close == kNone) {
        const std::size_t from = m_open > start ? m_open - start : 0;
        const std::size_t close = view.find('>', from);
        if (close != std::string_view::npos) {
            m_close = start + close;
        }
    }
    if (m_close != kNone && m_close + 1 < start + view.size()) {
        const std::size_t from = m_close + 1 > start ? m_close + 1 - start : 0;
        const std::size_t last = FindLastFolded(view.substr(from), "</dl>");
        if (last != std::string_view::npos) {
            m_last = start + from + last;
        }
    }
    m_size += n;
    m_tailSize = std::min(view.size(), kRefusalPhrase.size() - 1);
    std::memcpy(m_tail, view.data() + view.size() - m_tailSize, m_tailSize);
}

std::size_t Scanner::ScopeBegin() const {
    return ScopeBeginOf(m_open, m_close);
}

std::size_t Scanner::ScopeEnd() const {
    return ScopeEndOf(m_close, m_last, m_size);
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
    std::size_t open = kNone;
    std::size_t begin = kNone;
    std::size_t last = kNone;
    if (m_open == kNone) {
        const std::size_t found = FindFolded(view, "<dl");
        if (found != std::string_view::npos) {
            m_open = open = start + found;
        }
    }
    if (m_open != kNone && m_close == kNone) {
        const std::size_t from = m_open > start ? m_open - start : 0;
        const std::size_t close = view.find('>', from);
        if (close != std::string_view::npos) {
            m_close = start + close;
            begin = m_close + 1;
        }
    }
    constexpr std::string_view kLast = "</dl>";
    if (m_close != kNone) {
        const std::size_t from =
            std::max(m_close + 1, m_size - std::min(m_size, kLast.size() - 1)) - start;
        const std::size_t found =
            from < view.size() ? FindLastFolded(view.substr(from), kLast) : std::string_view::npos;
        if (found != std::string_view::npos) {
            m_last = last = start + from + found;
        }
    }
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
        std::copy(std::begin(m_drops), std::end(m_drops), std::begin(noted));
    };
    countTo(open, m_dropsAtOpen);
    countTo(begin, m_dropsAtBegin);
    countTo(last, m_dropsAtLast);
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
            m_odd[kind] = false;
        } else if (m_odd[kind]) {
            ++m_drops[kind];
            m_odd[kind] = false;
        } else {
            m_odd[kind] = true;
        }
    };
    const bool space = c == ' ';
    blank(kNoBreak, space);
    blank(kLf, space || c == '\n');
    blank(kCr, space || c == '\r');
    if (m_pendingCr) {
        m_pendingCr = false;
        if (c == '\n') {
            ++m_drops[kCrLf];
            blank(kCrLf, true);
            return;
        }
        m_odd[kCrLf] = false; // the CR was a character like any other
    }
    if (c == '\r') {
        m_pendingCr = true;
        return;
    }
    blank(kCrLf, space);
}

namespace {

// The units that go in 64 bytes of one kind: the second, fourth... of each run.
[[gnu::always_inline]] inline std::size_t DroppedUnits(std::uint64_t runs, std::uint64_t units,
                                                       bool& odd) {
    const std::uint64_t own = RunParity(runs, units, odd);
    odd = (runs >> 63 & own >> 63) != 0;
    return static_cast<std::size_t>(std::popcount(units & ~own));
}

} // namespace

// A block of 64 bytes at a time as bit masks, with the byte after it in sight (a CR is a
// line break of its kind only when a LF follows); the few bytes at the end byte by byte.
template <typename B>
[[gnu::always_inline]] inline std::size_t RawScanner::CountBlocks(const char* p, std::size_t n) {
    std::size_t i = 0;
    if (n > 64) {
        bool odd[kLineBreakKinds];
        std::copy(std::begin(m_odd), std::end(m_odd), std::begin(odd));
        bool crBefore = m_pendingCr;
        if (crBefore && p[0] != '\n') {
            odd[kCrLf] = false; // the CR was a character like any other
        }
        for (; i + 64 < n; i += 64) {
            const char* const block = p + i;
            const std::uint64_t spaces = Mask64<B>(block, ' ');
            const std::uint64_t crs = Mask64<B>(block, '\r');
            const std::uint64_t lfs = Mask64<B>(block, '\n');
            const std::uint64_t pairLfs = lfs & ((crs << 1) | (crBefore ? 1 : 0));
            const std::uint64_t pairCrs =
                crs & ((lfs >> 1) | (static_cast<std::uint64_t>(block[64] == '\n') << 63));
            crBefore = (crs >> 63) != 0;
            if (pairLfs != 0) {
                m_crlf = true;
            }
            if (!m_crlf) {
                m_drops[kNoBreak] += DroppedUnits(spaces, spaces, odd[kNoBreak]);
                m_drops[kLf] += DroppedUnits(spaces | lfs, spaces | lfs, odd[kLf]);
                m_drops[kCr] += DroppedUnits(spaces | crs, spaces | crs, odd[kCr]);
            }
            m_drops[kCrLf] +=
                static_cast<std::size_t>(std::popcount(pairLfs)) +
                DroppedUnits(spaces | pairCrs | pairLfs, spaces | pairLfs, odd[kCrLf]);
        }
        std::copy(std::begin(odd), std::end(odd), std::begin(m_odd));
        m_pendingCr = crBefore;
    }
    return i;
}

#if defined(VELMORA_AVX2_BLOCKS)
__attribute__((target("avx2,popcnt"))) std::size_t RawScanner::CountBlocksAvx2(const char* p,
                                                                               std::size_t n) {
    return CountBlocks<Avx2Block>(p, n);
}
#endif

void RawScanner::CountDrops(const char* p, std::size_t n) {
    std::size_t i = 0;
    switch (ChosenBlockPath()) {
#if defined(VELMORA_AVX2_BLOCKS)
    case BlockPath::Avx2:
        i = CountBlocksAvx2(p, n);
        break;
#endif
#if defined(__SSE2__)
    case BlockPath::Sse2:
        i = CountBlocks<VectorBlock>(p, n);
        break;
#endif
    default:
        i = CountBlocks<WordBlock>(p, n);
        break;
    }
    for (; i < n; ++i) {
        Step(p[i]);
    }
}

bool RawScanner::Refused(std::string_view lineBreak) const {
    return (m_refused >> LineBreakKind(lineBreak) & 1) != 0;
}

std::size_t RawScanner::ScopeBegin() const {
    return ScopeBeginOf(m_open, m_close);
}

std::size_t RawScanner::ScopeEnd() const {
    return ScopeEndOf(m_close, m_last, m_size);
}

std::size_t RawScanner::ScopeLength(std::string_view lineBreak) const {
    const std::size_t kind = LineBreakKind(lineBreak);
    const std::size_t begin = ScopeBegin();
    const std::size_t end = ScopeEnd();
    const std::size_t dropped =
        (m_close != kNone && m_last != kNone ? m_dropsAtLast : m_drops)[kind] -
        (m_open == kNone    ? 0
         : m_close == kNone ? m_dropsAtOpen[kind]
                            : m_dropsAtBegin[kind]);
    return end - begin - dropped;
}

// ---- Rewriter -------------------------------------------------------------------------

Rewriter::Rewriter(ProgressSink& progress, PieceSink& next, Markers markers)
    : m_progress(progress), m_shown(progress.Shown()), m_out(next),
      m_markers(markers) {}

void Rewriter::Feed(std::string_view piece) {
    const char* const p = piece.data();
    const char* const end = p + piece.size();
    switch (ChosenBlockPath()) {
#if defined(VELMORA_AVX2_BLOCKS)
    case BlockPath::Avx2:
        FeedAvx2(p, end);
        break;
#endif
#if defined(__SSE2__)
    case BlockPath::Sse2:
        FeedBlocks<VectorBlock>(p, end);
        break;
#endif
    default:
        FeedBlocks<WordBlock>(p, end);
        break;
    }
}

// The piece goes 64 bytes at a time, with a bit mask of its "<" and one of its ">": the
// text runs to the next "<", the tag from there to the next ">". Each run of text is
// copied 64 bytes at once, so reads go up to 64 bytes past a block; the last 128 bytes
// or less of the piece are read from a copy with zeros behind them, which hold neither.
template <typename B>
[[gnu::always_inline]] inline void Rewriter::FeedBlocks(const char* p, const char* end) {
    constexpr std::size_t kBlock = 64;
    char last[3 * kBlock];
    bool inLast = false;
    const char* tagFrom = p; // the open tag's bytes since the last cut begin here
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
        }
        const std::size_t n = std::min(kBlock, static_cast<std::size_t>(end - p));
        const std::uint64_t opens = Mask64<B>(p, '<');
        const std::uint64_t closes = Mask64<B>(p, '>');
        std::size_t i = 0;
        while (i < n) {
            if (!m_inTag) {
                const std::uint64_t next = opens >> i << i;
                if (next == 0) {
                    Text(p + i, n - i);
                    break;
                }
                const auto open = static_cast<std::size_t>(std::countr_zero(next));
                Text(p + i, open - i);
                m_inTag = true;
                m_tagLength = 0;
                tagFrom = p + open;
                i = open + 1;
            } else {
                const std::uint64_t next = closes >> i << i;
                if (next == 0) {
                    break;
                }
                const auto close = static_cast<std::size_t>(std::countr_zero(next));
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

#if defined(VELMORA_AVX2_BLOCKS)
__attribute__((target("avx2"))) void Rewriter::FeedAvx2(const char* p, const char* end) {
    FeedBlocks<Avx2Block>(p, end);
}
#endif

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
            Segment(m_count, std::string_view(p, length));
        } else {
            EnsureCapacity(m_segment, m_segment.size() + length, m_segment.size() + length);
            m_segment.append(p, length);
            Segment(m_count, m_segment);
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
void Assembler::Segment(std::size_t markers, std::string_view text) {
    std::string_view rest;
    if (markers == 0) {
        rest = TrimSpaces(text);
        if (!IsContentLine(rest)) {
            return;
        }
    } else {
        rest = text.substr(0, text.find_last_not_of(' ') + 1); // npos + 1 is 0
        if (rest.empty() || rest.back() == '+') {
            return;
        }
    }
    if (m_counting) {
        m_size += 2 + markers + CleanLine(m_out.Reserve(rest.size()), rest);
        return;
    }
    if (markers > kPieceSize) { // an indentation longer than a piece goes out a piece at a time
        m_out.Put("\r\n", 2);
        m_out.PutRepeated(' ', markers);
        m_out.Advance(CleanLine(m_out.Reserve(rest.size()), rest));
        return;
    }
    char* const line = m_out.Reserve(2 + markers + rest.size());
    line[0] = '\r';
    line[1] = '\n';
    std::memset(line + 2, ' ', markers);
    m_out.Advance(2 + markers + CleanLine(line + 2 + markers, rest));
}

void Assembler::Finish() {
    if (m_any) {
        Segment(m_count, m_segment);
        m_segment.clear();
        m_count = 0;
    }
    m_out.Flush();
}

} // namespace velmora::detail
