// Inputs that are quadratic for a converter that restarts its searches from the front
// of the text after every replacement. Each must finish well inside the ctest timeout.

#include "phases.h"
#include "support/test_support.h"
#include "velmora/convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velmora {
namespace {

using test::Repeat;

std::size_t Lines(const std::string& output) {
    return static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n'));
}

TEST(Hostile, HundredsOfThousandsOfTags) {
    const std::string input =
        "<DL>\r\n" + Repeat("<DT>term</DT>\r\n<DD>definition <b>bold</b></DD>\r\n", 100000) +
        "</DL>";
    std::string output;
    test::ProgressLog log;
    Result<SourceOutcome> outcome = ConvertText(input, output, log);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(Lines(output), 200000u);
    EXPECT_EQ(log.calls.size(), 1u + 600000u + 1u);
}

TEST(Hostile, MillionClosingBracketsBeforeOneTag) {
    const std::string input = "<dl>" + std::string(1000000, '>') + "<dt>x y</dt></dl>";
    std::string output;
    NoProgress none;
    ASSERT_TRUE(ConvertText(input, output, none).has_value());
    EXPECT_EQ(output, "\r\n" + std::string(1000000, '>') + "\r\n  x y");
}

TEST(Hostile, MillionOpeningBracketsWithNoClosing) {
    std::string output;
    NoProgress none;
    ASSERT_TRUE(ConvertText("<dl>ab" + Repeat("a<", 1000000), output, none).has_value());
    EXPECT_EQ(output, "\r\naba");
}

TEST(Hostile, DeepNesting) {
    const std::size_t depth = 3000;
    const std::string input = Repeat("<dl><dt>term</dt><dd>", depth) + Repeat("</dd></dl>", depth);
    std::string output;
    NoProgress none;
    ASSERT_TRUE(ConvertText(input, output, none).has_value());
    // Every definition holds only the next list, so only the terms make lines, each
    // two spaces deeper than the last.
    EXPECT_EQ(Lines(output), depth);
    EXPECT_EQ(output.substr(output.size() - 4 - 2 * depth), std::string(2 * depth, ' ') + "term");
}

// Lists nested 400,000 deep around one term: the definitions that only open the next
// list would write 160 billion markers that no line shows; the one line has 800,000.
TEST(Hostile, NestingDeeperThanAnyLineShows) {
    const std::size_t depth = 400000;
    const std::string input =
        Repeat("<DL><DD>", depth) + "<DT>b</DT>" + Repeat("</DD></DL>", depth);
    const std::string expected = std::string("\r\n").append(2 * depth, ' ') + "b";
    std::string output;
    NoProgress none;
    ASSERT_TRUE(ConvertText(input, output, none).has_value());
    EXPECT_EQ(output, expected);
    test::TempDir dir;
    test::WriteBytes(dir.File("deep.html"), input);
    ASSERT_TRUE(ConvertFile(dir.File("deep.html"), dir.File("deep.txt"), none).has_value());
    EXPECT_EQ(test::ReadBytes(dir.File("deep.txt")), expected);
}

// Filler outside the list is dropped, so these run shifted as well.
TEST(Hostile, LongRunsOfSpacesAndBreaks) {
    const std::string input = "<dl><dt>a" + Repeat(" \r\n", 2000000) + "b</dl>";
    for (std::size_t shift = 0; shift <= test::kMaxShift; ++shift) {
        std::string output;
        NoProgress none;
        ASSERT_TRUE(ConvertText(test::InFiller(input, shift), output, none).has_value());
        // 4,000,000 spaces in a row after the breaks are replaced, halved once.
        EXPECT_EQ(output, "\r\n  a" + std::string(2000000, ' ') + "b") << "shifted by " << shift;
    }
}

TEST(Hostile, NearMissesOfTheRefusalPhraseAndListTags) {
    const std::string input =
        Repeat("zoak metadata report generatex", 200000) + "<dl>" + Repeat("</dlx", 200000);
    for (std::size_t shift = 0; shift <= test::kMaxShift; ++shift) {
        const std::string shifted = test::InFiller(input, shift);
        EXPECT_EQ(PrepareSourceText(shifted).outcome, SourceOutcome::Accepted);
        std::string output;
        NoProgress none;
        ASSERT_TRUE(ConvertText(shifted, output, none).has_value());
        EXPECT_EQ(output, "") << "shifted by " << shift;
    }
}

// Lists nested deeper than the text is long repeat their markers on every line: a few
// megabytes of input can ask for more output than the machine has memory. That must end
// in a reported failure, not in the system killing the process.
TEST(Hostile, OutputLargerThanMemoryIsAFailure) {
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    const auto memory = static_cast<double>(status.ullTotalPhys);
#else
    const double memory =
        static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
#endif
    // 2 * depth * terms markers: twice the machine's memory.
    const auto depth = static_cast<std::size_t>(std::sqrt(memory)) + 1;
    const std::string input = Repeat("<dl>", depth) + Repeat("<dt>ab", depth);
    std::string output;
    test::ProgressLog log;
    Result<SourceOutcome> outcome = ConvertText(input, output, log);
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().Reason(), "not enough memory");
    EXPECT_EQ(output, "");
}

// About 2 GB of markers from 100 KB of input, under a limit of 512 MB: true when that
// is reported as running out of memory.
[[maybe_unused]] bool TwoGigabytesFailUnderTheLimit() {
    const std::string input = Repeat("<dl>", 10000) + Repeat("<dt>ab", 100000);
    std::string output;
    NoProgress none;
    Result<SourceOutcome> outcome = ConvertText(input, output, none);
    return !outcome.has_value() && outcome.error().Reason() == "not enough memory";
}

#ifdef _WIN32
// The same when memory runs out below the machine's size, here under the limit of a job
// object the test's process is put in for the while.
TEST(Hostile, RunningOutOfMemoryIsAFailure) {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = std::size_t{512} << 20;
    ASSERT_TRUE(
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));
    ASSERT_TRUE(AssignProcessToJobObject(job, GetCurrentProcess()));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION seen{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &seen, sizeof seen,
                                   nullptr) ||
        seen.ProcessMemoryLimit != limits.ProcessMemoryLimit) {
        CloseHandle(job);
        GTEST_SKIP() << "the system does not tell a process its job's memory limit (Wine does not)";
    }
    const bool reported = TwoGigabytesFailUnderTheLimit();
    limits.BasicLimitInformation.LimitFlags = 0;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    CloseHandle(job);
    EXPECT_TRUE(reported) << "the conversion did not report running out of memory";
}
#elif !defined(__SANITIZE_ADDRESS__)
// The same when memory runs out below the machine's size, here under an address-space
// limit set in a child process so that it binds nobody else.
TEST(Hostile, RunningOutOfMemoryIsAFailure) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{512u << 20, 512u << 20};
        setrlimit(RLIMIT_AS, &limit);
        _exit(TwoGigabytesFailUnderTheLimit() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the conversion crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the conversion did not report running out of memory";
}
#endif

} // namespace
} // namespace velmora
