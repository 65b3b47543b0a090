#include "phases.h"
#include "steps.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <optional>

namespace velmora {
namespace {

using namespace std::string_literals;

struct RewriteCase {
    const char* name;
    std::string input;
    std::string expected;
    // When given, the exact progress: the maximum, then one value per tag.
    std::optional<float> max = std::nullopt;
    std::vector<float> values = {};
    friend void PrintTo(const RewriteCase& row, std::ostream* os) { *os << row.name; }
};

class Rewrite : public testing::TestWithParam<RewriteCase> {};

TEST_P(Rewrite, GivesTheIndentedTextAndProgress) {
    const RewriteCase& c = GetParam();
    test::ProgressLog log;
    Result<std::string> rewritten = RewriteDefinitionLists(c.input, log);
    ASSERT_TRUE(rewritten.has_value());
    EXPECT_EQ(rewritten.value(), c.expected);
    EXPECT_EQ(rewritten.value().find('<'), std::string::npos);
    if (c.max) {
        std::vector<std::pair<char, float>> expected{{'M', *c.max}};
        for (const float value : c.values) {
            expected.emplace_back('V', value);
        }
        EXPECT_EQ(log.calls, expected);
    }
    // Filler ahead of the scoped text is text the rewriting keeps as it stands; behind it,
    // an unclosed last tag would swallow it.
    // Without progress, the tags that count are told from the rest by each path's kernels.
    const std::string scoped(detail::ScopeToFirstList(c.input));
    test::ForEachKernelTable([&](const char* path) {
        for (std::size_t shift = 1; shift <= test::kMaxShift; ++shift) {
            const std::string filler(shift, '.');
            NoProgress none;
            EXPECT_EQ(detail::RewriteTags(filler + scoped, none), filler + c.expected)
                << "shifted by " << shift << ", " << path;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Documents, Rewrite,
    testing::Values(
        RewriteCase{"WholeDocument",
                    "<html><body><DL><dt>Title</dt><dd>Roads</dd></DL></body></html>",
                    "\n++Title\n++++Roads",
                    28,
                    {4, 13, 12, 23}},
        RewriteCase{"NestedLists", "<dl><dt>A</dt><dd>x<dl><dt>B</dt><dd>y</dd></dl></dd></dl>",
                    "\n++A\n++++x\n++++B\n++++++y"},
        RewriteCase{"ParagraphsGrowTheTextPastTheMaximum",
                    "<dl><dt>A<p>one<p>two</dt></dl>",
                    "\n++A\n\n++++one\n\n++++two",
                    22,
                    {4, 7, 16, 27}},
        RewriteCase{"TagWithAttributesIsRemoved", "<dl><DT class=x>A</DT><dd>1 &lt; 2</dd></dl>",
                    "A\n++++1 &lt; 2"},
        RewriteCase{"ListsOpenedWithAttributesAddNoMarkers",
                    "<dl compact><dt>A</dt><dd><dl compact><dt>B</dt></dl></dd></dl>",
                    "\n++A\n++++\n++B"},
        RewriteCase{"NoListRewritesEverything", "no list here <b>bold</b> text",
                    "no list here bold text"},
        RewriteCase{"EmptyList", "<dl></dl>", "", 0, {}},
        RewriteCase{"StrayGreaterThanStays", "<dl>a > b <dt>c</dl>", "a > b \n++c", 11, {10}},
        RewriteCase{"RawLessThanSwallowsUpToTheNextTag", "<dl>a < b <dt>c</dl>", "a c"},
        RewriteCase{"TagHoldingALessThanGoesWhole", "<dl>a<b<dt>c</dl>", "ac", 8, {7}},
        RewriteCase{"TwoListsInARow", "<dl><dt>A</dt></dl><dl><dt>B</dt></dl>", "\n++A\n++B"},
        RewriteCase{"UpperCaseMarkup", "<DL><DT>A</DT></DL>", "\n++A"},
        RewriteCase{"TextOutsideTheListIsDropped",
                    "<p>intro</p><dl><dt>T</dt><dd>D<p>more</dd></dl><p>end</p>",
                    "\n++T\n++++D\n\n++++more"},
        RewriteCase{"ListOpeningInsideAComment", "<!-- <dl --> <dt>A</dt>", " \n++A"},
        RewriteCase{"MoreClosingsThanOpeningsKeepThePrefixEmpty",
                    "<dl>x</dl></dl></dl><dt>C<dd>D</dl>", "x\nC\n++D"},
        RewriteCase{"UnclosedTagDropsTheRest", "<dl>a <b", "a ", 4, {0}},
        RewriteCase{"UnclosedListOpening", "<dl", "", 3, {0}},
        RewriteCase{"ClosingBracketsBeforeTheFirstTag", "<dl>>>a<dt>b</dl>", ">>a\n++b", 8, {7}},
        RewriteCase{"TagsAlmostThoseThatCountAreRemoved",
                    "<dl><dlx>a<d>b</d>c</dlx>d<p >e<dd<dt>f<<dl>g</dL>h<Dt>i</dl>", "abcdefgh\ni"},
        RewriteCase{"BytesPassThrough", "<dl><dt>\xc3\xa9\0\xff</dt></dl>"s, "\n++\xc3\xa9\0\xff"s},
        // Shifted, the tags stand across the 64-byte blocks and the last 128 bytes.
        RewriteCase{"TagsAcrossTheBlocks",
                    "<dl>" + std::string(58, 'x') + "<dt>T</dt>" + std::string(50, 'y') +
                        "<dd>D<p>z</dd></dl>",
                    std::string(58, 'x') + "\n++T" + std::string(50, 'y') + "\n++++D\n\n++++z"},
        RewriteCase{"MarkersFillingOneStoreAndMore",
                    test::Repeat("<dl>", 30) + "<p>A<dl><dd>B</dl>",
                    "\n\n" + std::string(62, '+') + "A\n" + std::string(64, '+') + "B"}),
    test::RowName());

TEST(Rewrite, FileWithLineBreaksReachesTheListAsOneLine) {
    PreparedSource source = PrepareSourceText(
        "x\r\n<dl>\r\n<dt>Title</dt>\r\n<dd>Roads  and   trails</dd>\r\n</dl>\r\n");
    ASSERT_EQ(source.outcome, SourceOutcome::Accepted);
    EXPECT_EQ(detail::ScopeToFirstList(source.text).size(), 43u);
    test::ProgressLog log;
    Result<std::string> rewritten = RewriteDefinitionLists(source.text, log);
    ASSERT_TRUE(rewritten.has_value());
    EXPECT_EQ(rewritten.value(), " \n++Title \n++++Roads and  trails ");
    const std::vector<std::pair<char, float>> expected{
        {'M', 43}, {'V', 5}, {'V', 14}, {'V', 14}, {'V', 37}};
    EXPECT_EQ(log.calls, expected);
}

TEST(ScopeToFirstList, CutsAtTheFirstOpeningAndTheLastClosing) {
    EXPECT_EQ(detail::ScopeToFirstList("a<DL x>b</dl>c</DL>d"), "b</dl>c");
    EXPECT_EQ(detail::ScopeToFirstList("a<dl>"), "");
    EXPECT_EQ(detail::ScopeToFirstList("a<dl b"), "<dl b");
    EXPECT_EQ(detail::ScopeToFirstList("a<dl>b"), "b");
    EXPECT_EQ(detail::ScopeToFirstList("</dl>a<dl>b"), "b");
}

} // namespace
} // namespace velmora
