#pragma once

// Where a path starts, by the rules of each system.

#include <cstddef>
#include <string_view>

namespace velmora {

// The bytes of a path that name where it starts, not a folder to look in, by Windows'
// rules on every system: "C:", "\", "\\server\share\", "\\?\C:\", "\\.\", with the
// separators after them.
std::size_t WindowsRootLength(std::string_view path);

} // namespace velmora
