// The Convert command against a window that only records what is asked of it, so that
// the order of every call can be checked.

#include "core/convert_command.h"
#include "core/convert_window.h"
#include "support/test_support.h"
#include "velmora/failure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::ui {
namespace {

using Lines = std::vector<std::string>;

const char* Name(Input input) {
    static const char* const names[] = {"FileIn", "FileOut", "Command1", "Command2", "Command3"};
    return names[static_cast<int>(input)];
}

std::string Number(float value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

class RecordingWindow final : public ConvertWindow {
public:
    std::string fileIn;
    std::string fileOut;
    mutable Lines calls;

    std::string GetPathText(PathBox box) const override {
        calls.push_back(box == PathBox::FileIn ? "GetPathText FileIn" : "GetPathText FileOut");
        return box == PathBox::FileIn ? fileIn : fileOut;
    }
    void SetInputEnabled(Input input, bool enabled) override {
        calls.push_back(std::string("SetInputEnabled ") + Name(input) + (enabled ? " on" : " off"));
    }
    void SetProgressVisible(bool visible) override {
        calls.push_back(visible ? "SetProgressVisible on" : "SetProgressVisible off");
    }
    void SetProgressMax(float max) override { calls.push_back("SetProgressMax " + Number(max)); }
    void SetProgressValue(float value) override {
        calls.push_back("SetProgressValue " + Number(value));
    }
    void SetStatusText(const std::string& text) override {
        calls.push_back("SetStatusText " + text);
    }
    void ShowMessage(const std::string& message, const std::string& title) override {
        calls.push_back("ShowMessage " + title + ": " + message);
    }
    void ShowFailure(const std::string& message, const std::string& title) override {
        calls.push_back("ShowFailure " + title + ": " + message);
    }
    void Beep() override { calls.push_back("Beep"); }
};

// A failure's box gives the reason in the system's words; the rows give Linux's.
std::string Words(std::string message) {
    for (const int error : {ENOENT, EISDIR}) {
        const std::string ours = ErrorText(error);
        if (const std::size_t at = message.find(ours); at != std::string::npos) {
            message.replace(at, ours.size(), SystemErrorText(error));
        }
    }
    return message;
}

Lines Inputs(const char* state) {
    Lines lines;
    for (const Input input : kInputs) {
        lines.push_back(std::string("SetInputEnabled ") + Name(input) + " " + state);
    }
    return lines;
}

Lines operator+(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Lines Tail(const Lines& lines, std::size_t count) {
    return Lines(lines.end() - static_cast<std::ptrdiff_t>(std::min(count, lines.size())),
                 lines.end());
}

class ConvertCommandTest : public testing::Test {
protected:
    ConvertCommandTest() {
        window.fileIn = dir.File("in.html");
        window.fileOut = dir.File("out.txt");
    }

    test::TempDir dir;
    RecordingWindow window;
};

TEST_F(ConvertCommandTest, ConvertsTheSmallestDocumentCallByCall) {
    test::WriteBytes(window.fileIn, "<dl><dt>Title</dt><dd>Value</dd></dl>");
    ConvertCommand(window);
    const Lines expected =
        Lines{"GetPathText FileIn", "SetProgressVisible on"} + Inputs("off") +
        Lines{"GetPathText FileOut", "SetProgressMax 28",   "SetProgressValue 4",
              "SetProgressValue 13", "SetProgressValue 12", "SetProgressValue 23",
              "SetProgressValue 28"} +
        Inputs("on") +
        Lines{"SetStatusText File Successfully Processed", "Beep", "SetProgressVisible off"};
    EXPECT_EQ(window.calls, expected);
    EXPECT_EQ(test::ReadBytes(window.fileOut), "\r\n  Title\r\n    Value");
}

TEST_F(ConvertCommandTest, EmptyInputBoxDoesNothing) {
    window.fileIn.clear();
    ConvertCommand(window);
    EXPECT_EQ(window.calls, Lines{"GetPathText FileIn"});
}

TEST_F(ConvertCommandTest, EmptyFileDoesNothing) {
    test::WriteBytes(window.fileIn, "");
    test::WriteBytes(window.fileOut, "earlier");
    ConvertCommand(window);
    EXPECT_EQ(window.calls, Lines{"GetPathText FileIn"});
    EXPECT_EQ(test::ReadBytes(window.fileOut), "earlier");
}

TEST_F(ConvertCommandTest, RefusedDocumentGetsTheMessageAlone) {
    test::WriteBytes(window.fileIn, "<dl><dt>zoak METADATA report\r\ngenerated</dt></dl>");
    ConvertCommand(window);
    const Lines expected{
        "GetPathText FileIn",
        "ShowMessage mVELMORA Error: ZOAK Metadata Generated HTML Reports Not Supported"};
    EXPECT_EQ(window.calls, expected);
    EXPECT_EQ(dir.Entries(), Lines{"in.html"});
}

// A box of spaces is a path like any other: it is tried, and fails as a file.
TEST_F(ConvertCommandTest, SpacesInTheInputBoxAreAPath) {
    window.fileIn = "   ";
    ConvertCommand(window);
    const Lines expected{
        "GetPathText FileIn", "SetStatusText Select File to Convert",
        Words("ShowFailure mVELMORA Error: Cannot read \"   \": No such file or directory.")};
    EXPECT_EQ(window.calls, expected);
}

TEST_F(ConvertCommandTest, UnreadableInputIsReportedBeforeAnythingChanges) {
    window.fileIn = dir.Path();
    ConvertCommand(window);
    const Lines expected{
        "GetPathText FileIn", "SetStatusText Select File to Convert",
        Words("ShowFailure mVELMORA Error: Cannot read \"" + dir.Path() + "\": Is a directory.")};
    EXPECT_EQ(window.calls, expected);
}

struct UnusableOutput {
    const char* name;
    const char* output; // under the test folder; "" names no file
    const char* message;
};

class ConvertCommandOutput : public ConvertCommandTest,
                             public testing::WithParamInterface<UnusableOutput> {};

// After a failed write the window is ready again, the status idle (never an earlier
// success), no beep sounds and nothing is left at the output path.
TEST_P(ConvertCommandOutput, UnusableOutputLeavesTheWindowReady) {
    const std::string output = GetParam().output;
    window.fileOut = output.empty() ? "" : dir.File(output);
    test::WriteBytes(window.fileIn, "<dl><dt>Title</dt></dl>");
    ConvertCommand(window);
    const auto from = std::find(window.calls.begin(), window.calls.end(), "GetPathText FileOut");
    std::string message = GetParam().message;
    if (const std::size_t at = message.find("%1"); at != std::string::npos) {
        message.replace(at, 2, dir.Path());
    }
    const Lines expected = Lines{"GetPathText FileOut"} + Inputs("on") +
                           Lines{"SetProgressVisible off", "SetStatusText Select File to Convert",
                                 Words("ShowFailure mVELMORA Error: " + message)};
    EXPECT_EQ(Lines(from, window.calls.end()), expected);
    EXPECT_EQ(dir.Entries(), Lines{"in.html"});
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ConvertCommandOutput,
    testing::Values(
        UnusableOutput{"InAMissingFolder", "missing/out.txt",
                       "Cannot write \"%1/missing/out.txt\": No such file or directory."},
        UnusableOutput{"AFolder", ".", "Cannot write \"%1/.\": Is a directory."},
        UnusableOutput{"Empty", "", "Cannot write: no output file was named."}),
    test::RowName());

struct SameFileRow {
    const char* name;
    const char* output;
};

class ConvertCommandSameFile : public ConvertCommandTest,
                               public testing::WithParamInterface<SameFileRow> {};

// The document would be lost: the command says so and leaves the window ready.
TEST_P(ConvertCommandSameFile, NeverWritesOverItsInput) {
    const std::string document = "<dl><dt>Title</dt></dl>";
    test::WriteBytes(window.fileIn, document);
    std::filesystem::create_directory(test::NativePath(dir.File("sub")));
    std::error_code hard;
    std::filesystem::create_hard_link(test::NativePath(window.fileIn),
                                      test::NativePath(dir.File("hard.txt")), hard);
    std::error_code soft;
    std::filesystem::create_symlink(test::NativePath(window.fileIn),
                                    test::NativePath(dir.File("soft.txt")), soft);
    const std::string output = GetParam().output;
    if ((output == "hard.txt" && hard) || (output == "soft.txt" && soft)) {
#ifdef _WIN32
        GTEST_SKIP() << "the file system makes no such link here";
#else
        FAIL() << "cannot make the link";
#endif
    }
    window.fileOut = dir.File(output);
    ConvertCommand(window);
    const Lines expected =
        Inputs("on") + Lines{"SetProgressVisible off", "SetStatusText Select File to Convert",
                             "ShowFailure mVELMORA Error: Cannot write \"" + window.fileOut +
                                 "\": it is the input file."};
    EXPECT_EQ(Tail(window.calls, 8), expected);
    EXPECT_EQ(test::ReadBytes(window.fileIn), document);
}

INSTANTIATE_TEST_SUITE_P(Outputs, ConvertCommandSameFile,
                         testing::Values(SameFileRow{"TheSamePath", "in.html"},
                                         SameFileRow{"TheSamePathWrittenAnotherWay",
                                                     "./sub/../in.html"},
                                         SameFileRow{"AHardLinkToIt", "hard.txt"},
                                         SameFileRow{"ASymbolicLinkToIt", "soft.txt"}),
                         test::RowName());

TEST_F(ConvertCommandTest, ProgressBindingPassesEveryCall) {
    ProgressBinding binding(window);
    binding.SetMax(10.0f);
    binding.SetMax(3.5f);
    binding.SetValue(99.0f);
    EXPECT_EQ(window.calls,
              (Lines{"SetProgressMax 10", "SetProgressMax 3.5", "SetProgressValue 99"}));
}

} // namespace
} // namespace velmora::ui
