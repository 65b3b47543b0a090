#pragma once

#include "piece_writer.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::detail {

// Turns the rewritten text into lines, a piece at a time: each LF-separated segment that
// passes the content test becomes CR LF and the cleaned line. The indent markers come as
// the records the Rewriter writes (rewriter.h), one at the start of a segment, as the
// first bytes after an LF or of the text. A segment is held whole until its end is seen,
// its markers as a number; memory grows with the longest segment's text.
class Assembler final : public PieceSink {
public:
    explicit Assembler(PieceSink& next);
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
