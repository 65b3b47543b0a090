#include "scanner.h"

#include "bytes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace velmora::detail {

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

} // namespace velmora::detail
