#pragma once

#include <cstdint>
#include <string>

namespace velmora::model {

// A small document mixing everything the conversion has rules for and everything that
// tends to break converters: lists in every letter case, with and without attributes,
// nested, unbalanced and unclosed; stray and unclosed brackets; entities; markers in the
// text; all three kinds of line break; space runs; NUL and high bytes; and the refusal
// phrase written every way, split across breaks and spaces. The same seed gives the same
// document.
std::string RandomDocument(std::uint64_t seed);

} // namespace velmora::model
