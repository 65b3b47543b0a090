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

namespace {

// Bit i set where the first bytes of `lower` (up to four) stand at p + i, case aside,
// for the Block::kSize places from p; p + Block::kSize + 2 must still be readable. A byte
// matches when it equals the character once 0x20 is set in it: both cases of a letter,
// and a few other bytes that the whole comparison turns away.
std::uint32_t PrefixHits(const char* p, std::string_view lower) {
    std::uint32_t hits = Block(p).MatchesFolded(lower[0]);
    for (std::size_t i = 1; i < std::min<std::size_t>(lower.size(), 4) && hits != 0; ++i) {
        hits &= Block(p + i).MatchesFolded(lower[i]);
    }
    return hits;
}

} // namespace

std::size_t FindFolded(std::string_view text, std::string_view lower) {
    const std::size_t m = lower.size();
    const std::size_t n = text.size();
    if (m == 0) {
        return 0;
    }
    if (m > n) {
        return std::string_view::npos;
    }
    const char* const begin = text.data();
    const std::size_t starts = n - m + 1; // the places a match can start
    std::size_t at = 0;
    // A block of places at a time, while the bytes its prefixes need are there.
    for (; at + Block::kSize + 3 <= n && at + Block::kSize <= starts; at += Block::kSize) {
        for (std::uint32_t hits = PrefixHits(begin + at, lower); hits != 0; hits &= hits - 1) {
            const std::size_t pos = at + static_cast<std::size_t>(std::countr_zero(hits));
            if (EqualsFolded(text.substr(pos, m), lower)) {
                return pos;
            }
        }
    }
    for (; at < starts; ++at) {
        if (EqualsFolded(text.substr(at, m), lower)) {
            return at;
        }
    }
    return std::string_view::npos;
}

std::size_t FindLastFolded(std::string_view text, std::string_view lower) {
    const std::size_t m = lower.size();
    const std::size_t n = text.size();
    if (m == 0 || m > n) {
        return m == 0 ? n : std::string_view::npos;
    }
    const char* const begin = text.data();
    std::size_t starts = n - m + 1; // candidates lie in [0, starts)
    // The places whose prefix bytes would run past the text are tried one by one.
    while (starts > 0 && starts + 3 > n) {
        --starts;
        if (EqualsFolded(text.substr(starts, m), lower)) {
            return starts;
        }
    }
    for (; starts >= Block::kSize; starts -= Block::kSize) {
        const std::size_t at = starts - Block::kSize;
        for (std::uint32_t hits = PrefixHits(begin + at, lower); hits != 0;) {
            const auto bit = static_cast<std::size_t>(31 - std::countl_zero(hits));
            if (EqualsFolded(text.substr(at + bit, m), lower)) {
                return at + bit;
            }
            hits &= ~(std::uint32_t{1} << bit);
        }
    }
    while (starts > 0) {
        --starts;
        if (EqualsFolded(text.substr(starts, m), lower)) {
            return starts;
        }
    }
    return std::string_view::npos;
}

} // namespace velmora::detail
