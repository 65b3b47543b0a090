#pragma once

// The one reason every phase gives when memory runs out. (Not io.h: on Windows that
// name is the C library's, which GoogleTest includes.)

namespace velmora::detail {

inline constexpr const char* kOutOfMemory = "not enough memory";

} // namespace velmora::detail
