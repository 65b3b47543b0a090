#include "random_document.h"

#include <random>
#include <string_view>

namespace velmora::model {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kPieces[] = {
    "<dl>"sv,
    "</dl>"sv,
    "<DL>"sv,
    "</DL>"sv,
    "<Dl>"sv,
    "<dl compact>"sv,
    "<dl"sv,
    "</dl"sv,
    "<dt>"sv,
    "</dt>"sv,
    "<DT>"sv,
    "<dT>"sv,
    "<dt class=x>"sv,
    "<dd>"sv,
    "</dd>"sv,
    "<DD>"sv,
    "<dd >"sv,
    "<p>"sv,
    "<P>"sv,
    "</p>"sv,
    "<br>"sv,
    "<b>"sv,
    "</b>"sv,
    "<!-- <dl -->"sv,
    "<"sv,
    ">"sv,
    "<<"sv,
    ">>"sv,
    "&gt;"sv,
    "&lt;"sv,
    "&GT;"sv,
    "&&gt;gt;"sv,
    "&l&gt;t;"sv,
    "&l&lt;t;"sv,
    "&amp;"sv,
    "+"sv,
    "++"sv,
    "1+1"sv,
    " "sv,
    "  "sv,
    "   "sv,
    "\r\n"sv,
    "\n"sv,
    "\r"sv,
    "\t"sv,
    "\0"sv,
    "\xff"sv,
    "\xc3\xa9"sv,
    "a"sv,
    "ab"sv,
    "Title"sv,
    "x y"sv,
    "zoak"sv,
    "ZOAK"sv,
    "metadata"sv,
    "Report"sv,
    "generated"sv,
    "zoak metadata report generated"sv,
    "ZOAK Metadata Report Generated"sv,
    "zoak metadata\nreport generated"sv,
    "zoak  metadata report generated"sv,
    "zoak metadata \r\n report generated"sv,
};

} // namespace

std::string RandomDocument(std::uint64_t seed) {
    std::mt19937_64 random(seed);
    auto pieces = std::uniform_int_distribution<std::size_t>(0, std::size(kPieces) - 1);
    // Mostly short, so that a difference is easy to read; now and then long enough for
    // deep nesting and many tags.
    const std::size_t most = std::uniform_int_distribution<int>(0, 9)(random) == 0 ? 300 : 40;
    const std::size_t count = std::uniform_int_distribution<std::size_t>(0, most)(random);
    std::string document;
    for (std::size_t i = 0; i < count; ++i) {
        document += kPieces[pieces(random)];
    }
    return document;
}

} // namespace velmora::model
