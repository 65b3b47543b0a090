#pragma once

// The bodies of the kernels (kernels.h), once for every block type: each kernels_*.cpp
// defines its block type, includes this and fills its table with KernelsOver<Block>.
// Everything here has internal linkage, so that what a file built for a wider processor
// makes of it is never taken by the linker for another file. For the same reason only
// headers that define no functions of their own are included.
//
// A block type B has kSize, a constructor from a pointer to kSize readable bytes,
// Matches(c) and MatchesFolded(c) (bit i set for byte i) and Store(p).

#include "kernels.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velmora::detail {
namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Trailing and leading zero bits; a mask of zero has 32 of them.
[[gnu::always_inline]] inline std::size_t TrailingZeros(std::uint32_t x) {
    return x == 0 ? 32 : static_cast<std::size_t>(__builtin_ctz(x));
}
[[gnu::always_inline]] inline std::size_t TrailingZeros64(std::uint64_t x) {
    return static_cast<std::size_t>(__builtin_ctzll(x)); // x != 0
}
[[gnu::always_inline]] inline std::size_t HighestBit(std::uint32_t x) {
    return static_cast<std::size_t>(31 - __builtin_clz(x)); // x != 0
}
[[gnu::always_inline]] inline std::size_t PopCount(std::uint64_t x) {
    return static_cast<std::size_t>(__builtin_popcountll(x));
}
[[gnu::always_inline]] inline std::size_t Min(std::size_t a, std::size_t b) {
    return a < b ? a : b;
}

// High bit set in each byte of `word` that equals `byte`, and in no other: a test of
// eight bytes at once for the one character a loop is looking for.
[[gnu::always_inline]] inline std::uint64_t BytesEqual(std::uint64_t word, unsigned char byte) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    const std::uint64_t x = word ^ (0x0101010101010101ULL * byte);
    // A byte of x is zero exactly when neither its low seven bits nor its high bit are set.
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}

// Eight bytes in a word: the block of any processor.
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

[[gnu::always_inline]] inline unsigned char FoldByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

[[gnu::always_inline]] inline bool EqualsFoldedAt(const char* text, const char* lower,
                                                  std::size_t m) {
    for (std::size_t i = 0; i < m; ++i) {
        if (FoldByte(text[i]) != static_cast<unsigned char>(lower[i])) {
            return false;
        }
    }
    return true;
}

// Bit i set where the byte at p + i is `c`, for the 64 bytes from p, a block at a time.
template <typename B> [[gnu::always_inline]] inline std::uint64_t Mask64(const char* p, char c) {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < 64; i += B::kSize) {
        mask |= static_cast<std::uint64_t>(B(p + i).Matches(c)) << i;
    }
    return mask;
}

// Bit i set when an odd number of the bits 0 to i of x are.
[[gnu::always_inline]] inline std::uint64_t PrefixParity(std::uint64_t x) {
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
[[gnu::always_inline]] inline std::uint64_t RunParity(std::uint64_t runs, std::uint64_t units,
                                                      bool carried) {
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

// The CRs and LFs of 64 bytes that pair up as CR LF: an LF after a CR (the one before the
// block when `crBefore`), a CR before an LF (the byte after the block when `lfAfter`).
struct Pairs {
    std::uint64_t crs;
    std::uint64_t lfs;
};
[[gnu::always_inline]] inline Pairs PairCrLf(std::uint64_t crs, std::uint64_t lfs, bool crBefore,
                                             bool lfAfter) {
    return {crs & ((lfs >> 1) | (static_cast<std::uint64_t>(lfAfter) << 63)),
            lfs & ((crs << 1) | (crBefore ? 1 : 0))};
}

// The ways of breaking lines, as LineBreakKind numbers them.
constexpr std::size_t kNoBreak = 0;
constexpr std::size_t kLf = 1;
constexpr std::size_t kCr = 2;
constexpr std::size_t kCrLf = 3;

// ---- normalising ------------------------------------------------------------------------

// For each set of the eight bytes of a word that stay, where each of them stands in the
// word (the first comes first), and how many there are; and each byte of a word set
// where a bit is.
struct WordTables {
    std::uint64_t kept[256];
    unsigned char count[256];
    std::uint64_t bytes[256];
};
constexpr WordTables kWordTables = [] {
    WordTables tables{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        unsigned char count = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if ((bits >> i & 1) != 0) {
                tables.kept[bits] |= std::uint64_t{i} << (8 * count++);
                tables.bytes[bits] |= std::uint64_t{0xff} << (8 * i);
            }
        }
        tables.count[bits] = count;
    }
    return tables;
}();

// The bytes of `word` whose bits are set in `keep`, moved to its front.
[[gnu::always_inline]] inline std::uint64_t KeepPortable(std::uint64_t word, unsigned keep) {
    const std::uint64_t from = kWordTables.kept[keep];
    std::uint64_t kept = 0;
    for (unsigned i = 0; i < kWordTables.count[keep]; ++i) {
        kept |= (word >> (8 * (from >> (8 * i) & 0xff)) & 0xff) << (8 * i);
    }
    return kept;
}

// The eight bytes at `at` of a block of 64 with the bytes `spaced` made spaces and those
// not in `keep` taken out. A block type with a byte shuffle does it without a branch
// (B::kShuffles and B::Keep), since where the words that change fall is hard to foresee.
template <typename B> struct HasShuffle {
    template <typename T> static constexpr bool Test(decltype(T::kShuffles)*) {
        return T::kShuffles;
    }
    template <typename T> static constexpr bool Test(...) { return false; }
    static constexpr bool value = Test<B>(nullptr);
};

template <typename B>
[[gnu::always_inline]] inline std::uint64_t Squeeze(std::uint64_t word, unsigned spaced,
                                                    unsigned keep) {
    if constexpr (HasShuffle<B>::value) {
        const std::uint64_t bytes = kWordTables.bytes[spaced];
        return B::Keep((word & ~bytes) | (0x2020202020202020ULL & bytes), kWordTables.kept[keep]);
    } else {
        if (spaced != 0) {
            const std::uint64_t bytes = kWordTables.bytes[spaced];
            word = (word & ~bytes) | (0x2020202020202020ULL & bytes);
        }
        if (keep != 0xff) {
            word = KeepPortable(word, keep);
        }
        return word;
    }
}

// Normalises 64 bytes at a time as bit masks, while the byte after them is there to be
// seen, from data[in] to data[out] (out <= in), and returns where it stopped; `odd` says
// whether the run that reaches the last byte done has an odd number of units. A CR LF
// cut by the end of a block goes with the block: its CR stays or goes as the run says,
// and its LF goes with the next block, or after the last.
template <typename B>
[[gnu::always_inline]] inline void NormaliseMasked(char* data, std::size_t n, std::size_t kind,
                                                   std::size_t& in, std::size_t& out, bool& odd) {
    bool crBefore = false;
    for (; in + 64 < n; in += 64) {
        const char* const p = data + in;
        const std::uint64_t spaces = Mask64<B>(p, ' ');
        std::uint64_t runs = spaces;
        std::uint64_t units = spaces;
        Pairs pairs{0, 0};
        if (kind == kLf || kind == kCr) {
            runs = units = spaces | Mask64<B>(p, kind == kLf ? '\n' : '\r');
        } else if (kind == kCrLf) {
            pairs = PairCrLf(Mask64<B>(p, '\r'), Mask64<B>(p, '\n'), crBefore, p[64] == '\n');
            crBefore = pairs.crs >> 63 != 0;
            runs = spaces | pairs.crs | pairs.lfs;
            units = spaces | pairs.lfs;
        }
        const std::uint64_t own = RunParity(runs, units, odd);
        odd = (runs >> 63 & own >> 63) != 0;
        // A unit goes when an even number stand in its run up to it; a CR LF always loses
        // its LF, and its CR too when the pair goes as a unit. What stays of a line break
        // becomes a space.
        std::uint64_t dropped = units & ~own;
        std::uint64_t toSpace = (units & ~spaces) & own;
        if (kind == kCrLf) {
            dropped = (units & ~own) | pairs.lfs | (pairs.crs & own);
            toSpace = pairs.crs & ~own;
        }
        if (dropped == 0 && toSpace == 0 && out == in) {
            out += 64;
            continue;
        }
        for (std::size_t at = 0; at < 64; at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p + at, 8);
            const auto spaced = static_cast<unsigned>(toSpace >> at & 0xff);
            const auto keep = static_cast<unsigned>(~dropped >> at & 0xff);
            word = Squeeze<B>(word, spaced, keep);
            // All eight bytes are written: those past the kept ones land where the next
            // word's bytes will be written, never on a byte not yet read.
            std::memcpy(data + out, &word, 8);
            out += kWordTables.count[keep];
        }
    }
    if (crBefore) { // the LF of a CR LF cut by the last block: it goes, and counts as its unit
        ++in;
        odd = !odd;
    }
}

template <typename B>
std::size_t Normalise(char* data, std::size_t n, const char* lineBreak, std::size_t lineBreakSize,
                      std::size_t& spaceRun) {
    // Both replacements shrink or keep the text, so one pass writes over what it has
    // already read. The halving keeps the first, third, fifth... space of a run, which is
    // what replacing "  " by " " from the left without rescanning leaves.
    const bool pairs = lineBreakSize == 2;
    const bool breaks = lineBreakSize != 0;
    // The character that starts a line break: CR for CR LF, else the break itself.
    const char breakStart = breaks ? lineBreak[0] : '\0';
    std::size_t in = 0;
    std::size_t out = 0;
    // Long pieces go 64 bytes at a time first, the rest below.
    if (n > 64) {
        bool odd = spaceRun % 2 == 1;
        const std::size_t kind = pairs                ? kCrLf
                                 : !breaks            ? kNoBreak
                                 : breakStart == '\r' ? kCr
                                                      : kLf;
        NormaliseMasked<B>(data, n, kind, in, out, odd);
        spaceRun = odd ? 1 : 0;
    }

    // Bytes written may run up to a block past `out`, rather than the exact few, once
    // what has been read is that far ahead: they land on bytes already done with.
    auto roomToSpare = [&]() __attribute__((always_inline)) {
        return in - out >= B::kSize;
    };

    // At a space or a line break: the whole run of them at once, since indentation and
    // wrapped lines make such runs common. Each line break counts as one space.
    auto run = [&]() __attribute__((always_inline)) {
        std::size_t length = 0;
        for (;;) {
            while (in + B::kSize <= n) {
                const std::uint32_t others = ~B(data + in).Matches(' ');
                const std::size_t spaces = Min(TrailingZeros(others), B::kSize);
                in += spaces;
                length += spaces;
                if (spaces < B::kSize) {
                    break;
                }
            }
            while (in < n && data[in] == ' ') {
                ++in;
                ++length;
            }
            if (in < n && !pairs && breaks && data[in] == breakStart) {
                ++in;
            } else if (in + 1 < n && pairs && data[in] == '\r' && data[in + 1] == '\n') {
                in += 2;
            } else {
                break;
            }
            ++length;
        }
        if (length == 0) { // a CR that does not start a CR LF is a character like any other
            data[out++] = data[in++];
            spaceRun = 0;
            return;
        }
        // The run's spaces are numbers spaceRun to spaceRun + length - 1; the even ones stay.
        const std::size_t kept = (spaceRun + length + 1) / 2 - (spaceRun + 1) / 2;
        if (kept <= 8 && in - out >= 8) {
            std::memcpy(data + out, "        ", 8);
        } else {
            std::memset(data + out, ' ', kept);
        }
        out += kept;
        spaceRun += length;
    };

    // Most of a document is words and single spaces, which stay as they are: a block at a
    // time is checked for a line break or for a space that follows another (maybe the
    // last byte before it); what comes before the first such byte is copied whole and the
    // run that starts there is taken by `run`.
    constexpr std::uint32_t kLastByte = std::uint32_t{1} << (B::kSize - 1);
    while (in + B::kSize <= n) {
        const B block(data + in);
        const std::uint32_t spaces = block.Matches(' ');
        std::uint32_t special = spaces & ((spaces << 1) | (spaceRun > 0 ? 1 : 0));
        if (breaks) {
            special |= block.Matches(breakStart);
        }
        if (special == 0) {
            block.Store(data + out);
            out += B::kSize;
            in += B::kSize;
            spaceRun = (spaces & kLastByte) != 0 ? 1 : 0;
            continue;
        }
        const std::size_t plain = TrailingZeros(special);
        if (plain > 0) {
            if (roomToSpare()) {
                block.Store(data + out);
            } else {
                std::memmove(data + out, data + in, plain);
            }
            out += plain;
            in += plain;
            spaceRun = (spaces >> (plain - 1)) & 1; // the byte before the special one
        }
        run();
    }
    while (in < n) {
        if (data[in] == ' ' || (breaks && data[in] == breakStart)) {
            run();
        } else {
            data[out++] = data[in++];
            spaceRun = 0;
        }
    }
    return out;
}

// ---- counting what normalising drops ----------------------------------------------------

// The units that go in 64 bytes of one kind: the second, fourth... of each run.
[[gnu::always_inline]] inline std::size_t DroppedUnits(std::uint64_t runs, std::uint64_t units,
                                                       bool& odd) {
    const std::uint64_t own = RunParity(runs, units, odd);
    odd = (runs >> 63 & own >> 63) != 0;
    return PopCount(units & ~own);
}

// A block of 64 bytes at a time as bit masks, with the byte after it in sight (a CR is a
// line break of its kind only when a LF follows).
template <typename B> std::size_t CountDrops(const char* p, std::size_t n, DropCount& count) {
    std::size_t i = 0;
    if (n <= 64) {
        return 0;
    }
    bool odd[DropCount::kKinds];
    std::memcpy(odd, count.odd, sizeof odd);
    bool crBefore = count.pendingCr;
    if (crBefore && p[0] != '\n') {
        odd[kCrLf] = false; // the CR was a character like any other
    }
    for (; i + 64 < n; i += 64) {
        const char* const block = p + i;
        const std::uint64_t spaces = Mask64<B>(block, ' ');
        const std::uint64_t crs = Mask64<B>(block, '\r');
        const std::uint64_t lfs = Mask64<B>(block, '\n');
        const Pairs pairs = PairCrLf(crs, lfs, crBefore, block[64] == '\n');
        crBefore = (crs >> 63) != 0;
        if (pairs.lfs != 0) {
            count.crlf = true;
        }
        if (!count.crlf) {
            count.drops[kNoBreak] += DroppedUnits(spaces, spaces, odd[kNoBreak]);
            count.drops[kLf] += DroppedUnits(spaces | lfs, spaces | lfs, odd[kLf]);
            count.drops[kCr] += DroppedUnits(spaces | crs, spaces | crs, odd[kCr]);
        }
        count.drops[kCrLf] += PopCount(pairs.lfs) + DroppedUnits(spaces | pairs.crs | pairs.lfs,
                                                                 spaces | pairs.lfs, odd[kCrLf]);
    }
    std::memcpy(count.odd, odd, sizeof odd);
    count.pendingCr = crBefore;
    return i;
}

// ---- tags -------------------------------------------------------------------------------

// The bytes of a block that the tags that count are made of.
struct TagBytes {
    std::uint64_t open, close, slash, d, l, t, p;
};

template <typename B> [[gnu::always_inline]] inline TagBytes TagBytesOf(const char* at) {
    TagBytes bytes{};
    for (std::size_t i = 0; i < 64; i += B::kSize) {
        const B block(at + i);
        bytes.open |= static_cast<std::uint64_t>(block.Matches('<')) << i;
        bytes.close |= static_cast<std::uint64_t>(block.Matches('>')) << i;
        bytes.slash |= static_cast<std::uint64_t>(block.Matches('/')) << i;
        bytes.d |= static_cast<std::uint64_t>(block.MatchesFolded('d')) << i;
        bytes.l |= static_cast<std::uint64_t>(block.MatchesFolded('l')) << i;
        bytes.t |= static_cast<std::uint64_t>(block.MatchesFolded('t')) << i;
        bytes.p |= static_cast<std::uint64_t>(block.MatchesFolded('p')) << i;
    }
    return bytes;
}

// A tag that counts is the whole of "<dl>", "<dt>", "<dd>", "<p>" or "</dl>": bit i of
// the key mask is set where its bytes stand from i on, found for every "<" of the block at
// once from the masks of each byte, shifted, the next block's supplying their ends.
template <typename B>
void MarkTags(const char* p, std::size_t blocks, std::uint64_t* opens, std::uint64_t* closes,
              std::uint64_t* keys) {
    TagBytes here = TagBytesOf<B>(p);
    for (std::size_t k = 0; k < blocks; ++k) {
        p += 64;
        const TagBytes next = TagBytesOf<B>(p);
        const auto at = [&](std::uint64_t TagBytes::*mask, int shift) {
            return here.*mask >> shift | next.*mask << (64 - shift);
        };
        const std::uint64_t lists =
            at(&TagBytes::d, 1) &
            (at(&TagBytes::l, 2) | at(&TagBytes::t, 2) | at(&TagBytes::d, 2)) &
            at(&TagBytes::close, 3);
        const std::uint64_t paragraphs = at(&TagBytes::p, 1) & at(&TagBytes::close, 2);
        const std::uint64_t listEnds = at(&TagBytes::slash, 1) & at(&TagBytes::d, 2) &
                                       at(&TagBytes::l, 3) & at(&TagBytes::close, 4);
        opens[k] = here.open;
        closes[k] = here.close;
        keys[k] = here.open & (lists | paragraphs | listEnds);
        here = next;
    }
}

// ---- lines ------------------------------------------------------------------------------

// The markers in front become the indentation. The rest goes in one pass from the left
// that writes each "+" as a space, skips each "&gt;" of the text and takes back each
// "&lt;" as soon as its ";" is written, among what was written since the last one taken
// back: the same as removing "&gt;" in one pass, then "&lt;" in one over what that left,
// neither looking again at what it has written ("&&gt;gt;" keeps an "&gt;", "&l&gt;t;"
// loses both). Neither entity holds a "+", so where the markers become spaces is no matter.
template <typename B> std::size_t CleanLine(char* out, const char* line, std::size_t size) {
    std::size_t markers = 0;
    while (markers < size && line[markers] == '+') {
        ++markers;
    }
    std::memset(out, ' ', markers);
    const char* in = line + markers;
    const char* const end = line + size;
    char* written = out + markers;
    char* taken = written; // where what was written since the last "&lt;" taken back begins
    for (;;) {
        // A block with no "&", "+" or ";" goes whole: no entity begins or ends in it. Once
        // one is found, the block is stored all the same, since the bytes written ahead
        // are written over, or lie in the room past the line's end. The line's last bytes
        // are taken as a block too, from a copy with zeros behind them.
        const auto left = static_cast<std::size_t>(end - in);
        if (left == 0) {
            return static_cast<std::size_t>(written - out);
        }
        std::uint32_t special = 0;
        std::size_t plain = B::kSize;
        if (left >= B::kSize) {
            const B block(in);
            special = block.Matches('&') | block.Matches('+') | block.Matches(';');
            block.Store(written);
        } else {
            char tail[B::kSize] = {};
            std::memcpy(tail, in, left);
            const B block(tail);
            special = block.Matches('&') | block.Matches('+') | block.Matches(';');
            block.Store(written);
            plain = left;
        }
        if (special != 0) {
            plain = TrailingZeros(special);
        }
        written += plain;
        in += plain;
        if (special == 0) {
            continue;
        }
        if (*in == '&' && end - in >= 4 && std::memcmp(in, "&gt;", 4) == 0) {
            in += 4;
            continue;
        }
        const char c = *in == '+' ? ' ' : *in;
        ++in;
        *written++ = c;
        if (c == ';' && written - taken >= 4 && std::memcmp(written - 4, "&lt;", 4) == 0) {
            written -= 4;
            taken = written;
        }
    }
}

// ---- searches ---------------------------------------------------------------------------

template <typename B> std::uint64_t MarkByte(const char* p, char c) {
    return Mask64<B>(p, c);
}

template <typename B> const char* FindByte(const char* p, const char* end, char c) {
    while (static_cast<std::size_t>(end - p) >= B::kSize) {
        if (const std::uint32_t hits = B(p).Matches(c)) {
            return p + TrailingZeros(hits);
        }
        p += B::kSize;
    }
    while (p < end && *p != c) {
        ++p;
    }
    return p;
}

// Bit i set where the first bytes of `lower` (up to four) stand at p + i, case aside,
// for the B::kSize places from p; p + B::kSize + 2 must still be readable. A byte
// matches when it equals the character once 0x20 is set in it: both cases of a letter,
// and a few other bytes that the whole comparison turns away.
template <typename B>
[[gnu::always_inline]] inline std::uint32_t PrefixHits(const char* p, const char* lower,
                                                       std::size_t m) {
    std::uint32_t hits = B(p).MatchesFolded(lower[0]);
    for (std::size_t i = 1; i < Min(m, 4) && hits != 0; ++i) {
        hits &= B(p + i).MatchesFolded(lower[i]);
    }
    return hits;
}

template <typename B>
std::size_t FindFolded(const char* text, std::size_t n, const char* lower, std::size_t m) {
    if (m == 0) {
        return 0;
    }
    if (m > n) {
        return kNotFound;
    }
    const std::size_t starts = n - m + 1; // the places a match can start
    std::size_t at = 0;
    // A block of places at a time, while the bytes its prefixes need are there.
    for (; at + B::kSize + 3 <= n && at + B::kSize <= starts; at += B::kSize) {
        for (std::uint32_t hits = PrefixHits<B>(text + at, lower, m); hits != 0; hits &= hits - 1) {
            const std::size_t pos = at + TrailingZeros(hits);
            if (EqualsFoldedAt(text + pos, lower, m)) {
                return pos;
            }
        }
    }
    for (; at < starts; ++at) {
        if (EqualsFoldedAt(text + at, lower, m)) {
            return at;
        }
    }
    return kNotFound;
}

template <typename B>
std::size_t FindLastFolded(const char* text, std::size_t n, const char* lower, std::size_t m) {
    if (m == 0 || m > n) {
        return m == 0 ? n : kNotFound;
    }
    std::size_t starts = n - m + 1; // candidates lie in [0, starts)
    // The places whose prefix bytes would run past the text are tried one by one.
    while (starts > 0 && starts + 3 > n) {
        --starts;
        if (EqualsFoldedAt(text + starts, lower, m)) {
            return starts;
        }
    }
    for (; starts >= B::kSize; starts -= B::kSize) {
        const std::size_t at = starts - B::kSize;
        for (std::uint32_t hits = PrefixHits<B>(text + at, lower, m); hits != 0;) {
            const std::size_t bit = HighestBit(hits);
            if (EqualsFoldedAt(text + at + bit, lower, m)) {
                return at + bit;
            }
            hits &= ~(std::uint32_t{1} << bit);
        }
    }
    while (starts > 0) {
        --starts;
        if (EqualsFoldedAt(text + starts, lower, m)) {
            return starts;
        }
    }
    return kNotFound;
}

template <typename B> constexpr Kernels KernelsOver(const char* name) {
    return Kernels{name,        Normalise<B>, CountDrops<B>, MarkTags<B>,      CleanLine<B>,
                   FindByte<B>, MarkByte<B>,  FindFolded<B>, FindLastFolded<B>};
}

} // namespace
} // namespace velmora::detail
