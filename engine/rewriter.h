#pragma once

#include "piece_writer.h"
#include "velmora/progress.h"

#include <cstddef>
#include <string_view>

namespace velmora::detail {

// The indent markers that begin a line travel from the rewriting to the assembly as one
// record, "<", the count in decimal, ">", right after the LF; the rewritten text holds
// no "<", so the record cannot be mistaken for text. Each line that a term, definition or
// paragraph begins carries as many markers as lists are open around it, so lists nested
// deeper than the text in them is long call for far more markers than any line keeps (a
// definition that only opens the next list makes no line at all). Counted, a line's
// markers cost a few bytes whatever their number, and become spaces only in the lines
// that are kept, so the work grows with the input and the output alone. A line with no
// markers has no record.
inline constexpr char kCountOpen = '<';
inline constexpr char kCountClose = '>';

// Rewrites the tags of the scoped text a piece at a time: terms, definitions and
// paragraphs become an LF and a record of their indent markers, list tags deepen or
// flatten the indentation, other tags vanish. SetValue once per tag, with the position of
// its ">" in the text as it would stand with the markers written out, one "+" each; a tag
// cut off by the end takes everything after it along and reports 0.
class Rewriter {
public:
    Rewriter(ProgressSink& progress, PieceSink& next);
    void Feed(std::string_view piece);
    // Marks the place reached for the assembly: what it has been given up to here is the
    // text as though it ended here, since a tag still open here would be cut off.
    void Mark() { m_out.Mark(); }
    void Finish();

private:
    // Takes the tag that began before `from` on to `to`, where it is cut.
    void CarryTag(const char* from, const char* to);
    // The tag whose ">" is at `close`, its bytes since the last cut from `from`.
    void CloseTag(const char* from, const char* close);
    void EndTag(const char* head, std::size_t length);

    ProgressSink& m_progress;
    bool m_shown; // a sink that shows nothing is not called once per tag
    // Bytes of rewritten text so far, markers written out; kept apart from the writer's
    // count, which grows by the same steps, so that the two are not stored as one.
    std::size_t m_written = 0;
    PieceWriter m_out;
    std::size_t m_prefix = 2; // indent markers in force
    bool m_inTag = false;
    bool m_tagCounts = false;    // the open tag is one of those that make the indentation
    std::size_t m_tagLength = 0; // of a tag cut by the end of a piece, so far
    char m_tagHead[5] = {};      // its first bytes
};

} // namespace velmora::detail
