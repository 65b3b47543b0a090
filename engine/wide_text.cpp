#include "velmora/wide_text.h"

#include <array>
#include <cstdint>

namespace velmora {

namespace {

constexpr char32_t kReplacement = 0xfffd;

// The character a valid sequence at the start of `text` stands for, and its length; a
// length of 1 and U+FFFD for anything else.
char32_t Decode(std::string_view text, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    length = 1;
    if (lead < 0x80) {
        return lead;
    }
    std::size_t size = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        size = 2, value = lead & 0x1f, least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        size = 3, value = lead & 0x0f, least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        size = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return kReplacement;
    }
    if (text.size() < size) {
        return kReplacement;
    }
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(i) & 0xc0) != 0x80) {
            return kReplacement;
        }
        value = (value << 6) | (byte(i) & 0x3f);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) {
        return kReplacement;
    }
    length = size;
    return value;
}

} // namespace

std::size_t WidenUtf8(std::string_view utf8, char16_t* wide, std::size_t room, std::size_t& made) {
    std::size_t taken = 0;
    made = 0;
    while (taken < utf8.size()) {
        std::size_t length = 1;
        const char32_t c = Decode(utf8.substr(taken), length);
        const std::size_t units = c > 0xffff ? 2 : 1;
        if (made + units > room) {
            break;
        }
        if (units == 2) {
            wide[made++] = static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10));
            wide[made++] = static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff));
        } else {
            wide[made++] = static_cast<char16_t>(c);
        }
        taken += length;
    }
    return taken;
}

#ifdef _WIN32
std::wstring Wide(std::string_view utf8) {
    std::wstring wide;
    std::array<char16_t, 256> piece;
    while (!utf8.empty()) {
        std::size_t made = 0;
        utf8.remove_prefix(WidenUtf8(utf8, piece.data(), piece.size(), made));
        wide.append(piece.data(), piece.data() + made);
    }
    return wide;
}
#endif

} // namespace velmora
