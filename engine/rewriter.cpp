#include "rewriter.h"

#include "bytes.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace velmora::detail {

namespace {

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

} // namespace

Rewriter::Rewriter(ProgressSink& progress, PieceSink& next)
    : m_progress(progress), m_shown(progress.Shown()), m_out(next) {}

// The piece goes 64 bytes at a time, with bit masks of its "<", of its ">" and of the
// "<" where a tag that counts stands: the text runs to the next "<", the tag from there to
// the next ">". A tag whose "<" is not so marked is removed unread (one cut by the end of
// a piece is read all the same). The masks of a batch of blocks are made at once by the
// kernels. A block's text goes into room reserved for it, through a cursor of its own,
// given back to the writer before a tag that counts writes its record. Each run of text
// is copied 64 bytes at once, so reads go up to 64 bytes past a block; the last 128 bytes
// or less of the piece are read from a copy with zeros behind them, which hold neither.
void Rewriter::Feed(std::string_view piece) {
    constexpr std::size_t kBlock = 64;
    constexpr std::size_t kBatch = 64;
    // A block's text and the copy's overrun; a tag that counts reserves its own room.
    constexpr std::size_t kRoom = 2 * kBlock;
    const Kernels& kernels = ChosenKernels();
    const char* p = piece.data();
    const char* end = p + piece.size();
    char last[3 * kBlock];
    bool inLast = false;
    const char* tagFrom = p; // the open tag's bytes since the last cut begin here
    std::uint64_t opens[kBatch];
    std::uint64_t closes[kBatch];
    std::uint64_t keys[kBatch];
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
            kernels.markTags(p, marked, opens, closes, keys);
            next = 0;
        }
        const std::uint64_t blockOpens = opens[next];
        const std::uint64_t blockCloses = closes[next];
        const std::uint64_t blockKeys = keys[next];
        ++next;
        const std::size_t n = std::min(kBlock, static_cast<std::size_t>(end - p));
        char* room = m_out.Reserve(kRoom);
        char* out = room;
        bool inTag = m_inTag;
        std::size_t i = 0;
        while (i < n) {
            if (!inTag) {
                const std::uint64_t at = blockOpens >> i << i;
                std::memcpy(out, p + i, kBlock); // the text up to the tag, and more
                if (at == 0) {
                    out += n - i;
                    break;
                }
                const auto open = static_cast<std::size_t>(std::countr_zero(at));
                out += open - i;
                inTag = true;
                m_tagCounts = (blockKeys >> open & 1) != 0;
                tagFrom = p + open;
                i = open + 1;
            } else {
                const std::uint64_t at = blockCloses >> i << i;
                if (at == 0) {
                    break;
                }
                const auto close = static_cast<std::size_t>(std::countr_zero(at));
                inTag = false;
                if (m_tagLength > 0 || m_tagCounts || m_shown) {
                    m_written += static_cast<std::size_t>(out - room);
                    m_out.Advance(static_cast<std::size_t>(out - room));
                    CloseTag(tagFrom, p + close);
                    out = room = m_out.Reserve(kRoom);
                }
                i = close + 1;
            }
        }
        m_inTag = inTag;
        m_written += static_cast<std::size_t>(out - room);
        m_out.Advance(static_cast<std::size_t>(out - room));
        p += n;
    }
    if (m_inTag) {
        CarryTag(tagFrom, end); // the tag goes on in the next piece
    }
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

} // namespace velmora::detail
