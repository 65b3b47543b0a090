#include "reporter.h"

#include "options.h"
#include "velmora/output_path.h"
#include "velmora/process.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace velmora::cli {

namespace {

// The C escape of a control byte or backslash that has a letter of its own, or "".
std::string_view EscapeOf(char c) {
    switch (c) {
    case '\\':
        // Where it separates folders, it is shown as it is.
        return PathSeparators().find('\\') == std::string_view::npos ? "\\\\" : "";
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\v':
        return "\\v";
    case '\f':
        return "\\f";
    case '\r':
        return "\\r";
    default:
        return {};
    }
}

// How many bytes the UTF-8 character at the start of `text` takes; 0 where no whole,
// well-formed one starts there (a stray continuation byte, an overlong form, a surrogate,
// a character cut short).
std::size_t Utf8Length(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char least = 0x80; // the smallest and largest second byte the lead allows
    unsigned char most = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        least = lead == 0xe0 ? 0xa0 : 0x80;
        most = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        least = lead == 0xf0 ? 0x90 : 0x80;
        most = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || text.size() < length || at(1) < least || at(1) > most) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xbf) {
            return 0;
        }
    }
    return length;
}

void PutOctal(unsigned char byte, auto put) {
    put('\\');
    put(static_cast<char>('0' + (byte >> 6)));
    put(static_cast<char>('0' + ((byte >> 3) & 7)));
    put(static_cast<char>('0' + (byte & 7)));
}

// The one escaper: `put` takes each byte shown. Bytes that are not UTF-8 are shown in
// octal too: written raw, they would garble the terminal's text.
template <typename Put> void Show(std::string_view name, Put put) {
    for (std::size_t i = 0; i < name.size();) {
        const char c = name[i];
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t length = Utf8Length(name.substr(i));
        if (const std::string_view named = EscapeOf(c); !named.empty()) {
            for (const char e : named) {
                put(e);
            }
        } else if (byte < 0x20 || byte == 0x7f || length == 0) {
            PutOctal(byte, put);
        } else {
            for (std::size_t k = 0; k < length; ++k) {
                put(name[i + k]);
            }
            i += length;
            continue;
        }
        ++i;
    }
}

} // namespace

std::string Escaped(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    Show(name, [&](char c) { shown += c; });
    return shown;
}

std::string Quoted(std::string_view name) {
    std::string shown(1, '"');
    Show(name, [&](char c) { shown += c; });
    shown += '"';
    return shown;
}

// ---- Line -----------------------------------------------------------------------------

Line& Line::Text(std::string_view text) {
    for (const char c : text) {
        Put(c);
    }
    return *this;
}

Line& Line::Escape(std::string_view name) {
    std::size_t shown = 0;
    Show(name, [&](char) { ++shown; });
    std::size_t at = 0;
    bool kept = false;
    bool cut = false;
    Show(name, [&](char c) {
        // A character is kept or cut whole: a byte that continues one in UTF-8 goes where
        // its first byte went.
        const bool continues = (static_cast<unsigned char>(c) & 0xc0) == 0x80;
        kept = shown <= kNameRoom || (continues ? kept : at < kNameEnd || at >= shown - kNameEnd);
        if (kept) {
            Put(c);
        } else if (!std::exchange(cut, true)) {
            Text("...");
        }
        ++at;
    });
    return *this;
}

Line& Line::Name(std::string_view name) {
    if (name == "standard input" || name == "standard output") {
        return Text(name);
    }
    Put('"');
    Escape(name);
    Put('"');
    return *this;
}

void Line::Say() {
    m_buffer[m_size++] = '\n';
    WriteToStandardError(std::string_view(m_buffer, m_size));
}

// ---- Reporter -------------------------------------------------------------------------

Reporter::Reporter(std::size_t total)
    : m_total(total), m_terminal(total > 1 ? ErrorTerminal() : Terminal::None) {}

void Reporter::Problem(const Failure& failure, std::string_view input) {
    Line line;
    line.Text(kProgram).Text(": ");
    if (failure.error == ENOMEM) {
        line.Text("not enough memory to convert ").Name(input);
    } else {
        line.Text(ActionText(failure.action));
        if (!failure.path.empty()) {
            line.Text(" ").Name(failure.path);
        }
        line.Text(": ").Text(failure.context);
        if (failure.error != 0) {
            line.Text(failure.context.empty() ? "" : ": ").Text(ErrorText(failure.error));
        }
    }
    Say(line);
}

void Reporter::NoMemory(std::string_view input) {
    Line line;
    Say(line.Text(kProgram).Text(": not enough memory to convert ").Name(input));
}

void Reporter::Note(std::string_view input, std::string_view note) {
    Line line;
    Say(line.Text(kProgram).Text(": ").Name(input).Text(": ").Text(note));
}

void Reporter::Finished() {
    std::lock_guard lock(m_mutex);
    ++m_done;
    ShowCount();
}

void Reporter::End() {
    std::lock_guard lock(m_mutex);
    ClearCount();
}

void Reporter::Say(Line& line) {
    std::lock_guard lock(m_mutex);
    ClearCount();
    line.Say();
    ShowCount();
}

// The count and its clearing are made in fixed buffers, as a Line is.
void Reporter::ShowCount() {
    if (m_terminal == Terminal::None || m_done == 0) {
        return;
    }
    char count[64];
    const int size =
        std::snprintf(count, sizeof count, "\r%zu of %zu inputs done", m_done, m_total);
    if (size > 0) {
        m_shown = std::min(static_cast<std::size_t>(size), sizeof count - 1);
        WriteToStandardError(std::string_view(count, m_shown));
    }
}

void Reporter::ClearCount() {
    if (m_terminal == Terminal::None || m_shown == 0) {
        return;
    }
    if (m_terminal == Terminal::Escapes) {
        WriteToStandardError("\r\033[K");
    } else {
        // Without escapes, the count is written over with spaces.
        char blank[66];
        blank[0] = '\r';
        std::memset(blank + 1, ' ', m_shown);
        blank[m_shown + 1] = '\r';
        WriteToStandardError(std::string_view(blank, m_shown + 2));
    }
    m_shown = 0;
}

} // namespace velmora::cli
