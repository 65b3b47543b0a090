#pragma once

#include "velmora/wide_text.h"

#include <string>
#include <string_view>

namespace velmora::win32 {

// The window speaks UTF-16 to the system and UTF-8 to the rest of the program, so that
// any file name passes whatever the code page. Bytes that are not UTF-8 become U+FFFD on
// the way to UTF-16 as the engine makes them (velmora/wide_text.h); unpaired surrogates
// in a name become U+FFFD on the way to UTF-8.
using velmora::Wide;
std::string Utf8(std::wstring_view wide);

} // namespace velmora::win32
