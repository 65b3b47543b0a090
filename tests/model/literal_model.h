#pragma once

// The conversion written the slow, literal way: every search starts at position 1 and
// every replacement rewrites the first occurrence or runs one pass over the whole text,
// one step after another in the order the engine fuses them. Quadratic, and only for
// comparing the engine's one-pass phases against on small inputs.

#include "velmora/convert.h"

#include <string>
#include <utility>
#include <vector>

namespace velmora::model {

struct Conversion {
    SourceOutcome outcome = SourceOutcome::Empty;
    std::string normalised; // for Accepted
    std::string rewritten;  // for Accepted
    std::string output;     // for Accepted
    // {'M', max} and {'V', value}, in the order they were made.
    std::vector<std::pair<char, double>> progress;
};

Conversion Convert(const std::string& file);

} // namespace velmora::model
