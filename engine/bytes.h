#pragma once

// Byte helpers shared by the phases. Case folding touches ASCII letters alone: every
// text the engine looks for is ASCII, so this matches any single-byte code page and
// leaves UTF-8 and all other bytes as they are.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// A wider block where the processor has it, chosen at run time: only x86-64 compilers
// that can build a function for AVX2 without the whole program being built for it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELMORA_AVX2_BLOCKS 1
#include <immintrin.h>
#endif

namespace velmora::detail {

inline constexpr std::array<unsigned char, 256> kFold = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return table;
}();

inline unsigned char Fold(char c) {
    return kFold[static_cast<unsigned char>(c)];
}

// True when `text` folded equals `lower` (which must be lower case already).
inline bool EqualsFolded(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Fold(text[i]) != static_cast<unsigned char>(lower[i])) {
            return false;
        }
    }
    return true;
}

// High bit set in each byte of `word` that equals `byte`, and in no other: a test of
// eight bytes at once for the one character a loop is looking for.
inline std::uint64_t BytesEqual(std::uint64_t word, unsigned char byte) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    const std::uint64_t x = word ^ (0x0101010101010101ULL * byte);
    // A byte of x is zero exactly when neither its low seven bits nor its high bit are set.
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}

// Bytes tested a block at a time: Matches gives one bit per byte, bit i for the byte at
// p + i. The portable block is eight bytes in a word; where SSE2 is there (every x86-64)
// the block is sixteen bytes in a vector register.
struct WordBlock {
    static constexpr std::size_t kSize = 8;
    std::uint64_t bytes;
    explicit WordBlock(const char* p) { std::memcpy(&bytes, p, kSize); }
    std::uint32_t Matches(char c) const {
        // The high bit of each matching byte, gathered into the top byte, then down.
        const std::uint64_t highs = BytesEqual(bytes, static_cast<unsigned char>(c)) >> 7;
        return static_cast<std::uint32_t>((highs * 0x0102040810204080ULL) >> 56);
    }
    // Bytes that equal `c` once 0x20 is set in them: both cases of a lower-case letter.
    std::uint32_t MatchesFolded(char c) const {
        const std::uint64_t highs =
            BytesEqual(bytes | 0x2020202020202020ULL, static_cast<unsigned char>(c)) >> 7;
        return static_cast<std::uint32_t>((highs * 0x0102040810204080ULL) >> 56);
    }
    void Store(char* p) const { std::memcpy(p, &bytes, kSize); }
};

#if defined(__SSE2__)
struct VectorBlock {
    static constexpr std::size_t kSize = 16;
    __m128i bytes;
    explicit VectorBlock(const char* p)
        : bytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) {}
    std::uint32_t Matches(char c) const {
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
    }
    std::uint32_t MatchesFolded(char c) const {
        const __m128i folded = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(folded, _mm_set1_epi8(c))));
    }
    void Store(char* p) const { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes); }
};
using Block = VectorBlock;
#else
using Block = WordBlock;
#endif

#if defined(VELMORA_AVX2_BLOCKS)
// Thirty-two bytes at a time; only for code built for AVX2 (the functions of
// RunWithBlocks below), on a processor that has it.
struct Avx2Block {
    static constexpr std::size_t kSize = 32;
    __m256i bytes;
    __attribute__((target("avx2"))) explicit Avx2Block(const char* p)
        : bytes(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))) {}
    __attribute__((target("avx2"))) std::uint32_t Matches(char c) const {
        return static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c))));
    }
    __attribute__((target("avx2"))) std::uint32_t MatchesFolded(char c) const {
        const __m256i folded = _mm256_or_si256(bytes, _mm256_set1_epi8(0x20));
        return static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(folded, _mm256_set1_epi8(c))));
    }
    __attribute__((target("avx2"))) void Store(char* p) const {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), bytes);
    }
};
#endif

// The ways a block-at-a-time loop can run: eight bytes in a word on any processor,
// sixteen with SSE2 (every x86-64), thirty-two with AVX2 where the processor has it.
enum class BlockPath { Word, Sse2, Avx2 };

// True when this build and this processor can run `path`.
bool BlockPathRuns(BlockPath path);

// The path the loops take: the widest that runs, unless a test has forced another
// (ForceBlockPath, for the tests alone, so that every path is tried on one machine;
// a path that does not run here is refused with false).
BlockPath ChosenBlockPath();
bool ForceBlockPath(BlockPath path);

// Bit i set where the byte at p + i is `c`, for the 64 bytes from p, a block at a time.
template <typename B> [[gnu::always_inline]] inline std::uint64_t Mask64(const char* p, char c) {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < 64; i += B::kSize) {
        mask |= static_cast<std::uint64_t>(B(p + i).Matches(c)) << i;
    }
    return mask;
}

// Bit i set when an odd number of the bits 0 to i of x are.
inline std::uint64_t PrefixParity(std::uint64_t x) {
    for (int shift = 1; shift < 64; shift *= 2) {
        x ^= x << shift;
    }
    return x;
}

// Runs of spaces and line breaks in 64 bytes, as bit masks: `runs` the bytes of the runs
// (a CR LF both its bytes), `units` a bit for each space or line break in them (a CR LF
// at its LF). Bit i of the result is set when the run holding byte i has an odd number of
// units up to and including it; `carried` says so of the run that reaches the byte
// before the first, if one does.
inline std::uint64_t RunParity(std::uint64_t runs, std::uint64_t units, bool carried) {
    const std::uint64_t in = carried ? 1 : 0;
    // The parity of every unit so far; within a run, that parity taken at the byte before
    // the run's start is to be taken away, which flips the runs where it is odd.
    const std::uint64_t parity = PrefixParity(units) ^ (0 - in);
    const std::uint64_t starts = runs & ~((runs << 1) | in);
    const std::uint64_t flipStarts = starts & ((parity << 1) | in);
    // Adding a run's first bit carries through the run and clears its bits.
    const std::uint64_t flipped = ((runs + flipStarts) ^ runs) & runs;
    return parity ^ flipped;
}

// The first `c` in [p, end), or `end`. Inline and a block a step: the searches of the
// conversion mostly end after a few bytes, where a library call costs more than the
// search itself.
inline const char* FindByte(const char* p, const char* end, char c) {
    while (static_cast<std::size_t>(end - p) >= Block::kSize) {
        if (const std::uint32_t hits = Block(p).Matches(c)) {
            return p + std::countr_zero(hits);
        }
        p += Block::kSize;
    }
    while (p < end && *p != c) {
        ++p;
    }
    return p;
}

// The offset from `begin` of the last `c` in [begin, end), or end - begin when there is
// none: FindByte read from the other end.
inline std::size_t FindLastByte(const char* begin, const char* end, char c) {
    const char* p = end;
    while (static_cast<std::size_t>(p - begin) >= Block::kSize) {
        p -= Block::kSize;
        if (const std::uint32_t hits = Block(p).Matches(c)) {
            return static_cast<std::size_t>(p - begin) + 31 -
                   static_cast<std::size_t>(std::countl_zero(hits));
        }
    }
    while (p > begin) {
        if (*--p == c) {
            return static_cast<std::size_t>(p - begin);
        }
    }
    return static_cast<std::size_t>(end - begin);
}

// First position at which `lower` occurs in `text` ignoring ASCII case, or npos.
std::size_t FindFolded(std::string_view text, std::string_view lower);

// Last such position, or npos.
std::size_t FindLastFolded(std::string_view text, std::string_view lower);

} // namespace velmora::detail
