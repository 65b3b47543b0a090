#pragma once

// The loops that go through the bytes a block at a time, as one table of functions for
// each width of block: eight bytes in a word on any processor (kernels_word.cpp), sixteen
// with SSE2 (kernels_sse2.cpp, every x86-64), thirty-two with AVX2 (kernels_avx2.cpp,
// built for AVX2 alone and called only where the processor has it). A NEON table would
// go beside them as kernels_neon.cpp, with its getter here and its line in
// engine/CMakeLists.txt. The table in use is chosen once, at start (bytes.h).
//
// This header is included by the files built for a wider processor: it declares and
// defines nothing that code could be made of, and includes nothing that could.

#include <cstddef>
#include <cstdint>

namespace velmora::detail {

// What RawScanner counts of the bytes normalising will drop, under each way of breaking
// lines (none, LF, CR, CR LF: LineBreakKind), carried from one piece to the next.
struct DropCount {
    static constexpr std::size_t kKinds = 4;
    // Bytes dropped before the end of what has been counted.
    std::size_t drops[kKinds] = {};
    // For each kind, whether the run of spaces and line breaks that reaches the end has an
    // odd number of them.
    bool odd[kKinds] = {};
    // The last byte is a CR that may begin a CR LF.
    bool pendingCr = false;
    // A CR LF has been seen: the text breaks its lines so, and only that kind counts.
    bool crlf = false;
};

// What a cleaned line may write past its end: a block of the widest path.
inline constexpr std::size_t kCleanRoom = 64;

struct Kernels {
    const char* name; // "word", "sse2", "avx2"
    // Normalises data[0, n) in place (line breaks `lineBreak[0, lineBreakSize)` to spaces,
    // runs of spaces halved) and returns the normalised length; `spaceRun` counts the
    // spaces in the run that reaches the piece's start, and then its end.
    std::size_t (*normalise)(char* data, std::size_t n, const char* lineBreak,
                             std::size_t lineBreakSize, std::size_t& spaceRun);
    // Counts the drops of p[0, i) 64 bytes at a time, while the byte after each 64 is
    // there, and returns i; the rest is for the caller, a byte at a time.
    std::size_t (*countDrops)(const char* p, std::size_t n, DropCount& count);
    // For each of the `blocks` 64-byte blocks from p: bit i of opens[k] set where byte
    // 64k + i is "<", of closes[k] where it is ">", of keys[k] where one of the tags that
    // make the indentation stands from there ("<dl>", "<dt>", "<dd>", "<p>", "</dl>", case
    // aside). The 64 bytes after the last block are read.
    void (*markTags)(const char* p, std::size_t blocks, std::uint64_t* opens, std::uint64_t* closes,
                     std::uint64_t* keys);
    // The line in[0, n) cleaned into out, its length returned: leading "+" markers and
    // every other "+" to spaces, "&gt;" then "&lt;" removed. Room for n + kCleanRoom bytes:
    // what lies past the line is written over at will.
    std::size_t (*cleanLine)(char* out, const char* in, std::size_t n);
    // The first `c` in [p, end), or `end`.
    const char* (*findByte)(const char* p, const char* end, char c);
    // Bit i set where p[i] is `c`, for the 64 bytes from p.
    std::uint64_t (*markByte)(const char* p, char c);
    // The first or the last place where lower[0, m) (in lower case) stands in text[0, n),
    // case aside, or SIZE_MAX. An empty phrase stands at 0, or last at n.
    std::size_t (*findFolded)(const char* text, std::size_t n, const char* lower, std::size_t m);
    std::size_t (*findLastFolded)(const char* text, std::size_t n, const char* lower,
                                  std::size_t m);
};

// The table of each path; a path not built for this target has no getter.
const Kernels& WordKernels();
#if defined(VELMORA_X86_KERNELS)
const Kernels& Sse2Kernels();
const Kernels& Avx2Kernels();
#endif
// Where NEON would go: const Kernels& NeonKernels();

} // namespace velmora::detail
