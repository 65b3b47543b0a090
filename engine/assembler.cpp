#include "assembler.h"

#include "bytes.h"
#include "piece_memory.h"
#include "rewriter.h"
#include "steps.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace velmora::detail {

namespace {

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

// The LFs of a piece, a block of 64 bytes at a time: each block's are marked at once and
// then taken one by one, so that a block holding several short lines is looked at once.
class FeedFinder {
public:
    explicit FeedFinder(const char* end) : m_end(end) {}
    // The first LF from `p` on, or the end; `p` only goes forward.
    const char* Next(const char* p) {
        if (m_block == nullptr || p - m_block >= 64) {
            m_block = p;
            Mark();
        }
        std::uint64_t at = m_feeds >> (p - m_block) << (p - m_block);
        while (at == 0) {
            if (m_end - m_block <= 64) {
                return m_end;
            }
            m_block += 64;
            Mark();
            at = m_feeds;
        }
        return m_block + std::countr_zero(at);
    }

private:
    void Mark() {
        const auto left = static_cast<std::size_t>(m_end - m_block);
        if (left >= 64) {
            m_feeds = ChosenKernels().markByte(m_block, '\n');
            return;
        }
        char last[64] = {}; // the piece's last bytes, with no LF behind them
        std::memcpy(last, m_block, left);
        m_feeds = ChosenKernels().markByte(last, '\n');
    }

    const char* m_block = nullptr; // the block marked
    const char* const m_end;
    std::uint64_t m_feeds = 0;
};

} // namespace

// ---- CleanLine ------------------------------------------------------------------------

std::size_t CleanLine(char* out, std::string_view trimmed) {
    return ChosenKernels().cleanLine(out, trimmed.data(), trimmed.size());
}

// ---- Assembler ------------------------------------------------------------------------

Assembler::Assembler(PieceSink& next) : m_out(next) {}

void Assembler::Take(std::string_view piece) {
    m_any = m_any || !piece.empty();
    const char* p = piece.data();
    const char* const end = p + piece.size();
    FeedFinder feeds(end);
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
        if (m_atStart && *p == kCountOpen) {
            m_inCount = true;
            m_atStart = false;
            ++p;
            continue;
        }
        m_atStart = false;
        const char* const feed = feeds.Next(p);
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

// The segment is `markers` markers, then `text`: the same line as the segment written
// out, a "+" for each marker in front of the text, would make. Markers are no spaces:
// with any in front, trimming takes spaces from the end of the text alone, and the
// trimmed segment (the markers and what is left of the text) is at least two characters
// long and ends in a marker exactly when that rest is empty or ends in "+". The line is
// then a space per marker and the cleaned rest, since cleaning makes every "+" of a line
// a space, a marker or the text's own alike, and neither entity holds a "+" or a space.
// So a text's own "+" at a segment's start may as well be counted as markers, which is
// how AssembleIndentedText takes text whose markers are written out.
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
        return 2 + markers + CleanLine(out.Reserve(rest.size() + kCleanRoom), rest);
    }
    if (markers > kPieceSize) { // an indentation longer than a piece goes out a piece at a time
        out.Put("\r\n", 2);
        out.PutRepeated(' ', markers);
        const std::size_t cleaned = CleanLine(out.Reserve(rest.size() + kCleanRoom), rest);
        out.Advance(cleaned);
        return 2 + markers + cleaned;
    }
    char* const line = out.Reserve(2 + markers + rest.size() + kCleanRoom);
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
