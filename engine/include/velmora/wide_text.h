#pragma once

// UTF-8 in the UTF-16 that Windows takes: in file names, window texts and a console,
// which takes UTF-16 whatever its code page. Both ways of converting replace what is not
// UTF-8 alike, so that a name means the same file wherever it is converted.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// As many whole characters from the start of `utf8` as fit in `room` UTF-16 units go to
// `wide` (a character beyond U+FFFF takes two), without taking memory, so that a message
// can be shown when none can be had; `made` says how many units were written. Returns the
// bytes taken. Each byte that is not part of a whole, valid sequence (a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate's code) becomes
// U+FFFD.
std::size_t WidenUtf8(std::string_view utf8, char16_t* wide, std::size_t room, std::size_t& made);

#ifdef _WIN32
// The whole of `utf8` in UTF-16, replaced as WidenUtf8 replaces it, for the system's
// wide calls.
std::wstring Wide(std::string_view utf8);
#endif

} // namespace velmora
