#include "file_choosers.h"

#include "common_dialog.h"
#include "convert_command.h"
#include "velmora/output_path.h"

namespace velmora::ui {

namespace {

QString ProposeOutputPath(const QString& inputPath) {
    // The rule looks for "." alone, which UTF-8 never uses inside another character.
    return QString::fromStdString(velmora::ProposeOutputPath(inputPath.toStdString()));
}

// Runs the steps after the status reset. Whatever fails, a cancel (kCancelError) or
// anything else, ends the click quietly: the steps done so far stay done.
template <typename Steps> void Quietly(Steps steps) {
    try {
        steps();
    } catch (...) {
    }
}

} // namespace

void InputChosen(ChooserWindow& window, const QString& path) {
    window.SetStatusText(kIdleStatus);
    window.SetPathText(PathBox::FileIn, path);
    window.SetPathText(PathBox::FileOut, ProposeOutputPath(window.GetPathText(PathBox::FileIn)));
}

void OutputChosen(ChooserWindow& window, const QString& path) {
    window.SetStatusText(kIdleStatus);
    window.SetPathText(PathBox::FileOut, path);
}

void Command2Click(ChooserWindow& window, CommonDialog& dialog) {
    window.SetStatusText(kIdleStatus);
    Quietly([&] {
        dialog.SetFilter(kInputFilter);
        dialog.SetCancelError(true);
        dialog.ShowOpen();
        InputChosen(window, dialog.FileName());
    });
}

void Command3Click(ChooserWindow& window, CommonDialog& dialog) {
    window.SetStatusText(kIdleStatus);
    Quietly([&] {
        dialog.SetFilter(kOutputFilter);
        dialog.SetCancelError(true);
        dialog.ShowOpen();
        OutputChosen(window, dialog.FileName());
    });
}

} // namespace velmora::ui
