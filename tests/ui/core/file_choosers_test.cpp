// The two Browse buttons' steps against a scripted dialog, and the drop rules that
// fill the same boxes.

#include "scripted_dialog.h"
#include "support/test_support.h"
#include "ui/core/drop.h"
#include "ui/core/file_choosers.h"
#include "ui/core/texts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora::ui {
namespace {

using Lines = std::vector<std::string>;

class RecordingWindow final : public ChooserWindow {
public:
    std::string fileIn = "typed-in.html";
    std::string fileOut = "typed-out.txt";
    std::string status = kSuccessStatus;

    std::string GetPathText(PathBox box) const override {
        return box == PathBox::FileIn ? fileIn : fileOut;
    }
    void SetPathText(PathBox box, const std::string& text) override {
        (box == PathBox::FileIn ? fileIn : fileOut) = text;
    }
    void SetStatusText(const std::string& text) override { status = text; }
};

TEST(FileChoosers, FiltersAreEachChoosersEntryThenEveryFile) {
    EXPECT_EQ(kInputFilter, "HTML (*.htm, *.html)|*.htm;*.html|All Files (*.*)|*.*");
    EXPECT_EQ(kOutputFilter, "Text (*.txt)|*.txt|All Files (*.*)|*.*");
}

TEST(FileChoosers, InputChosenFillsBothBoxes) {
    RecordingWindow window;
    test::ScriptedDialog dialog;
    dialog.nextChoice = "/data/report.html";
    Command2Click(window, dialog);
    EXPECT_EQ(window.status, kIdleStatus);
    EXPECT_EQ(window.fileIn, "/data/report.html");
    EXPECT_EQ(window.fileOut, "/data/report.txt"); // the typed output is replaced
    EXPECT_EQ(dialog.calls,
              (Lines{"SetFilter " + kInputFilter, "SetCancelError true", "ShowOpen on "}));
}

TEST(FileChoosers, OutputChosenFillsOnlyItsBox) {
    RecordingWindow window;
    test::ScriptedDialog dialog;
    dialog.nextChoice = "/data/new.txt";
    Command3Click(window, dialog);
    EXPECT_EQ(window.status, kIdleStatus);
    EXPECT_EQ(window.fileIn, "typed-in.html");
    EXPECT_EQ(window.fileOut, "/data/new.txt");
    EXPECT_EQ(dialog.calls.front(), "SetFilter " + kOutputFilter);
}

// The dialog's file name passes from one button to the other: confirming the output
// dialog at once puts the input's own path in FileOut.
TEST(FileChoosers, OutputDialogOpensOnTheInputChosen) {
    RecordingWindow window;
    test::ScriptedDialog dialog;
    dialog.nextChoice = "/data/report.html";
    Command2Click(window, dialog);
    Command3Click(window, dialog);
    EXPECT_EQ(dialog.calls.back(), "ShowOpen on /data/report.html");
    EXPECT_EQ(window.fileOut, "/data/report.html");
}

struct Failing {
    std::string name;
    bool input;
    std::string failAt; // "" for a cancel
};

std::vector<Failing> FailingRows() {
    std::vector<Failing> rows;
    for (const bool input : {true, false}) {
        const std::string chooser = input ? "Input" : "Output";
        rows.push_back({chooser + "Cancelled", input, ""});
        for (const char* step : {"SetFilter", "SetCancelError", "ShowOpen", "FileName"}) {
            rows.push_back({chooser + "FailingAt" + step, input, step});
        }
    }
    return rows;
}

class FileChoosersFailing : public testing::TestWithParam<Failing> {};

// Whatever fails, the click ends without a word: the status was reset first, and the
// boxes keep what they held.
TEST_P(FileChoosersFailing, EndsQuietly) {
    RecordingWindow window;
    test::ScriptedDialog dialog;
    dialog.failAt = GetParam().failAt;
    dialog.nextChoice = GetParam().failAt.empty() ? "" : "/data/chosen.html";
    GetParam().input ? Command2Click(window, dialog) : Command3Click(window, dialog);
    EXPECT_EQ(window.status, kIdleStatus);
    EXPECT_EQ(window.fileIn, "typed-in.html");
    EXPECT_EQ(window.fileOut, "typed-out.txt");
}

INSTANTIATE_TEST_SUITE_P(Steps, FileChoosersFailing, testing::ValuesIn(FailingRows()),
                         velmora::test::RowName());

struct Proposal {
    const char* name;
    const char* chosen;
    const char* proposed;
};

class FileChoosersProposal : public testing::TestWithParam<Proposal> {};

TEST_P(FileChoosersProposal, ProposesTheOutputPath) {
    RecordingWindow window;
    test::ScriptedDialog dialog;
    dialog.nextChoice = GetParam().chosen;
    Command2Click(window, dialog);
    EXPECT_EQ(window.fileOut, GetParam().proposed);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FileChoosersProposal,
    testing::Values(Proposal{"Html", "C:\\data\\report.html", "C:\\data\\report.txt"},
                    Proposal{"UpperCaseExtension", "C:\\data\\REPORT.HTM", "C:\\data\\REPORT.txt"},
                    Proposal{"TwoDots", "C:\\data\\a.b.htm", "C:\\data\\a.b.txt"},
                    Proposal{"NoDot", "C:\\data\\report", "C:\\data\\report.txt"},
                    Proposal{"TrailingDot", "C:\\data\\report.", "C:\\data\\report.txt"},
                    Proposal{"DotInAFolder", "C:\\data.old\\report", "C:\\data.txt"},
                    Proposal{"AlreadyText", "C:\\data\\notes.txt", "C:\\data\\notes.txt"},
                    Proposal{"BeyondAscii",
                             "/donn\xc3\xa9"
                             "es/caf\xc3\xa9.html",
                             "/donn\xc3\xa9"
                             "es/caf\xc3\xa9.txt"}),
    velmora::test::RowName());

struct Drop {
    const char* name;
    std::vector<DraggedItem> items;
    std::optional<PathBox> onBox; // nullopt: the window or any other control
    bool accepted;
    const char* fileIn;
    const char* fileOut;
};

class Drops : public testing::TestWithParam<Drop> {};

// One local file is taken, on FileOut as the output and anywhere else as the input with
// its proposal; anything else is refused and changes nothing.
TEST_P(Drops, FillTheBoxesAsTheChoosersDo) {
    RecordingWindow window;
    const std::optional<std::string> path = AcceptedDrop(GetParam().items);
    ASSERT_EQ(path.has_value(), GetParam().accepted);
    if (path) {
        FileDropped(window, GetParam().onBox, *path);
        EXPECT_EQ(window.status, kIdleStatus);
    }
    EXPECT_EQ(window.fileIn, GetParam().fileIn);
    EXPECT_EQ(window.fileOut, GetParam().fileOut);
}

const std::vector<DraggedItem> kOneFile{{"/data/report.html", false}};

INSTANTIATE_TEST_SUITE_P(
    Items, Drops,
    testing::Values(
        Drop{"OnTheWindow", kOneFile, std::nullopt, true, "/data/report.html", "/data/report.txt"},
        Drop{"OnFileIn", kOneFile, PathBox::FileIn, true, "/data/report.html", "/data/report.txt"},
        Drop{"OnFileOut", kOneFile, PathBox::FileOut, true, "typed-in.html", "/data/report.html"},
        Drop{
            "ARemoteFile", {{"", false}}, PathBox::FileIn, false, "typed-in.html", "typed-out.txt"},
        Drop{"TwoFiles",
             {{"/a.html", false}, {"/b.html", false}},
             std::nullopt,
             false,
             "typed-in.html",
             "typed-out.txt"},
        Drop{
            "AFolder", {{"/tmp", true}}, PathBox::FileOut, false, "typed-in.html", "typed-out.txt"},
        Drop{"Nothing", {}, std::nullopt, false, "typed-in.html", "typed-out.txt"}),
    velmora::test::RowName());

} // namespace
} // namespace velmora::ui
