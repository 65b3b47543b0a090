#include "bytes.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace velmora::detail {

namespace {

BlockPath WidestPath() {
#if defined(VELMORA_AVX2_BLOCKS)
    __builtin_cpu_init(); // this may run among the static constructors
    if (__builtin_cpu_supports("avx2")) {
        return BlockPath::Avx2;
    }
#endif
#if defined(__SSE2__)
    return BlockPath::Sse2;
#else
    return BlockPath::Word;
#endif
}

std::atomic<BlockPath> chosenPath{WidestPath()};

} // namespace

bool BlockPathRuns(BlockPath path) {
    switch (path) {
    case BlockPath::Word:
        return true;
    case BlockPath::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case BlockPath::Avx2:
        return WidestPath() == BlockPath::Avx2;
    }
    return false;
}

BlockPath ChosenBlockPath() {
    return chosenPath.load(std::memory_order_relaxed);
}

bool ForceBlockPath(BlockPath path) {
    if (!BlockPathRuns(path)) {
        return false;
    }
    chosenPath.store(path, std::memory_order_relaxed);
    return true;
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
    // Every text searched backwards starts with a character that has no case ("<"):
    // its last occurrences are tried, from the end, a block at a time.
    const char first = lower[0];
    std::size_t end = text.size() - m + 1; // candidates lie in [0, end)
    while (end > 0) {
        const std::size_t pos = FindLastByte(text.data(), text.data() + end, first);
        if (pos == end) {
            break;
        }
        if (EqualsFolded(text.substr(pos, m), lower)) {
            return pos;
        }
        end = pos;
    }
    return std::string_view::npos;
}

} // namespace velmora::detail
