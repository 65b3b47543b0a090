#pragma once

// What velmora-convert says on standard error: one line per problem, and the count of
// inputs done while a terminal watches.

#include "velmora/failure.h"
#include "velmora/process.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace velmora::cli {

// A file name as it may be shown on a terminal: control bytes, and the backslash that
// starts an escape where it separates no folders, written as C escapes, as `ls -b` does.
std::string Escaped(std::string_view name);
// The same in double quotes.
std::string Quoted(std::string_view name);

// One line for standard error, made in a fixed buffer and written with one call: a
// failure must be reportable when no memory can be had at all. A name too long to leave
// room for the rest is shown cut in its middle ("..."), so that the line keeps its
// reason and its end.
class Line {
public:
    Line& Text(std::string_view text);
    // A file name, escaped as Escaped does.
    Line& Escape(std::string_view name);
    // The same in double quotes, as every message names a file; the standard streams,
    // which no file name stands for, as they are ("standard input").
    Line& Name(std::string_view name);
    void Say();

private:
    // The line break always has its place at the end.
    void Put(char c) {
        if (m_size < sizeof m_buffer - 1) {
            m_buffer[m_size++] = c;
        }
    }
    // The most of a name shown, and of each of its ends when it is cut.
    static constexpr std::size_t kNameRoom = 1024;
    static constexpr std::size_t kNameEnd = 500;
    char m_buffer[4096];
    std::size_t m_size = 0;
};

// Messages and the progress count share standard error; one lock keeps lines whole.
class Reporter {
public:
    explicit Reporter(std::size_t total);

    // "cannot read "in.html": No such file or directory", or, when memory ran out,
    // "not enough memory to convert "in.html"".
    void Problem(const Failure& failure, std::string_view input);
    void NoMemory(std::string_view input);
    // ""in.html": the input is empty; nothing was written"
    void Note(std::string_view input, std::string_view note);
    void Finished();
    void End();

private:
    void Say(Line& line);
    void ShowCount();
    void ClearCount();

    std::mutex m_mutex;
    std::size_t m_total;
    std::size_t m_done = 0;
    // Where the count shows, if anywhere, and how wide it stands there now.
    Terminal m_terminal;
    std::size_t m_shown = 0;
};

} // namespace velmora::cli
