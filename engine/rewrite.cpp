#include "rewrite.h"

#include "bytes.h"
#include "io.h"
#include "steps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unistd.h>

namespace velmora {

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

// Where a pass over the tags stands: the next character to read and the indent markers
// in force.
struct RewriteState {
    std::size_t pos = 0;
    std::size_t prefix = 2;
};

// The most one step of the pass can write after `text` characters of plain text: a
// paragraph's two line feeds and its markers.
std::size_t MostWritten(std::size_t text, std::size_t prefix) { return text + prefix + 4; }

// Adds up what the pass would write, without writing it.
struct LengthCounter {
    std::size_t length = 0;
    void Room(std::size_t, const RewriteState&) {}
    void Text(const char*, std::size_t count) { length += count; }
    void Markers(char, std::size_t count) { length += count; }
    void Tag(std::size_t) {}
    void Unclosed() {}
};

template <typename Output>
void RewriteFrom(std::string_view text, RewriteState state, Output& output);

// Writes the rewritten text straight into a buffer sized for the usual case, where the
// text comes out no longer than it went in. Should a step find no room (deeply nested
// lists, whose markers repeat on every line), the rest is measured exactly and the buffer
// grown once to fit.
class TextWriter {
public:
    TextWriter(std::string_view text, ProgressSink& sink) : m_text(text), m_sink(sink) {
        m_out = detail::NewText(0, text.size() + text.size() / 16 + 64);
        m_data = m_out.data();
    }

    void Room(std::size_t most, const RewriteState& state) {
        const std::size_t needed = m_size + most + kSlack;
        if (needed <= m_out.size()) {
            return;
        }
        // The buffer is taken into use a stretch at a time, so that what the text does
        // not need is never filled, nor paged in.
        if (needed <= m_out.capacity()) {
            m_out.resize(std::min(m_out.capacity(), needed + kStretch));
        } else {
            LengthCounter rest;
            RewriteFrom(m_text, state, rest);
            Grow(m_size + std::max(rest.length, most) + kSlack);
        }
        m_data = m_out.data();
    }
    // Text between tags and marker runs are mostly shorter than a block: one block is
    // stored whole, its tail landing in the slack past what is written, and a library
    // call is saved. The block is read only where the text has that many bytes left.
    void Text(const char* data, std::size_t count) {
        using detail::Block;
        if (count <= Block::kSize && data + Block::kSize <= m_text.data() + m_text.size()) {
            Block(data).Store(m_data + m_size);
        } else {
            std::memcpy(m_data + m_size, data, count);
        }
        m_size += count;
    }
    void Markers(char c, std::size_t count) {
        if (count <= kMarkers.size() && c == '+') {
            std::memcpy(m_data + m_size, kMarkers.data(), kMarkers.size());
        } else if (count <= 2) { // line feeds
            m_data[m_size] = c;
            m_data[m_size + 1] = c;
        } else {
            std::memset(m_data + m_size, c, count);
        }
        m_size += count;
    }
    // The tag's ">" stands, in the text as it is at this moment, right after what has
    // been written so far and the tag itself.
    void Tag(std::size_t tagLength) { m_sink.SetValue(static_cast<float>(m_size + tagLength)); }
    void Unclosed() { m_sink.SetValue(0.0f); }

    std::string Finish() {
        m_out.resize(m_size);
        return std::move(m_out);
    }

private:
    void Grow(std::size_t size);

    static constexpr std::string_view kMarkers = "++++++++++++++++";
    static constexpr std::size_t kSlack = 16; // room for a whole block or marker run
    static constexpr std::size_t kStretch = std::size_t{1} << 20;

    std::string_view m_text;
    ProgressSink& m_sink;
    std::string m_out;
    char* m_data = nullptr;
    std::size_t m_size = 0;
};

// One forward pass over the tags. Everything before the current "<" is finished text
// that no later step looks at, so resuming after each tag gives the text and the
// progress values that restarting from the front each time would.
template <typename Output>
void RewriteFrom(std::string_view text, RewriteState state, Output& output) {
    const char* data = text.data();
    const std::size_t n = text.size();
    for (;;) {
        const std::size_t pos = state.pos;
        const auto start = static_cast<std::size_t>(detail::FindByte(data + pos, data + n, '<') - data);
        if (start == n) {
            output.Room(n - pos, state);
            output.Text(data + pos, n - pos);
            return;
        }
        output.Room(MostWritten(start - pos, state.prefix), state);
        output.Text(data + pos, start - pos);
        const auto end = static_cast<std::size_t>(detail::FindByte(data + start + 1, data + n, '>') - data);
        if (end == n) {
            // A tag cut off by the end of the text: it and everything after it go,
            // as a browser drops it.
            output.Unclosed();
            return;
        }
        const std::size_t tagLength = end - start + 1;
        output.Tag(tagLength);
        switch (Classify(data + start, tagLength)) {
        case TagKind::ListOpen:
            state.prefix += 2;
            break;
        case TagKind::ListClose:
            // More closings than openings: nothing is left to take away.
            state.prefix = state.prefix >= 2 ? state.prefix - 2 : 0;
            break;
        case TagKind::Term:
            output.Markers('\n', 1);
            output.Markers('+', state.prefix);
            break;
        case TagKind::Definition:
            output.Markers('\n', 1);
            output.Markers('+', state.prefix + 2);
            break;
        case TagKind::Paragraph:
            output.Markers('\n', 2);
            output.Markers('+', state.prefix + 2);
            break;
        case TagKind::Removed:
            break;
        }
        state.pos = end + 1;
    }
}

void TextWriter::Grow(std::size_t size) {
    std::string bigger = detail::NewText(size, size);
    std::memcpy(bigger.data(), m_data, m_size);
    m_out.swap(bigger);
    m_data = m_out.data();
}

} // namespace

namespace detail {

std::string_view ScopeToFirstList(std::string_view text) {
    const std::size_t open = FindFolded(text, "<dl");
    if (open == std::string_view::npos) {
        return text;
    }
    std::string_view scoped = text.substr(open);
    const std::size_t close = scoped.find('>');
    if (close == std::string_view::npos) {
        return scoped;
    }
    scoped.remove_prefix(close + 1);
    const std::size_t last = FindLastFolded(scoped, "</dl>");
    if (last != std::string_view::npos) {
        scoped = scoped.substr(0, last);
    }
    return scoped;
}

std::string RewriteTags(std::string_view scoped, ProgressSink& sink) {
    TextWriter writer(scoped, sink);
    RewriteFrom(scoped, RewriteState{}, writer);
    return writer.Finish();
}

} // namespace detail

Result<std::string> RewriteDefinitionLists(std::string_view text, ProgressSink& sink) {
    try {
        const std::string_view scoped = detail::ScopeToFirstList(text);
        sink.SetMax(static_cast<float>(scoped.size()));
        return detail::RewriteTags(scoped, sink);
    } catch (const std::bad_alloc&) {
        return Failure{"cannot convert", {}, detail::kOutOfMemory};
    } catch (const std::length_error&) {
        return Failure{"cannot convert", {}, detail::kOutOfMemory};
    }
}

} // namespace velmora
