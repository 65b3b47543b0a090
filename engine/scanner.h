#pragma once

// The searches through the text that the later stages must have done before they start:
// the line break it uses, the refusal phrase, the scope of its first definition list.

#include "kernels.h"

#include <cstddef>
#include <string_view>

namespace velmora::detail {

// Finds the line break a text uses: CR LF when that pair occurs anywhere, else LF, else
// CR, else none.
class LineBreakFinder {
public:
    void Feed(std::string_view piece);
    // True once nothing later can change the answer (a CR LF has been seen).
    bool Settled() const { return m_crlf; }
    std::string_view LineBreak() const;

private:
    bool m_crlf = false;
    bool m_lf = false;
    bool m_cr = false;
    bool m_endsInCr = false;
};

// The phrase that marks a report of the generator we do not convert, in lower case.
inline constexpr std::string_view kRefusalPhrase = "zoak metadata report generated";

// Bytes of room that Scanner::Feed needs before each piece.
inline constexpr std::size_t kScanHeadroom = 32;

// Where the scope begins and ends, from where the first "<dl", the ">" after it and the
// last "</dl>" after that were found (kNoPosition where not) in a text of `size` bytes.
inline constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);
inline std::size_t ScopeBeginOf(std::size_t open, std::size_t close) {
    return open == kNoPosition ? 0 : close == kNoPosition ? open : close + 1;
}
inline std::size_t ScopeEndOf(std::size_t close, std::size_t last, std::size_t size) {
    return close != kNoPosition && last != kNoPosition ? last : size;
}

// The search for the scope, across pieces: the first "<dl", the ">" after it and the last
// "</dl>" after that, in any case. Each piece is looked through with the end of the text
// before it in front (carried by the caller), so that a phrase cut by the pieces is found
// whole, in the piece that completes it.
class ScopeFinder {
public:
    // What one piece completed, in positions of the whole text (kNoPosition for none): the
    // "<dl", the ">" after it, the last "</dl>" after that.
    struct Found {
        std::size_t open = kNoPosition;
        std::size_t close = kNoPosition;
        std::size_t last = kNoPosition;
    };
    // `view` is the text from position `start` on, its bytes from `fed` (the size of the
    // text before this piece) new; at least the last four bytes before `fed` are in it.
    Found Find(std::string_view view, std::size_t start, std::size_t fed);
    std::size_t Open() const { return m_open; }
    std::size_t Close() const { return m_close; }
    std::size_t Last() const { return m_last; }
    std::size_t ScopeBegin() const { return ScopeBeginOf(m_open, m_close); }
    std::size_t ScopeEnd(std::size_t size) const { return ScopeEndOf(m_close, m_last, size); }

private:
    std::size_t m_open = kNoPosition;
    std::size_t m_close = kNoPosition;
    std::size_t m_last = kNoPosition;
};

// Looks through the normalised text, a piece at a time, for what the later stages must
// know before they start: whether it carries the refusal phrase, and where the inside
// of its first definition list begins and ends.
class Scanner {
public:
    // `piece` is the next piece of the normalised text; the kScanHeadroom bytes in front
    // of it may be overwritten.
    void Feed(char* piece, std::size_t n);
    bool Refused() const { return m_refused; }
    // The scope, in positions of the whole normalised text: after the ">" that closes the
    // first "<dl", up to the last "</dl>" after it, both in any case; from the "<dl" to
    // the end when no ">" follows it; the whole text when there is no "<dl".
    std::size_t ScopeBegin() const { return m_scope.ScopeBegin(); }
    std::size_t ScopeEnd() const { return m_scope.ScopeEnd(m_size); }
    std::size_t Size() const { return m_size; }
    // What the last piece fed completed, in positions of the whole text, or kNoPosition:
    // the first "<dl", the ">" that closes it, the last "</dl>" after that. One cut by the
    // start of the piece begins before it.
    std::size_t Open() const { return m_found.open; }
    std::size_t Close() const { return m_found.close; }
    std::size_t Last() const { return m_found.last; }

private:
    std::size_t m_size = 0; // of the text fed so far
    char m_tail[kScanHeadroom] = {};
    std::size_t m_tailSize = 0;
    bool m_refused = false;
    ScopeFinder m_scope;
    ScopeFinder::Found m_found;
};

// The ways a text can break its lines, as LineBreakFinder names them: none, LF, CR, CR LF.
inline constexpr std::size_t kLineBreakKinds = DropCount::kKinds;
std::size_t LineBreakKind(std::string_view lineBreak);

// Bytes of room that RawScanner::Feed needs before each piece: the longest the refusal
// phrase can be in the bytes as read, less one.
inline constexpr std::size_t kRawHeadroom = 38;

// Looks through the input as it is read, before any normalising, for what Scanner finds
// in the normalised text, so that the first reading does the least it can. The ends of
// the scope ("<dl", the ">" after it, "</dl>") hold no space and no line break, so they
// stand in the bytes as read where they stand in the normalised text, moved by what
// normalising drops in front of them; that is counted as the bytes go by, under each way
// of breaking lines at once, since which one the text uses is known only at its end. The
// refusal phrase is tried wherever "zoak" stands, each space of it as one or two line
// breaks or spaces of each kind, which is what normalising turns into one space.
class RawScanner {
public:
    // `piece` is the next piece of the input; the kRawHeadroom bytes in front of it may be
    // overwritten.
    void Feed(char* piece, std::size_t n);
    // Once the whole input has been fed, for the line break it uses:
    bool Refused(std::string_view lineBreak) const;
    // The scope, as Scanner has it, in positions of the input as read.
    std::size_t ScopeBegin() const;
    std::size_t ScopeEnd() const;
    // The length of the scope once normalised.
    std::size_t ScopeLength(std::string_view lineBreak) const;

private:
    using Drops = std::size_t[kLineBreakKinds];
    static constexpr std::size_t kNone = kNoPosition;

    void Refusals(std::string_view view);
    void CountDrops(const char* p, std::size_t n);
    void Step(char c);

    std::size_t m_size = 0; // of the input fed so far
    char m_tail[kRawHeadroom] = {};
    std::size_t m_tailSize = 0;
    unsigned m_refused = 0; // a bit for each line break kind under which the phrase is there
    ScopeFinder m_scope;
    // Bytes normalising drops, under each kind, before the input's end (with what it
    // carries on), and before the scope's possible ends.
    DropCount m_count;
    Drops m_dropsAtOpen = {};
    Drops m_dropsAtBegin = {};
    Drops m_dropsAtLast = {};
};
} // namespace velmora::detail
