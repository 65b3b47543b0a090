// The kernels thirty-two bytes at a time, in AVX2's registers. This file alone is built
// for AVX2 (engine/CMakeLists.txt), and its table is used only on a processor that has
// it; nothing else in it is seen outside it (kernel_bodies.h).

#include "kernel_bodies.h"

#include <immintrin.h>

namespace velmora::detail {

namespace {

struct Avx2Block {
    static constexpr std::size_t kSize = 32;
    // Normalising moves the kept bytes of a word together with a byte shuffle.
    static constexpr bool kShuffles = true;
    __m256i bytes;
    explicit Avx2Block(const char* p)
        : bytes(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))) {}
    std::uint32_t Matches(char c) const {
        return static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c))));
    }
    std::uint32_t MatchesFolded(char c) const {
        const __m256i folded = _mm256_or_si256(bytes, _mm256_set1_epi8(0x20));
        return static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(folded, _mm256_set1_epi8(c))));
    }
    void Store(char* p) const { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), bytes); }
    // The bytes of `word` that `from` names, one a byte, in that order.
    static std::uint64_t Keep(std::uint64_t word, std::uint64_t from) {
        return static_cast<std::uint64_t>(
            _mm_cvtsi128_si64(_mm_shuffle_epi8(_mm_cvtsi64_si128(static_cast<long long>(word)),
                                               _mm_cvtsi64_si128(static_cast<long long>(from)))));
    }
};

constexpr Kernels kAvx2 = KernelsOver<Avx2Block>("avx2");

} // namespace

const Kernels& Avx2Kernels() {
    return kAvx2;
}

} // namespace velmora::detail
