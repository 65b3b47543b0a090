#pragma once

// Text for a Windows console, which takes UTF-16 whatever its code page: the engine's
// UTF-8 turned into it without taking memory, so that a message can be shown when none
// can be had.

#include <cstddef>
#include <string_view>

namespace velmora::sys {

// As many whole characters from the start of `utf8` as fit in `room` UTF-16 units go to
// `wide` (a character beyond U+FFFF takes two); `made` says how many units were written.
// Returns the bytes taken. A byte that is not part of a whole, valid sequence (a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate's code) becomes
// U+FFFD, as the system's own conversion makes it.
std::size_t WidenUtf8(std::string_view utf8, char16_t* wide, std::size_t room, std::size_t& made);

} // namespace velmora::sys
