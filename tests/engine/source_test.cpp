#include "phases.h"
#include "scanner.h"
#include "steps.h"
#include "support/test_support.h"
#include "velmora/output_path.h"

#include <gtest/gtest.h>

#include "system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define pipe(ends) _pipe(ends, 1 << 16, _O_BINARY)
#else
#include <unistd.h>
#endif

namespace velmora {
namespace {

using namespace std::string_literals;

struct TextCase {
    const char* name;
    std::string input;
    std::string expected;
    friend void PrintTo(const TextCase& row, std::ostream* os) { *os << row.name; }
};

class Normalise : public testing::TestWithParam<TextCase> {};

TEST_P(Normalise, GivesTheFlattenedText) {
    test::ForEachKernelTable([](const char* path) {
        for (std::size_t shift = 0; shift <= test::kMaxShift; ++shift) {
            const std::string input = test::InFiller(GetParam().input, shift);
            const std::string expected = test::InFiller(GetParam().expected, shift);
            EXPECT_EQ(detail::NormaliseSource(input), expected)
                << "shifted by " << shift << ", " << path;
            // The first reading only counts what normalising drops, in the bytes as read.
            std::string buffer = std::string(detail::kRawHeadroom, '\0') + input;
            detail::RawScanner scanner;
            scanner.Feed(buffer.data() + detail::kRawHeadroom, input.size());
            EXPECT_EQ(scanner.ScopeLength(detail::DetectLineBreak(input)), expected.size())
                << "shifted by " << shift;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    LineBreaksAndSpaces, Normalise,
    testing::Values(
        TextCase{"OnlyCrLfPairsGoWhenTheTextHasOne", "a\r\nb\nc\rd", "a b\nc\rd"},
        TextCase{"LoneCrStaysWhenLfIsTheBreak", "a\nb\rc", "a b\rc"},
        TextCase{"CrAloneIsTheBreak", "a\rb", "a b"}, TextCase{"NoBreakLeavesTheText", "ab", "ab"},
        TextCase{"CrBeforeAPairStays", "a\r\r\nb", "a\r b"},
        TextCase{"LfBeforeAPairStays", "\n\r\nx", "\n x"},
        TextCase{"RunsOfTwoToFiveSpacesAreHalvedRoundingUp", "a  b   c    d     e",
                 "a b  c  d   e"},
        TextCase{"ThreeSpacesAloneBecomeTwo", "   ", "  "},
        TextCase{"ABreakBetweenSpacesLeavesTwo", "a \r\n b", "a  b"},
        TextCase{"BreaksNextToEachOtherAreHalvedToo", "a\n\n\nb", "a  b"},
        TextCase{"TabsAreNotSpaces", "a\t\t b", "a\t\t b"},
        TextCase{"NulAndHighBytesPassThrough", "a\0\xff\xc3\xa9  z"s, "a\0\xff\xc3\xa9 z"s},
        TextCase{"RunsLongerThanABlock",
                 "a" + std::string(67, ' ') + "\r\n\r\n" + std::string(65, ' ') + "b\r\r\nc",
                 "a" + std::string(67, ' ') + "b\r c"},
        TextCase{"BreaksAndSpacesInTurn",
                 [] {
                     std::string turns = "a";
                     for (int i = 0; i < 41; ++i) {
                         turns += "\n ";
                     }
                     return turns + "\rb";
                 }(),
                 "a" + std::string(41, ' ') + "\rb"}),
    test::RowName());

struct OutcomeCase {
    const char* name;
    std::string file;
    SourceOutcome expected;
    friend void PrintTo(const OutcomeCase& row, std::ostream* os) { *os << row.name; }
};

class Refusal : public testing::TestWithParam<OutcomeCase> {};

TEST_P(Refusal, ClassifiesTheFile) {
    // Filler around no text at all would make it text: the empty row runs only as written.
    const std::size_t shifts = GetParam().file.empty() ? 0 : test::kMaxShift;
    for (std::size_t shift = 0; shift <= shifts; ++shift) {
        const std::string file = test::InFiller(GetParam().file, shift);
        EXPECT_EQ(PrepareSourceText(file).outcome, GetParam().expected) << "shifted by " << shift;
        // The whole conversion looks for the phrase in the bytes as read.
        std::string output;
        NoProgress none;
        Result<SourceOutcome> converted = ConvertText(file, output, none);
        ASSERT_TRUE(converted.has_value());
        EXPECT_EQ(converted.value(), GetParam().expected) << "shifted by " << shift;
        // And in the normalised text, in a single reading.
        converted = detail::ConvertTextInPieces(file, output, none, 7, 0, true);
        ASSERT_TRUE(converted.has_value());
        EXPECT_EQ(converted.value(), GetParam().expected) << "one reading, shifted by " << shift;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PhraseAcrossCaseAndBreaks, Refusal,
    testing::Values(
        OutcomeCase{"Capitals", "x ZOAK METADATA REPORT GENERATED y", SourceOutcome::Refused},
        OutcomeCase{"MixedCaseInAComment", "<!-- Zoak MetaData rePort Generated -->",
                    SourceOutcome::Refused},
        OutcomeCase{"LfBetweenSecondAndThirdWords", "zoak metadata\nreport generated",
                    SourceOutcome::Refused},
        OutcomeCase{"CrLfBetweenWords", "zoak\r\nmetadata report generated",
                    SourceOutcome::Refused},
        OutcomeCase{"TwoSpacesAfterTheFirstWord", "zoak  metadata report generated",
                    SourceOutcome::Refused},
        OutcomeCase{"SpaceBreakSpaceLeavesTwoSpaces", "zoak metadata \r\n report generated",
                    SourceOutcome::Accepted},
        OutcomeCase{"ThreeSpacesLeaveTwo", "zoak metadata   report generated",
                    SourceOutcome::Accepted},
        OutcomeCase{"TabIsNoSpace", "zoak\tmetadata report generated", SourceOutcome::Accepted},
        OutcomeCase{"LoneLfInACrLfFileStays", "a\r\nzoak metadata\nreport generated",
                    SourceOutcome::Accepted},
        OutcomeCase{"PhraseCutShort", "zoak metadata report generate", SourceOutcome::Accepted},
        OutcomeCase{"CrAloneBreaksTheLines", "zoak\rmetadata\r\rreport generated",
                    SourceOutcome::Refused},
        OutcomeCase{"ThreeCrLfLeaveTwoSpaces", "zoak\r\n\r\n\r\nmetadata report generated",
                    SourceOutcome::Accepted},
        OutcomeCase{"OnlySpaces", "   ", SourceOutcome::Accepted},
        OutcomeCase{"NothingAtAll", "", SourceOutcome::Empty}),
    test::RowName());

// A single reading takes the line break from the first piece that holds one, rewrites as
// though the scope ran from the text's start to its end, and cuts the output back to the
// last "</dl>": each row, cut into pieces of every small size and assembled on this thread
// or another, and read once from a pipe, gives what the two readings give. A later line
// break of another kind sends it back to two readings, from a copy of what the pipe gave.
struct OneReadingCase {
    const char* name;
    std::string file;
    friend void PrintTo(const OneReadingCase& row, std::ostream* os) { *os << row.name; }
};

class OneReading : public testing::TestWithParam<OneReadingCase> {};

TEST_P(OneReading, GivesWhatTwoReadingsGive) {
    const std::string& file = GetParam().file;
    std::string expected;
    NoProgress none;
    const Result<SourceOutcome> outcome = ConvertText(file, expected, none);
    ASSERT_TRUE(outcome.has_value());
    // Every size up to 160 for a short row, a few large ones for a long one; a thread of
    // its own for the assembly at a few of them, as starting one costs much under Wine.
    std::vector<std::size_t> sizes = {4096, 65536, file.size() + 1};
    for (std::size_t size = 1;
         size <= std::min<std::size_t>(file.size() < 1000 ? 160 : 0, file.size()); ++size) {
        sizes.push_back(size);
    }
    test::ForEachKernelTable([&](const char* kernels) {
        for (const std::size_t size : sizes) {
            const bool threads = size % 16 == 1 || size >= 4096;
            for (const std::size_t twoThreadsFrom :
                 {static_cast<std::size_t>(-1), std::size_t{0}}) {
                if (twoThreadsFrom == 0 && !threads) {
                    continue;
                }
                std::string output;
                const Result<SourceOutcome> once =
                    detail::ConvertTextInPieces(file, output, none, size, twoThreadsFrom, true);
                ASSERT_TRUE(once.has_value()) << kernels << ", pieces of " << size;
                ASSERT_EQ(once.value(), outcome.value()) << kernels << ", pieces of " << size;
                ASSERT_EQ(output, expected) << kernels << ", pieces of " << size;
            }
        }
    });
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        for (std::size_t done = 0; done < file.size();) {
            const auto put =
                write(ends[1], file.data() + done, static_cast<unsigned>(file.size() - done));
            if (put <= 0) {
                break;
            }
            done += static_cast<std::size_t>(put);
        }
        close(ends[1]);
    });
    std::string piped;
    const Result<SourceOutcome> streamed =
        Convert(Source::Stream(ends[0], "pipe"),
                Destination::Writer(
                    [&](std::string_view piece) { return piped.append(piece), true; }, "text"),
                none);
    writer.join();
    close(ends[0]);
    ASSERT_TRUE(streamed.has_value()) << Describe(streamed.error());
    EXPECT_EQ(streamed.value(), outcome.value());
    EXPECT_EQ(piped, outcome.value() == SourceOutcome::Accepted ? expected : "");
}

INSTANTIATE_TEST_SUITE_P(
    Convert, OneReading,
    testing::Values(
        OneReadingCase{"LfThenCrLf", "<dl>\n<dt>a  b</dt>\n\n<dt>c</dt>\r\n<dd>d\r\ne</dd></dl>"},
        OneReadingCase{"CrThenLf", "<dl>\r<dt>a \r b</dt>\n<dd>c\r\rd</dd></dl>"},
        OneReadingCase{"CrThenCrLf", "x\r<dl><dt>a\r\r b</dt><dd>c\r\nd</dd></dl>"},
        OneReadingCase{"NoBreakUntilLate", "<dl><dt>a  b</dt><dd>c d</dd>\r\n\r\n</dl>"},
        OneReadingCase{"ContradictedAfterTheFirstPieceOfAPipe",
                       "<dl>\n" + test::Repeat("<dt>a  b</dt>\n", 30000) + "<dd>c</dd>\r\n</dl>"},
        OneReadingCase{"TextAndTagsAfterTheLastListEnd",
                       "<DL><dt>a</dt></dl>b c<dd>d</dd>\r\n<dt>e</dt></dL>f<dt>g h"},
        OneReadingCase{"ListEndInsideATag", "<dl><dt>ab cd<a </dl> href=x>e</dt>fg"},
        OneReadingCase{"ListEndInALongLine",
                       "<dl><dd>" + test::Repeat("ab </dl>&gt;", 5000) + "cd</dd></dl>ef"},
        OneReadingCase{"ListEndWithinTheOpeningTag", "ab<dl</dl>cd<dt>ef</dt>"},
        OneReadingCase{"OpeningTagNeverClosed", "<dt>ab</dt><dl class=x <dt>cd</dt>"},
        OneReadingCase{"NoListAtAll", "<dt>ab</dt>\n<dd>cd</dd><p>ef gh"},
        OneReadingCase{"PhraseAfterTheLastListEnd",
                       "<dl><dt>ab</dt></dl>zoak metadata\nreport generated"},
        OneReadingCase{"PhraseBeforeTheList", "zoak metadata report generated<dl><dt>ab</dt></dl>"},
        OneReadingCase{"NothingAtAll", ""}),
    test::RowName());

TEST(PrepareSource, ReadsTheFileAndNormalisesIt) {
    test::TempDir dir;
    test::WriteBytes(dir.File("spaces.html"), "   ");
    Result<PreparedSource> spaces = PrepareSource(dir.File("spaces.html"));
    ASSERT_TRUE(spaces.has_value());
    EXPECT_EQ(spaces.value().outcome, SourceOutcome::Accepted);
    EXPECT_EQ(spaces.value().text, "  ");

    test::WriteBytes(dir.File("empty.html"), "");
    Result<PreparedSource> empty = PrepareSource(dir.File("empty.html"));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty.value().outcome, SourceOutcome::Empty);
}

TEST(ReadSourceFile, KeepsEveryByteValue) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    test::TempDir dir;
    test::WriteBytes(dir.File("bytes"), all);
    Result<std::string> read = ReadSourceFile(dir.File("bytes"));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read.value(), all);
}

TEST(ReadSourceFile, NamesThePathAndTheReasonWhenItCannotRead) {
    test::TempDir dir;
    Result<std::string> missing = ReadSourceFile(dir.File("missing.html"));
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(Describe(missing.error()),
              "cannot read \"" + dir.File("missing.html") + "\": No such file or directory");

    Result<std::string> folder = ReadSourceFile(dir.Path());
    ASSERT_FALSE(folder.has_value());
    EXPECT_EQ(folder.error().path, dir.Path());
    EXPECT_EQ(folder.error().Reason(), "Is a directory");
}

// A failure is its code until it is told: the same words on every system, with the
// context first where there is one.
TEST(Failure, ReasonsReadAlikeOnEverySystem) {
    const struct {
        Failure failure;
        const char* line;
    } rows[] = {
        {{Action::Read, "in.html", {}, ENOENT},
         "cannot read \"in.html\": No such file or directory"},
        {{Action::Write, "o", {}, ENOSPC}, "cannot write \"o\": No space left on device"},
        {{Action::Convert, {}, {}, ENOMEM}, "cannot convert: not enough memory"},
        {{Action::Read, "-", "no temporary file to hold it", EROFS},
         "cannot read \"-\": no temporary file to hold it: Read-only file system"},
        {{Action::Write, {}, "no output file was named", 0},
         "cannot write: no output file was named"},
        {{Action::Write, "o", {}, ENOMEM}, "cannot write \"o\": not enough memory"},
        {{Action::Write, "o", {}, EOPNOTSUPP}, "cannot write \"o\": Operation not supported"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Describe(row.failure), row.line);
    }
    // Linux's own words, out of memory apart; Windows's C library words them otherwise.
    const bool windows = PathSeparators().find('\\') != std::string_view::npos;
    for (int error = 1; error < 134 && !windows; ++error) {
        if (error != ENOMEM) {
            const std::string ours = ErrorText(error); // strerror may reuse its buffer
            EXPECT_EQ(ours, std::strerror(error)) << error;
        }
    }
}

// The window tells a failure in the system's own words, in the same sentence: Linux's
// are those above; Windows gives its own (Wine words them more shortly).
TEST(Failure, SystemWordsAreTheSystemsOwn) {
    const struct {
        int error;
        const char* windows;
        const char* wine;
    } rows[] = {
        {ENOENT, "The system cannot find the file specified", "File not found"},
        {ENOTDIR, "The system cannot find the path specified", "Path not found"},
        {EACCES, "Access is denied", "Access denied"},
        {ENOSPC, "There is not enough space on the disk", "Disk full"},
    };
    const bool windows = PathSeparators().find('\\') != std::string_view::npos;
    for (const auto& row : rows) {
        const std::string words = SystemErrorText(row.error);
        if (windows) {
            EXPECT_TRUE(words == row.windows || words == row.wine) << words;
        } else {
            EXPECT_EQ(words, ErrorText(row.error));
        }
        EXPECT_EQ(Describe({Action::Read, "in.html", {}, row.error}, Wording::System),
                  "cannot read \"in.html\": " + words);
    }
}

TEST(ReadSourceStream, ReadsAPipeToItsEnd) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    // Several pipe buffers, and more than the reader's own pieces, so that both split it.
    std::string sent(9u << 20, 'x');
    for (std::size_t i = 0; i < sent.size(); i += 4093) {
        sent[i] = static_cast<char>('a' + i % 26);
    }
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < sent.size()) {
            const auto put =
                write(ends[1], sent.data() + done, static_cast<unsigned>(sent.size() - done));
            if (put <= 0) {
                break;
            }
            done += static_cast<std::size_t>(put);
        }
        close(ends[1]);
    });
    Result<std::string> read = ReadSourceStream(ends[0], "pipe");
    writer.join();
    close(ends[0]);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read.value(), sent);
}

// Positions and sizes past 4 GiB: a sparse file of 4 GiB and 100 bytes is read to its
// last byte, not taken for its first 100.
TEST(InputFile, ReadsPastFourGigabytes) {
    test::TempDir dir;
    const std::string path = dir.File("sparse");
    const std::uint64_t hole = std::uint64_t{4} << 30;
    const std::string tail(100, 'e');
    { std::ofstream file(test::NativePath(path), std::ios::binary); }
#ifdef _WIN32
    const HANDLE handle = CreateFileW(test::NativePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    DWORD ignored = 0;
    DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    CloseHandle(handle);
#endif
    std::filesystem::resize_file(test::NativePath(path), hole);
    std::ofstream(test::NativePath(path), std::ios::binary | std::ios::app) << tail;
    ASSERT_EQ(std::filesystem::file_size(test::NativePath(path)), hole + tail.size());

    Result<sys::InputFile> file = sys::InputFile::Open(path);
    ASSERT_TRUE(file.has_value());
    const std::size_t size = std::size_t{1} << 20;
    std::unique_ptr<char[]> buffer(new char[size]);
    std::uint64_t total = 0;
    std::string last;
    for (;;) {
        Result<std::size_t> got = file.value().Read(buffer.get(), size);
        ASSERT_TRUE(got.has_value());
        if (got.value() == 0) {
            break;
        }
        total += got.value();
        last.assign(buffer.get() + got.value() - std::min(got.value(), tail.size()),
                    std::min(got.value(), tail.size()));
    }
    EXPECT_EQ(total, hole + tail.size());
    EXPECT_EQ(last, tail);
}

} // namespace
} // namespace velmora
