#include "bytes.h"

#include "memory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace velmora::detail {

namespace {
constexpr std::size_t kCheckedSize = std::size_t{8} << 20;
} // namespace

std::string NewText(std::size_t size, std::size_t capacity) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    capacity = std::max(size, capacity);
    // Beyond the memory the system can give, stop cleanly here: the allocation itself
    // would succeed on credit, and the system would kill the process halfway through
    // filling it. Small texts are not worth the look.
    if (capacity >= kCheckedSize && capacity > AvailableMemory()) {
        throw std::bad_alloc();
    }
    std::string text;
    text.reserve(capacity);
    if (capacity >= 4 * kHugePage) {
        // Only whole huge pages inside the buffer; the advice is a hint, and where the
        // system does not take it nothing changes.
        const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
        const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
        const std::uintptr_t last = (begin + capacity) & ~(kHugePage - 1);
        if (last > first) {
            madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
        }
    }
    text.resize(size);
    return text;
}

std::size_t FindFolded(std::string_view text, std::string_view lower) {
    const std::size_t m = lower.size();
    const std::size_t n = text.size();
    if (m == 0) {
        return 0;
    }
    if (m > n) {
        return std::string_view::npos;
    }
    auto matchesAt = [&](const char* p) { return EqualsFolded(std::string_view(p, m), lower); };
    const char first = lower[0];
    const char* p = text.data();
    const char* const last = text.data() + (n - m); // the last place a match can start
    // Candidates are the bytes that equal the first character once 0x20 is set in them:
    // both cases of a lower-case letter, and a few other bytes that the comparison turns
    // away. The "z" that starts the refusal phrase is rare, so most blocks hold none.
    if ((first | 0x20) == first) {
        while (static_cast<std::size_t>(last - p) + 1 >= Block::kSize) {
            for (std::uint32_t hits = Block(p).MatchesFolded(first); hits != 0; hits &= hits - 1) {
                if (matchesAt(p + std::countr_zero(hits))) {
                    return static_cast<std::size_t>(p + std::countr_zero(hits) - text.data());
                }
            }
            p += Block::kSize;
        }
    }
    for (; p <= last; ++p) {
        if (Fold(*p) == static_cast<unsigned char>(first) && matchesAt(p)) {
            return static_cast<std::size_t>(p - text.data());
        }
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
