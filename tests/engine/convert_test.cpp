#include "engine/assemble.h"
#include "engine/convert.h"
#include "engine/output_path.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora {
namespace {

using Calls = std::vector<std::pair<char, float>>;

TEST(ConvertFile, SmallestDocumentByteForByteWithItsProgress) {
    test::TempDir dir;
    test::WriteBytes(dir.File("in.html"), "<dl><dt>Title</dt><dd>Value</dd></dl>");
    test::ProgressLog log;
    Result<SourceOutcome> outcome = ConvertFile(dir.File("in.html"), dir.File("out.txt"), log);
    ASSERT_TRUE(outcome.Ok());
    EXPECT_EQ(outcome.Value(), SourceOutcome::Accepted);
    EXPECT_EQ(test::ReadBytes(dir.File("out.txt")), "\r\n  Title\r\n    Value");
    const Calls expected{{'M', 28}, {'V', 4}, {'V', 13}, {'V', 12}, {'V', 23}, {'V', 28}};
    EXPECT_EQ(log.calls, expected);
}

TEST(ConvertFile, RealisticReportMatchesItsGoldenText) {
    test::TempDir dir;
    const std::string data = VELMORA_TEST_DATA;
    NoProgress none;
    Result<SourceOutcome> outcome =
        ConvertFile(data + "/roads_report.html", dir.File("out.txt"), none);
    ASSERT_TRUE(outcome.Ok());
    EXPECT_EQ(test::ReadBytes(dir.File("out.txt")), test::ReadBytes(data + "/roads_report.txt"));
}

TEST(ConvertFile, EmptyAndRefusedInputsLeaveTheOutputAlone) {
    test::TempDir dir;
    test::WriteBytes(dir.File("out.txt"), "earlier");
    test::WriteBytes(dir.File("empty.html"), "");
    test::WriteBytes(dir.File("zoak.html"), "<dl><dt>ZOAK Metadata\nReport Generated</dt></dl>");
    NoProgress none;
    Result<SourceOutcome> empty = ConvertFile(dir.File("empty.html"), dir.File("out.txt"), none);
    Result<SourceOutcome> refused = ConvertFile(dir.File("zoak.html"), dir.File("out.txt"), none);
    ASSERT_TRUE(empty.Ok());
    ASSERT_TRUE(refused.Ok());
    EXPECT_EQ(empty.Value(), SourceOutcome::Empty);
    EXPECT_EQ(refused.Value(), SourceOutcome::Refused);
    EXPECT_EQ(test::ReadBytes(dir.File("out.txt")), "earlier");
}

TEST(ConvertFile, OutputOverTheInputReplacesIt) {
    test::TempDir dir;
    test::WriteBytes(dir.File("doc"), "<dl><dt>Title</dt></dl>");
    NoProgress none;
    ASSERT_TRUE(ConvertFile(dir.File("doc"), dir.File("doc"), none).Ok());
    EXPECT_EQ(test::ReadBytes(dir.File("doc")), "\r\n  Title");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"doc"});
}

TEST(WriteOutputFile, ReplacesALongerFileWhole) {
    test::TempDir dir;
    test::WriteBytes(dir.File("out.txt"), std::string(1000, 'x'));
    ASSERT_TRUE(WriteOutputFile(dir.File("out.txt"), "short").Ok());
    EXPECT_EQ(test::ReadBytes(dir.File("out.txt")), "short");
    ASSERT_TRUE(WriteOutputFile(dir.File("out.txt"), "").Ok());
    EXPECT_EQ(test::ReadBytes(dir.File("out.txt")), "");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.txt"});
}

TEST(WriteOutputFile, NewFileGetsTheUsualPermissions) {
    test::TempDir dir;
    const mode_t old = umask(027);
    Result<void> written = WriteOutputFile(dir.File("out.txt"), "text");
    umask(old);
    ASSERT_TRUE(written.Ok());
    struct stat info {};
    ASSERT_EQ(stat(dir.File("out.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

struct UnusablePath {
    const char* name;
    const char* relative; // under the test folder; "" names no file at all
    const char* reason;
    friend void PrintTo(const UnusablePath& row, std::ostream* os) { *os << row.name; }
};

class WriteOutputFileFails : public testing::TestWithParam<UnusablePath> {};

TEST_P(WriteOutputFileFails, NamesThePathAndTheReason) {
    test::TempDir dir;
    test::WriteBytes(dir.File("file"), "kept");
    const std::string relative = GetParam().relative;
    const std::string path = relative.empty() ? "" : dir.File(relative);
    Result<void> written = WriteOutputFile(path, "text");
    ASSERT_FALSE(written.Ok());
    EXPECT_EQ(written.GetFailure().action, "cannot write");
    EXPECT_EQ(written.GetFailure().path, path);
    EXPECT_EQ(written.GetFailure().reason, GetParam().reason);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"file"});
    EXPECT_EQ(test::ReadBytes(dir.File("file")), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WriteOutputFileFails,
    testing::Values(UnusablePath{"Empty", "", "no output file was named"},
                    UnusablePath{"Folder", ".", "Is a directory"},
                    UnusablePath{"InMissingFolder", "missing/out.txt", "No such file or directory"},
                    UnusablePath{"UnderAFile", "file/out.txt", "Not a directory"}),
    test::RowName());

// A write cut short by the file-size limit must leave the earlier output byte for byte
// and no temporary file. Run in a child so the limit binds nobody else; permission
// bits would prove nothing when the tests run as root.
TEST(WriteOutputFile, FailedWriteLeavesTheOldFileAndNoTemporary) {
    test::TempDir dir;
    const std::string old = "the earlier output, which must survive";
    test::WriteBytes(dir.File("out.txt"), old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        Result<void> written = WriteOutputFile(dir.File("out.txt"), std::string(100000, 'n'));
        const bool reported = !written.Ok() && written.GetFailure().reason == "File too large" &&
                              written.GetFailure().path == dir.File("out.txt");
        _exit(reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failure was not reported as File too large";
    EXPECT_EQ(test::ReadBytes(dir.File("out.txt")), old);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.txt"});
}

TEST(ConvertFile, FailuresNameTheFile) {
    test::TempDir dir;
    NoProgress none;
    Result<SourceOutcome> missing = ConvertFile(dir.File("none.html"), dir.File("o.txt"), none);
    ASSERT_FALSE(missing.Ok());
    EXPECT_EQ(missing.GetFailure().path, dir.File("none.html"));

    test::WriteBytes(dir.File("in.html"), "<dl><dt>Title</dt></dl>");
    Result<SourceOutcome> folder = ConvertFile(dir.File("in.html"), dir.Path(), none);
    ASSERT_FALSE(folder.Ok());
    EXPECT_EQ(Describe(folder.GetFailure()),
              "cannot write \"" + dir.Path() + "\": Is a directory");
}

// The whole table of cases is run through the Browse button's tests; here, the rule as
// the command-line converter meets it.
TEST(ProposeOutputPath, ReplacesWhateverFollowsTheLastDot) {
    EXPECT_EQ(ProposeOutputPath("/home/me/site/index.html"), "/home/me/site/index.txt");
    EXPECT_EQ(ProposeOutputPath("/home/me/v1.2/README"), "/home/me/v1.txt");
    EXPECT_EQ(ProposeOutputPath("notes"), "notes.txt");
}

} // namespace
} // namespace velmora
