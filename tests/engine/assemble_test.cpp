#include "assembler.h"
#include "phases.h"
#include "piece_writer.h"
#include "rewriter.h"
#include "steps.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmora {
namespace {

struct AssembleCase {
    const char* name;
    std::string rewritten;
    std::string expected;
    friend void PrintTo(const AssembleCase& row, std::ostream* os) { *os << row.name; }
};

// `text` with `filler` after the leading run of `lead` in each piece between separators
// that begins with one.
std::string AfterLeadingRun(std::string_view text, std::string_view separator, char lead,
                            std::string_view filler) {
    std::string out;
    for (std::size_t pos = 0;; pos += separator.size()) {
        const std::size_t end = std::min(text.find(separator, pos), text.size());
        const std::size_t run = std::min(text.find_first_not_of(lead, pos), end);
        out.append(text.substr(pos, run - pos)).append(run > pos ? filler : "");
        out.append(text.substr(run, end - run));
        if (end == text.size()) {
            return out;
        }
        out.append(separator);
        pos = end;
    }
}

// `text` with the run of markers that begins each segment as a count record, the way
// the conversion hands markers on to the assembly.
std::string Counted(std::string_view text) {
    std::string out;
    for (std::size_t pos = 0;; ++pos) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::size_t run = std::min(text.find_first_not_of('+', pos), end);
        if (run > pos) {
            out += detail::kCountOpen;
            out += std::to_string(run - pos);
            out += detail::kCountClose;
        }
        out.append(text.substr(run, end - run));
        if (end == text.size()) {
            return out;
        }
        out += '\n';
        pos = end;
    }
}

// The assembly of the counted form fed in pieces of `size`, cut anywhere, records too.
std::string AssembleCountedInPieces(std::string_view rewritten, std::size_t size) {
    const std::string counted = Counted(rewritten);
    std::string output;
    detail::StringSink into(output);
    detail::Assembler assembler(into);
    for (std::size_t at = 0; at < counted.size(); at += size) {
        assembler.Take(std::string_view(counted).substr(at, size));
    }
    assembler.Finish();
    return output;
}

void AssemblesAtEveryOffset(const AssembleCase& row) {
    // Spaces after a segment's markers put its text, entities and "+" included, at every
    // offset; a line keeps them after its indentation, and a segment of markers alone
    // still trims to no line.
    for (std::size_t shift = 0; shift <= test::kMaxShift; ++shift) {
        const std::string spaces(shift, ' ');
        test::ProgressLog log;
        Result<std::string> output =
            AssembleIndentedText(AfterLeadingRun(row.rewritten, "\n", '+', spaces), log, 7.0f);
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(output.value(), AfterLeadingRun(row.expected, "\r\n", ' ', spaces))
            << "shifted by " << shift;
        // One last value, the maximum, also when no line results.
        const std::vector<std::pair<char, float>> expected{{'V', 7.0f}};
        EXPECT_EQ(log.calls, expected);
    }
}

class Assemble : public testing::TestWithParam<AssembleCase> {};

TEST_P(Assemble, GivesTheOutputText) {
    test::ForEachKernelTable([](const char* path) {
        SCOPED_TRACE(path);
        AssemblesAtEveryOffset(GetParam());
    });
    for (std::size_t size = 1; size <= Counted(GetParam().rewritten).size(); ++size) {
        EXPECT_EQ(AssembleCountedInPieces(GetParam().rewritten, size), GetParam().expected)
            << "counted markers, in pieces of " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Segments, Assemble,
    testing::Values(
        AssembleCase{"TermAndDefinition", "\n++Title\n++++Value", "\r\n  Title\r\n    Value"},
        AssembleCase{"TrimsSpacesAndSkipsMarkerOnlySegments", " \n++A \n++++  \n++++B \n++++++C   ",
                     "\r\n  A\r\n    B\r\n      C"},
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
        AssembleCase{"EntitiesAndPlusAcrossALongLine",
                     "++&l&gt;t;ab&&gt;gt;c+d&lt;;xy&l&gt;t;ab&&gt;gt;c+d&lt;;xy"
                     "&l&gt;t;ab&&gt;gt;c+d&lt;;xy&l&gt;t;ab&&gt;gt;c+d&lt;;xy",
                     "\r\n  ab&gt;c d;xyab&gt;c d;xyab&gt;c d;xyab&gt;c d;xy"},
        AssembleCase{"ManyShortLinesToABlock",
                     "\n+ab\n+cd\n+ef\n+gh\n+ij\n+kl\n+mn\n+op\n+qr\n+st\n+uv\n+wx\n+yz",
                     "\r\n ab\r\n cd\r\n ef\r\n gh\r\n ij\r\n kl\r\n mn\r\n op\r\n qr\r\n st\r\n "
                     "uv\r\n wx\r\n yz"},
        AssembleCase{"OneMarkerAndOneCharacterIsALine", "\n+x\n+\n++ +  ", "\r\n x"},
        AssembleCase{"DeepMarkersComeOutWhole", std::string("\n").append(70000, '+') + "ab",
                     std::string("\r\n").append(70000, ' ') + "ab"},
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
