#include "bytes.h"

#include <cstring>

namespace velmora::detail {

// Horspool's search over folded bytes: on the long refusal phrase it skips most of
// the text instead of comparing at every position.
std::size_t FindFolded(std::string_view text, std::string_view lower) {
    const std::size_t m = lower.size();
    const std::size_t n = text.size();
    if (m == 0) {
        return 0;
    }
    if (m > n) {
        return std::string_view::npos;
    }
    std::array<std::size_t, 256> shift;
    shift.fill(m);
    for (std::size_t i = 0; i + 1 < m; ++i) {
        shift[static_cast<unsigned char>(lower[i])] = m - 1 - i;
    }
    const auto last = static_cast<unsigned char>(lower[m - 1]);
    std::size_t pos = 0;
    while (pos <= n - m) {
        const unsigned char c = Fold(text[pos + m - 1]);
        if (c == last && EqualsFolded(text.substr(pos, m - 1), lower.substr(0, m - 1))) {
            return pos;
        }
        pos += shift[c];
    }
    return std::string_view::npos;
}

std::size_t FindLastFolded(std::string_view text, std::string_view lower) {
    const std::size_t m = lower.size();
    if (m == 0 || m > text.size()) {
        return m == 0 ? text.size() : std::string_view::npos;
    }
    // Every text searched backwards starts with a character that has no case ("<").
    std::size_t end = text.size() - m + 1; // candidates lie in [0, end)
    while (end > 0) {
        const void* hit = memrchr(text.data(), lower[0], end);
        if (hit == nullptr) {
            break;
        }
        const auto pos = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (EqualsFolded(text.substr(pos, m), lower)) {
            return pos;
        }
        end = pos;
    }
    return std::string_view::npos;
}

} // namespace velmora::detail
