// The kernels sixteen bytes at a time, in SSE2's registers: every x86-64 processor.

#include "kernel_bodies.h"

#include <emmintrin.h>

namespace velmora::detail {

namespace {

struct Sse2Block {
    static constexpr std::size_t kSize = 16;
    __m128i bytes;
    explicit Sse2Block(const char* p)
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

constexpr Kernels kSse2 = KernelsOver<Sse2Block>("sse2");

} // namespace

const Kernels& Sse2Kernels() {
    return kSse2;
}

} // namespace velmora::detail
