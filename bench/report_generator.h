#pragma once

// Deterministic inputs for the benchmarks: the same size always gives the same bytes.

#include <cstddef>
#include <string>

namespace velmora::bench {

// A metadata report as such tools write them: upper-case markup, CR LF lines,
// indentation, anchors and rules outside the list, nested lists, paragraphs and
// entities. Grows to at least `bytes`.
std::string MakeReport(std::size_t bytes);

} // namespace velmora::bench
