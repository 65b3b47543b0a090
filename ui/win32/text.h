#pragma once

#include <string>
#include <string_view>

namespace velmora::win32 {

// The window speaks UTF-16 to the system and UTF-8 to the rest of the program, so that
// any file name passes whatever the code page. Unpaired surrogates in a name become
// U+FFFD on the way to UTF-8.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

} // namespace velmora::win32
