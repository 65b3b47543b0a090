#include "bytes.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace velmora::detail {

std::string NewText(std::size_t size) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    std::string text;
    text.reserve(size);
    if (size >= 4 * kHugePage) {
        // Only whole huge pages inside the buffer; the advice is a hint, and where the
        // system does not take it nothing changes.
        const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
        const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
        const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
        if (last > first) {
            madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
        }
    }
    text.resize(size);
    return text;
}

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
