#pragma once

// The conversion as stages that each take the text a piece at a time and hand what they
// make to the next: normalising, scanning, rewriting, assembling. A piece may end
// anywhere, even inside a line break, a tag or a search phrase: each stage carries what
// it has seen across the cut, so that any cutting gives the same result as the whole
// text in one piece. The phase functions and the file-to-file conversion are both built
// from these.

#include "kernels.h"
#include "velmora/progress.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace velmora::detail {

// Takes the pieces of a text one after the other.
class PieceSink {
public:
    virtual ~PieceSink() = default;
    virtual void Take(std::string_view piece) = 0;
    // The piece buffer[0, used), from a writer whose buffer may be taken along: a sink that
    // keeps pieces for later swaps in another buffer, of at least the size it takes.
    virtual void TakeBuffer(std::string& buffer, std::size_t used) {
        Take(std::string_view(buffer.data(), used));
    }
    // A place between two pieces that a later stage notes (Assembler::Mark).
    virtual void Mark() {}
};

// Collects the pieces into one string, as far as the memory the system can give goes
// (std::bad_alloc beyond).
class StringSink final : public PieceSink {
public:
    explicit StringSink(std::string& into) : m_into(into) {}
    void Take(std::string_view piece) override;

private:
    std::string& m_into;
};

// Gathers small writes into pieces of a fixed size for the next stage.
class PieceWriter {
public:
    explicit PieceWriter(PieceSink& next);
    // Room for `count` bytes at once, to be written at Cursor() and then Advance()d over.
    char* Reserve(std::size_t count) {
        return count <= m_buffer.size() - m_used ? m_buffer.data() + m_used : ReserveLong(count);
    }
    void Advance(std::size_t count) { m_used += count; }
    // Small writes, most of them, go straight into the buffer.
    void Put(const char* data, std::size_t count) {
        if (count <= m_buffer.size() - m_used) {
            std::memcpy(m_buffer.data() + m_used, data, count);
            m_used += count;
        } else {
            PutLong(data, count);
        }
    }
    void PutRepeated(char c, std::size_t count) {
        if (count <= m_buffer.size() - m_used) {
            std::memset(m_buffer.data() + m_used, c, count);
            m_used += count;
        } else {
            PutRepeatedLong(c, count);
        }
    }
    void Flush();
    // Flushes, and passes a mark on at the place reached.
    void Mark() {
        Flush();
        m_next.Mark();
    }

private:
    char* ReserveLong(std::size_t count);
    void PutLong(const char* data, std::size_t count);
    void PutRepeatedLong(char c, std::size_t count);

    PieceSink& m_next;
    std::string m_buffer;
    std::size_t m_used = 0;
};

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

// Line breaks to spaces, then runs of spaces halved (a run of n becomes ceil(n/2)), in
// place, a piece at a time.
class Normaliser {
public:
    explicit Normaliser(std::string_view lineBreak);
    // Normalises data[0, n) in place and returns the normalised bytes. A CR at the end of
    // a piece that is not the `last` may begin a CR LF: it is held back and put in front
    // of the next piece, at data[-1], which must then be writable.
    std::string_view Feed(char* data, std::size_t n, bool last);
    // The line break, once it is known, for a normaliser that has seen none so far.
    void SetLineBreak(std::string_view lineBreak) { m_lineBreak = lineBreak; }
    std::string_view LineBreak() const { return m_lineBreak; }

private:
    std::size_t NormaliseInPlace(char* data, std::size_t n);

    std::string_view m_lineBreak;
    std::size_t m_spaceRun = 0; // spaces in the run that ends where the last piece ended
    bool m_heldCr = false;
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

// How the indent markers that begin a line travel from the rewriting to the assembly.
// Written: as the rewritten text holds them, one "+" each. Counted: as one record, "<",
// the count in decimal, ">", right after the LF; the rewritten text holds no "<", so the
// record cannot be mistaken for text. Each line that a term, definition or paragraph
// begins carries as many markers as lists are open around it, so lists nested deeper
// than the text in them is long call for far more markers than any line keeps (a
// definition that only opens the next list makes no line at all). Counted, a line's
// markers cost a few bytes whatever their number, and become spaces only in the lines
// that are kept, so the work grows with the input and the output alone.
enum class Markers { Written, Counted };
inline constexpr char kCountOpen = '<';
inline constexpr char kCountClose = '>';

// Rewrites the tags of the scoped text a piece at a time: terms, definitions and
// paragraphs become an LF and indent markers, list tags deepen or flatten the
// indentation, other tags vanish. SetValue once per tag, with the position of its ">" in
// the text as it stands then (the markers written out, however they travel); a tag cut
// off by the end takes everything after it along and reports 0.
class Rewriter {
public:
    Rewriter(ProgressSink& progress, PieceSink& next, Markers markers = Markers::Written);
    void Feed(std::string_view piece);
    // Marks the place reached for the assembly: what it has been given up to here is the
    // text as though it ended here, since a tag still open here would be cut off.
    void Mark() { m_out.Mark(); }
    void Finish();

private:
    // The text in front of a tag, read from `from`, where 64 bytes can be read.
    void Text(const char* from, std::size_t length);
    // Takes the tag that began before `from` on to `to`, where it is cut.
    void CarryTag(const char* from, const char* to);
    // The tag whose ">" is at `close`, its bytes since the last cut from `from`.
    void CloseTag(const char* from, const char* close);
    void EndTag(const char* head, std::size_t length);

    ProgressSink& m_progress;
    bool m_shown; // a sink that shows nothing is not called once per tag
    PieceWriter m_out;
    Markers m_markers;
    std::size_t m_written = 0; // bytes of rewritten text so far, markers written out
    std::size_t m_prefix = 2;  // indent markers in force
    bool m_inTag = false;
    std::size_t m_tagLength = 0; // of a tag cut by the end of a piece, so far
    char m_tagHead[5] = {};      // its first bytes
};

// Turns the rewritten text into lines, a piece at a time: each LF-separated segment that
// passes the content test becomes CR LF and the cleaned line. A segment is held whole
// until its end is seen, its counted markers as a number; memory grows with the longest
// segment's text.
class Assembler final : public PieceSink {
public:
    explicit Assembler(PieceSink& next, Markers markers = Markers::Written);
    void Take(std::string_view piece) override;
    // Notes where the output stands and the line the text taken so far would end with,
    // were it the whole text: the output as it is to be if nothing after the last mark
    // is wanted. The line is made when its segment ends, once however many marks fall in
    // it.
    void Mark() override;
    // The last segment (an empty text has none).
    void Finish();
    // Only counts the bytes of output, handing nothing on.
    void CountOnly() { m_counting = true; }
    std::size_t Size() const { return m_size; }
    // After Finish: whether there was a mark, the bytes of output before the last one and
    // the line that follows them there.
    bool Marked() const { return m_marked; }
    std::size_t MarkedSize() const { return m_markedSize; }
    std::string_view MarkedLine() const { return m_markedLine; }

private:
    // Writes the line of a segment to `out`, if it makes one; its bytes.
    std::size_t Segment(PieceWriter& out, std::size_t markers, std::string_view text);
    // The segment whose text `text` begins with what it had at the last mark has ended.
    void EndMarkedSegment(std::string_view text);

    PieceWriter m_out;
    Markers m_markers;
    bool m_counting = false;
    std::size_t m_size = 0;  // bytes of output so far
    std::string m_segment;   // the text of a segment whose LF has not come yet
    std::size_t m_count = 0; // the markers counted in front of it
    bool m_atStart = true;   // nothing of the segment has come yet
    bool m_inCount = false;  // inside a count record
    bool m_any = false;
    // The last mark: the output before it, the segment as it stood there, and the line.
    bool m_marked = false;
    bool m_markedPending = false; // its segment has not ended yet
    bool m_markedAny = false;
    std::size_t m_markedSize = 0;
    std::size_t m_markedCount = 0;
    std::size_t m_markedPrefix = 0;
    std::string m_markedLine;
};

} // namespace velmora::detail
