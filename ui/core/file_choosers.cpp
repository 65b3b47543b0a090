#include "ui/core/file_choosers.h"

#include "ui/core/common_dialog.h"
#include "ui/core/texts.h"
#include "velmora/output_path.h"

namespace velmora::ui {

namespace {

// Runs the steps after the status reset. Whatever fails, a cancel (kCancelError) or
// anything else, ends the click quietly: the steps done so far stay done.
template <typename Steps> void Quietly(Steps steps) {
    try {
        steps();
    } catch (...) {
    }
}

} // namespace

void InputChosen(ChooserWindow& window, const std::string& path) {
    window.SetStatusText(kIdleStatus);
    window.SetPathText(PathBox::FileIn, path);
    // The rule looks for "." alone, which UTF-8 never uses inside another character.
    window.SetPathText(PathBox::FileOut, ProposeOutputPath(window.GetPathText(PathBox::FileIn)));
}

void OutputChosen(ChooserWindow& window, const std::string& path) {
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
