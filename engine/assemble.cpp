#include "phases.h"

#include "assembler.h"
#include "bytes.h"
#include "out_of_memory.h"
#include "piece_writer.h"
#include "rewriter.h"
#include "steps.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace velmora {

namespace detail {

bool IsContentLine(std::string_view trimmed) {
    const bool notEndingInMarker = trimmed.empty() || trimmed.back() != '+';
    const bool longerThanOne = trimmed.size() > 1;
    return notEndingInMarker && longerThanOne;
}

namespace {

// Hands text whose indent markers are written out, one "+" each, to the Assembler: each
// run of "+" at the start of a segment (of the text, and after each LF) goes as a record
// of its count (rewriter.h), counted across pieces however long it is, and the rest as it
// stands. The Assembler makes the same line of a segment's "+" whether they come counted
// or not (Assembler::Segment). A segment that begins with "<" and no "+" gets a record of
// none in front, so that its "<" is taken as text.
class MarkersCounted final : public PieceSink {
public:
    explicit MarkersCounted(PieceSink& next) : m_next(next) {}
    void Take(std::string_view piece) override {
        const char* p = piece.data();
        const char* const end = p + piece.size();
        const char* from = p; // what is to go on as it stands begins here
        while (p < end) {
            if (m_atStart) {
                const char* const run = p;
                while (p < end && *p == '+') {
                    ++p;
                }
                m_run += static_cast<std::size_t>(p - run);
                if (p == end) {
                    Pass(from, run);
                    return; // the run may go on in the next piece
                }
                if (m_run > 0 || *p == kCountOpen) {
                    Pass(from, run);
                    Record();
                    from = p;
                }
                m_atStart = false;
            }
            const char* const feed = FindByte(p, end, '\n');
            if (feed == end) {
                break;
            }
            p = feed + 1;
            m_atStart = true;
        }
        Pass(from, end);
    }
    // The end of the text, in a run or not.
    void Finish() {
        if (m_run > 0) {
            Record();
        }
    }

private:
    void Pass(const char* from, const char* to) {
        if (to > from) {
            m_next.Take(std::string_view(from, static_cast<std::size_t>(to - from)));
        }
    }
    void Record() {
        char record[2 + std::numeric_limits<std::size_t>::digits10 + 1];
        record[0] = kCountOpen;
        char* const digitsEnd = std::to_chars(record + 1, record + sizeof record - 1, m_run).ptr;
        *digitsEnd = kCountClose;
        m_next.Take(std::string_view(record, static_cast<std::size_t>(digitsEnd + 1 - record)));
        m_run = 0;
    }

    PieceSink& m_next;
    bool m_atStart = true; // at the start of a segment, or in the run of "+" there
    std::size_t m_run = 0; // the "+" of that run so far
};

} // namespace

} // namespace detail

Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax) {
    return detail::OrOutOfMemory(Action::Convert, {}, [&]() -> Result<std::string> {
        std::string output;
        detail::StringSink into(output);
        detail::Assembler assembler(into);
        detail::MarkersCounted counted(assembler);
        counted.Take(rewritten);
        counted.Finish();
        assembler.Finish();
        sink.SetValue(progressMax);
        return output;
    });
}

} // namespace velmora
