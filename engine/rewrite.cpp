#include "phases.h"

#include "bytes.h"
#include "out_of_memory.h"
#include "piece_writer.h"
#include "rewriter.h"
#include "scanner.h"
#include "steps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora {

namespace detail {

std::string_view ScopeToFirstList(std::string_view text) {
    Scanner scanner;
    // One piece, the first: the scanner writes nothing in front of it.
    scanner.Feed(const_cast<char*>(text.data()), text.size());
    return text.substr(scanner.ScopeBegin(), scanner.ScopeEnd() - scanner.ScopeBegin());
}

namespace {

// Writes the Rewriter's text out with each record of markers (rewriter.h) as that many
// "+": a record is the only "<" of the text, and may be cut by the end of a piece.
class MarkersWrittenOut final : public PieceSink {
public:
    explicit MarkersWrittenOut(PieceSink& next) : m_out(next) {}
    void Take(std::string_view piece) override {
        const char* p = piece.data();
        const char* const end = p + piece.size();
        while (p < end) {
            if (m_inRecord) {
                while (p < end && *p != kCountClose) {
                    m_count = m_count * 10 + static_cast<std::size_t>(*p++ - '0');
                }
                if (p == end) {
                    return;
                }
                ++p;
                m_inRecord = false;
                m_out.PutRepeated('+', m_count);
                m_count = 0;
                continue;
            }
            const char* const open = FindByte(p, end, kCountOpen);
            m_out.Put(p, static_cast<std::size_t>(open - p));
            if (open == end) {
                return;
            }
            m_inRecord = true;
            p = open + 1;
        }
    }
    void Finish() { m_out.Flush(); }

private:
    PieceWriter m_out;
    bool m_inRecord = false;
    std::size_t m_count = 0;
};

} // namespace

std::string RewriteTags(std::string_view scoped, ProgressSink& sink) {
    std::string rewritten;
    StringSink into(rewritten);
    MarkersWrittenOut written(into);
    Rewriter rewriter(sink, written);
    rewriter.Feed(scoped);
    rewriter.Finish();
    written.Finish();
    return rewritten;
}

} // namespace detail

Result<std::string> RewriteDefinitionLists(std::string_view text, ProgressSink& sink) {
    return detail::OrOutOfMemory(Action::Convert, {}, [&]() -> Result<std::string> {
        const std::string_view scoped = detail::ScopeToFirstList(text);
        sink.SetMax(static_cast<float>(scoped.size()));
        return detail::RewriteTags(scoped, sink);
    });
}

} // namespace velmora
