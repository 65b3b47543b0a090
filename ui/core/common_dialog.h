#pragma once

#include <string>

namespace velmora::ui {

// Raised by a dialog step that fails. A dialog closed without a choice, with
// SetCancelError(true), raises kCancelError.
struct DialogError {
    int number;
    std::string description;
};

inline constexpr int kCancelError = 32755;

// The window's one open-file dialog, kept for the life of the window and shared by both
// Browse buttons. Its file name carries over from one use to the next: each dialog opens
// on the full path chosen last, by either button. Texts are UTF-8.
class CommonDialog {
public:
    virtual ~CommonDialog() = default;
    // Entries as "description|patterns|description|patterns...", several patterns in one
    // field separated by ";". "*.*" lists every file, names without a dot included, and
    // patterns ignore letter case.
    virtual void SetFilter(const std::string& filter) = 0;
    virtual void SetCancelError(bool cancelError) = 0;
    // Shows the modal open dialog and returns once a file is chosen; a file that does
    // not exist yet may be named. Closed without a choice, it raises kCancelError when
    // CancelError is set and returns otherwise, the file name unchanged.
    virtual void ShowOpen() = 0;
    // The full path chosen in the last successful ShowOpen; empty before the first.
    virtual std::string FileName() const = 0;
};

} // namespace velmora::ui
