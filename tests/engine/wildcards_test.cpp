// The command line as typed, its wildcards, and the text a console is given.

#include "support/test_support.h"
#include "velmora/wide_text.h"
#include "velmora/wildcards.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace velmora {
namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::pair<std::string, bool>> arguments; // text, pattern
    friend void PrintTo(const SplitCase& row, std::ostream* os) { *os << row.name; }
};

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, GivesTheArgumentsAndWhichArePatterns) {
    std::vector<std::pair<std::string, bool>> got;
    for (const Argument& argument : SplitCommandLine(GetParam().line)) {
        got.emplace_back(argument.text, argument.pattern);
    }
    EXPECT_EQ(got, GetParam().arguments);
#ifdef _WIN32
    // The words are the system's own.
    int count = 0;
    const std::wstring line = test::NativePath(GetParam().line).wstring();
    LPWSTR* wide = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_EQ(static_cast<std::size_t>(count), got.size());
    for (int i = 1; i < count; ++i) {
        EXPECT_EQ(test::Utf8(wide[i]), got[static_cast<std::size_t>(i)].first) << i;
    }
    LocalFree(wide);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    CommandLineToArgvRules, Split,
    testing::Values(
        SplitCase{"BareWildcardsArePatterns",
                  "conv.exe *.html a?.htm plain",
                  {{"conv.exe", false}, {"*.html", true}, {"a?.htm", true}, {"plain", false}}},
        SplitCase{"QuotedWildcardsAreNot",
                  "conv.exe \"*.html\" \"a b\"*.htm a\"*\"b",
                  {{"conv.exe", false}, {"*.html", false}, {"a b*.htm", true}, {"a*b", false}}},
        SplitCase{"ProgramNameInQuotesKeepsItsSpacesAndBackslashes",
                  "\"C:\\Program Files\\conv.exe\"  \t x\\\\y\\z",
                  {{"C:\\Program Files\\conv.exe", false}, {"x\\\\y\\z", false}}},
        SplitCase{"BackslashesBeforeAQuoteAreHalvedAndAnOddOneEscapesIt",
                  "c a\\\\\"b c\" d\\\"* e\\\\\\\"f",
                  {{"c", false}, {"a\\b c", false}, {"d\"*", true}, {"e\\\"f", false}}},
        SplitCase{"DoubledQuotesInQuotesAreAQuote",
                  "c \"\" \"a\"\"b",
                  {{"c", false}, {"", false}, {"a\"b", false}}},
        SplitCase{"NameAloneAndTrailingSpaces", "conv.exe   ", {{"conv.exe", false}}}),
    test::RowName());

struct MatchCase {
    const char* name;
    const char* pattern;
    const char* text;
    bool matches;
    friend void PrintTo(const MatchCase& row, std::ostream* os) { *os << row.name; }
};

class Match : public testing::TestWithParam<MatchCase> {};

TEST_P(Match, SaysWhetherTheNameMatches) {
    EXPECT_EQ(MatchesWildcard(GetParam().pattern, GetParam().text), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, Match,
    testing::Values(MatchCase{"StarTakesAnyRun", "*.html", "report.2024.html", true},
                    MatchCase{"StarTakesNothing", "a*b", "ab", true},
                    MatchCase{"ExtensionMustEndTheName", "*.htm", "a.html", false},
                    MatchCase{"StarsBacktrack", "*a*b*c", "xaybzacxb", false},
                    MatchCase{"StarsBacktrackToAMatch", "*a*b*c", "xaybzbc", true},
                    MatchCase{"QuestionMarkIsOneCharacterNotOneByte", "?t?.htm", "été.htm", true},
                    MatchCase{"QuestionMarkIsNotTwo", "?.htm", "ab.htm", false},
                    MatchCase{"QuestionMarkIsNotNone", "a?.htm", "a.htm", false},
                    MatchCase{"AsciiLettersAreCaseBlind", "*.HTML", "Report.html", true},
                    MatchCase{"OtherBytesMatchThemselves", "r\xc3\xa9*", "r\xc3\xa9sum\xc3\xa9",
                              true},
                    MatchCase{"BrokenSequenceIsACharacterOfItsOwn", "?x", "\xc3x", true},
                    MatchCase{"EmptyPatternMatchesOnlyEmpty", "", "a", false}),
    test::RowName());

// Folders and files under a fresh folder; a pattern is written under it.
struct ExpandCase {
    const char* name;
    std::string pattern;
    std::vector<std::string> matches; // under the folder; none for a failure
    std::string context = {};         // the failure's
    friend void PrintTo(const ExpandCase& row, std::ostream* os) { *os << row.name; }
};

class Expand : public testing::TestWithParam<ExpandCase> {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        const fs::path root = test::NativePath(m_dir.Path());
        for (const char* folder : {"d/x", "d/y", "d/z.htm", "e"}) {
            fs::create_directories(root / folder);
        }
        for (const char* file : {"b.htm", "A.htm", "c.html", "d/top.htm", "d/x/one.htm",
                                 "d/y/Two.HTM", "d/y/three.html", "e/.hidden.htm"}) {
            test::WriteBytes(m_dir.File(file), "");
        }
#ifdef _WIN32
        SetFileAttributesW((root / "e" / ".hidden.htm").c_str(), FILE_ATTRIBUTE_HIDDEN);
#endif
    }
    test::TempDir m_dir;
};

TEST_P(Expand, FindsTheFilesInOrder) {
    const ExpandCase& row = GetParam();
    const std::string base = m_dir.Path() + "/";
    const Result<std::vector<std::string>> found = ExpandWildcards(base + row.pattern);
    if (row.matches.empty()) {
        ASSERT_FALSE(found.has_value());
        EXPECT_EQ(found.error().path, base + row.pattern);
        EXPECT_EQ(found.error().context, row.context);
        return;
    }
    ASSERT_TRUE(found.has_value()) << found.error().context;
    std::vector<std::string> names;
    for (const std::string& path : *found) {
        ASSERT_TRUE(path.starts_with(base)) << path;
        names.push_back(path.substr(base.size()));
    }
    EXPECT_EQ(names, row.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Expand,
    testing::Values(
        ExpandCase{"FilesOnlySortedCaseBlind", "*.htm", {"A.htm", "b.htm"}},
        ExpandCase{
            "WildcardsInAFolderPartMatchFolders", "d/*/*.htm", {"d/x/one.htm", "d/y/Two.HTM"}},
        ExpandCase{"NamedLastPartIsLookedFor", "?//top.htm", {"d//top.htm"}},
        ExpandCase{"HiddenFilesArePassedOver", "e/*", {}, "no file matches it"},
        ExpandCase{"NoMatchIsAFailureNamingThePattern", "*.xml", {}, "no file matches it"},
        ExpandCase{"MissingFolderMatchesNothing", "none/*.htm", {}, "no file matches it"}),
    test::RowName());

struct WidenCase {
    const char* name;
    std::string utf8;
    std::size_t room;
    std::u16string wide;
    std::size_t taken;
    friend void PrintTo(const WidenCase& row, std::ostream* os) { *os << row.name; }
};

class Widen : public testing::TestWithParam<WidenCase> {};

TEST_P(Widen, GivesWholeCharactersThatFit) {
    const WidenCase& row = GetParam();
    std::u16string wide(row.room, u'\0');
    std::size_t made = 0;
    EXPECT_EQ(WidenUtf8(row.utf8, wide.data(), row.room, made), row.taken);
    EXPECT_EQ(wide.substr(0, made), row.wide);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8ToUtf16, Widen,
    testing::Values(WidenCase{"NamesInAnyScript", "r\xc3\xa9sum\xc3\xa9 \xc3\xb1 \xe9\x81\x93", 16,
                              u"résumé ñ 道", 15},
                    WidenCase{"BeyondTheBasicPlaneAPair", "\xf0\x9f\x93\x84", 4, u"\U0001F4C4", 4},
                    WidenCase{"APairThatDoesNotFitWaits", "a\xf0\x9f\x93\x84", 2, u"a", 1},
                    WidenCase{"StrayAndCutBytesAreReplacedOneByOne", "\x80x\xe9\x81", 8,
                              u"\ufffdx\ufffd\ufffd", 4},
                    WidenCase{"OverlongAndSurrogateFormsAreReplaced", "\xc0\xaf\xed\xa0\x80", 8,
                              u"\ufffd\ufffd\ufffd\ufffd\ufffd", 5}),
    test::RowName());

} // namespace
} // namespace velmora
