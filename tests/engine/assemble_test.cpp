#include "velmora/assemble.h"
#include "steps.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

struct AssembleCase {
    const char* name;
    std::string rewritten;
    std::string expected;
    friend void PrintTo(const AssembleCase& row, std::ostream* os) { *os << row.name; }
};

class Assemble : public testing::TestWithParam<AssembleCase> {};

TEST_P(Assemble, GivesTheOutputText) {
    test::ProgressLog log;
    Result<std::string> output = AssembleIndentedText(GetParam().rewritten, log, 7.0f);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output.value(), GetParam().expected);
    // One last value, the maximum, also when no line results.
    const std::vector<std::pair<char, float>> expected{{'V', 7.0f}};
    EXPECT_EQ(log.calls, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, Assemble,
    testing::Values(
        AssembleCase{"TermAndDefinition", "\n++Title\n++++Value", "\r\n  Title\r\n    Value"},
        AssembleCase{"TrimsSpacesAndSkipsMarkerOnlySegments",
                     " \n++A \n++++  \n++++B \n++++++C   ", "\r\n  A\r\n    B\r\n      C"},
        AssembleCase{"TextWithoutBreakIsOneLine", "Hello world", "\r\nHello world"},
        AssembleCase{"EntitiesVanishLeavingTheirSpaces", "++x &lt; y &gt; z", "\r\n  x  y  z"},
        AssembleCase{"PlusInTextBecomesASpace", "++++1+1=2", "\r\n    1 1=2"},
        AssembleCase{"TextEndingInPlusIsNoLine", "++++Total+", ""},
        AssembleCase{"EntityRemovalDoesNotRescan", "++&&gt;gt;", "\r\n  &gt;"},
        AssembleCase{"SeveralEntitiesInALine", "++a&lt;b&lt;&lt;c&gt;&lt;", "\r\n  abc"},
        AssembleCase{"LessThanRemovalDoesNotRescanEither", "++&l&lt;t;", "\r\n  &lt;"},
        AssembleCase{"EntityRemovalIsCaseSensitive", "++&GT;", "\r\n  &GT;"},
        AssembleCase{"LessThanPassSeesWhatTheGreaterThanPassLeft", "++&l&gt;t;x", "\r\n  x"},
        AssembleCase{"ContentTestComesBeforeEntityRemoval", "++&gt;\n&gt;&lt;", "\r\n  \r\n"},
        AssembleCase{"ParagraphGetsNoBlankLine", "\n++A\n\n++++one", "\r\n  A\r\n    one"},
        AssembleCase{"OneCharacterIsNoLine", "x\nab", "\r\nab"},
        AssembleCase{"TabAndCrAreKeptAtTheEnds", "\tab\t\ncd\r", "\r\n\tab\t\r\ncd\r"},
        AssembleCase{"NothingGivesNothing", "", ""},
        AssembleCase{"NoSegmentPasses", "\n\n++\n+", ""}),
    test::RowName());

TEST(Assemble, HasNoLimitOnTheNumberOfLines) {
    std::string rewritten;
    for (int i = 0; i < 40000; ++i) {
        rewritten += "\n++line";
    }
    NoProgress none;
    Result<std::string> output = AssembleIndentedText(rewritten, none, 0.0f);
    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(output.value().size(), 40000u * std::string("\r\n  line").size());
}

} // namespace
} // namespace velmora
