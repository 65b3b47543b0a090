#include "phases.h"

#include "bytes.h"
#include "out_of_memory.h"
#include "stages.h"
#include "steps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora {

namespace {

constexpr std::string_view kGreaterThan = "&gt;";
constexpr std::string_view kLessThan = "&lt;";

// Copies `text` to `out` less every `entity`, in one pass from the left that does not
// look at what it has written: removing the inner "&gt;" of "&&gt;gt;" leaves an "&gt;"
// behind. Returns the length written.
std::size_t CopyWithout(char* out, std::string_view text, std::string_view entity) {
    char* const begin = out;
    for (std::size_t pos = 0;;) {
        const std::size_t hit = text.find(entity, pos);
        const std::size_t stop = hit == std::string_view::npos ? text.size() : hit;
        std::memmove(out, text.data() + pos, stop - pos);
        out += stop - pos;
        if (hit == std::string_view::npos) {
            return static_cast<std::size_t>(out - begin);
        }
        pos = hit + entity.size();
    }
}

} // namespace

namespace detail {

// The markers in front become the indentation; in the rest, the entities go in two
// passes, "&lt;" after "&gt;", the second over what the first left, in place: a document
// that is one long line must not need its size in memory once more. A "+" in the rest
// becomes a space last, which is the same as first: neither entity holds one.
std::size_t CleanLine(char* out, std::string_view trimmed) {
    std::size_t markers = 0;
    while (markers < trimmed.size() && trimmed[markers] == '+') {
        ++markers;
    }
    std::memset(out, ' ', markers);
    const std::string_view rest = trimmed.substr(markers);
    char* const text = out + markers;
    const char* const restEnd = rest.data() + rest.size();
    std::size_t length = rest.size();
    if (FindByte(rest.data(), restEnd, '&') == restEnd) {
        std::memcpy(text, rest.data(), length);
    } else {
        length = CopyWithout(text, rest, kGreaterThan);
        length = CopyWithout(text, std::string_view(text, length), kLessThan);
    }
    char* const end = text + length;
    for (char* plus = text; (plus = const_cast<char*>(FindByte(plus, end, '+'))) != end;) {
        *plus++ = ' ';
    }
    return markers + length;
}

bool IsContentLine(std::string_view trimmed) {
    const bool notEndingInMarker = trimmed.empty() || trimmed.back() != '+';
    const bool longerThanOne = trimmed.size() > 1;
    return notEndingInMarker && longerThanOne;
}

} // namespace detail

Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax) {
    return detail::OrOutOfMemory(Action::Convert, {}, [&]() -> Result<std::string> {
        std::string output;
        detail::StringSink into(output);
        detail::Assembler assembler(into);
        assembler.Take(rewritten);
        assembler.Finish();
        sink.SetValue(progressMax);
        return output;
    });
}

} // namespace velmora
