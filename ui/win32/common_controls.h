#pragma once

#include <cstdint>

namespace velmora::win32 {

// Calls the common-controls library's InitCommonControlsEx with a record of size 8 and
// `classes`, the library loaded by name so that a system without it still starts. True
// when the call could be made; the library's own result is dropped.
bool InitCommonControlClasses(std::uint32_t classes);

} // namespace velmora::win32
