#pragma once

#include "literal_model.h"

#include <string>
#include <string_view>

namespace velmora::model {

// The engine's phases run one after the other on `file`, recorded like the model, and
// the whole conversion streamed in small pieces, which must give the same output.
Conversion RunEngine(const std::string& file);

// "" when both conversions agree in outcome, texts and progress; else what differs.
std::string Difference(const Conversion& expected, const Conversion& actual);

// The bytes as a C string literal would write them, for messages.
std::string Escape(std::string_view bytes);

} // namespace velmora::model
