#pragma once

// What the stages that keep text in memory share (piece_writer.cpp defines it).

#include <cstddef>
#include <string>

namespace velmora::detail {

// The size of the pieces a PieceWriter hands on.
inline constexpr std::size_t kPieceSize = std::size_t{64} << 10;

// Makes room in `text` for `size` bytes; past a few megabytes (one very long line),
// only where the memory can be had beside what the other conversions claim, since the
// system would give it on credit and kill the process while filling it. What it costs
// is counted whole: the new buffer, the old one until the text has moved, and
// `alsoNeeded`, what the same bytes will take again further on. Throws std::bad_alloc
// where the room cannot be had.
void EnsureCapacity(std::string& text, std::size_t size, std::size_t alsoNeeded = 0);

} // namespace velmora::detail
