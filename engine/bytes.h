#pragma once

// Byte helpers shared by the stages, and the kernels in use (kernels.h). Case folding
// touches ASCII letters alone: every text the engine looks for is ASCII, so this matches
// any single-byte code page and leaves UTF-8 and all other bytes as they are.

#include "kernels.h"

#include <array>
#include <cstddef>
#include <string_view>

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

// The table the stages call: chosen once at start, the widest this processor runs, or
// the one named by VELMORA_KERNELS (word, sse2 or avx2) when that runs here.
extern const Kernels* chosenKernels;
inline const Kernels& ChosenKernels() {
    return *chosenKernels;
}

// The names of every table there may be, narrowest first.
inline constexpr const char* kKernelNames[] = {"word", "sse2", "avx2"};

// The table called `name`, or null when this build or this processor cannot run it.
const Kernels* KernelsNamed(std::string_view name);

// Makes `kernels` the table in use; for tests and benchmarks, so that every table is
// tried on one machine, and never while a conversion runs.
void UseKernels(const Kernels& kernels);

// The first `c` in [p, end), or `end`.
inline const char* FindByte(const char* p, const char* end, char c) {
    return ChosenKernels().findByte(p, end, c);
}

// First position at which `lower` occurs in `text` ignoring ASCII case, or npos.
inline std::size_t FindFolded(std::string_view text, std::string_view lower) {
    return ChosenKernels().findFolded(text.data(), text.size(), lower.data(), lower.size());
}

// Last such position, or npos.
inline std::size_t FindLastFolded(std::string_view text, std::string_view lower) {
    return ChosenKernels().findLastFolded(text.data(), text.size(), lower.data(), lower.size());
}

} // namespace velmora::detail
