#pragma once

#include "ui/core/convert_window.h"

#include <string>

namespace velmora::ui {

class CommonDialog;

// The filters of the two Browse buttons: each its own first entry, then every file.
inline constexpr const char* kAllFilesEntry = "|All Files (*.*)|*.*";
inline const std::string kInputFilter =
    std::string("HTML (*.htm, *.html)|*.htm;*.html") + kAllFilesEntry;
inline const std::string kOutputFilter = std::string("Text (*.txt)|*.txt") + kAllFilesEntry;

// What the Browse buttons need of the window. Texts are UTF-8.
class ChooserWindow {
public:
    virtual ~ChooserWindow() = default;
    virtual std::string GetPathText(PathBox box) const = 0;
    virtual void SetPathText(PathBox box, const std::string& text) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
};

// An input file chosen, with the Browse button or by dropping it on the window: the
// status is reset, FileIn takes the path and FileOut the output path proposed for it.
void InputChosen(ChooserWindow& window, const std::string& path);
// An output file chosen: the status is reset and FileOut takes the path.
void OutputChosen(ChooserWindow& window, const std::string& path);

// Browse beside FileIn: resets the status, lets the user pick the input in the dialog,
// puts it in FileIn and the proposed output path in FileOut. A cancelled dialog, or any
// other failure, ends the click without a word and undoes nothing.
void Command2Click(ChooserWindow& window, CommonDialog& dialog);

// Browse beside FileOut: the same for the output path; FileIn is not touched.
void Command3Click(ChooserWindow& window, CommonDialog& dialog);

} // namespace velmora::ui
