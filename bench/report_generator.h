#pragma once

// Deterministic inputs for the benchmarks: the same size always gives the same bytes.

#include <cstddef>
#include <string>

namespace velmora::bench {

enum class Shape {
    Report,        // a metadata report as such tools write them: upper-case markup, CR LF
                   // lines, indentation, anchors and rules outside the list, nested lists,
                   // paragraphs and entities
    DeepNesting,   // lists nested 200 deep, again and again
    FlatList,      // one list of nothing but short terms
    PlainText,     // words and line breaks without a single tag
    StrayBrackets, // text dense with ">" that closes nothing
    DeepestTerm,   // one term in lists nested as deep as the size allows: the definitions
                   // that only open the next list make no lines, the term one long line
};

// A document of the given shape, at least `bytes` long.
std::string MakeDocument(Shape shape, std::size_t bytes);

inline std::string MakeReport(std::size_t bytes) {
    return MakeDocument(Shape::Report, bytes);
}

// "report", "deep", "flat", "plain", "stray", "deepest"; false for any other name.
bool ShapeNamed(const std::string& name, Shape& shape);

} // namespace velmora::bench
