#pragma once

#include "core/layout.h"

#include <cstddef>
#include <string>

namespace velmora::ui {

// The two path boxes of the window.
enum class PathBox { FileIn, FileOut };

// The controls a conversion disables and enables again, in the order it does so.
enum class Input { FileIn, FileOut, Command1, Command2, Command3 };
inline constexpr Input kInputs[] = {Input::FileIn, Input::FileOut, Input::Command1, Input::Command2,
                                    Input::Command3};

// The window's control each input is.
constexpr Control ControlOf(Input input) {
    constexpr Control controls[] = {Control::FileIn, Control::FileOut, Control::Command1,
                                    Control::Command2, Control::Command3};
    return controls[static_cast<std::size_t>(input)];
}

// What the Convert command needs of the window. A front end provides it on its
// controls; tests provide it with a recorder. Texts are UTF-8 (on Linux, paths are the
// file system's own bytes, which a UTF-8 desktop also writes in UTF-8).
class ConvertWindow {
public:
    virtual ~ConvertWindow() = default;
    // The box's text exactly as it stands, untrimmed; may be empty.
    virtual std::string GetPathText(PathBox box) const = 0;
    virtual void SetInputEnabled(Input input, bool enabled) = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    virtual void SetProgressMax(float max) = 0;
    virtual void SetProgressValue(float value) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // A modal box with the message, the title, one OK button and no icon.
    virtual void ShowMessage(const std::string& message, const std::string& title) = 0;
    // The same for a failure, with the system's error icon and the sound it makes with it.
    virtual void ShowFailure(const std::string& message, const std::string& title) = 0;
    virtual void Beep() = 0;
};

} // namespace velmora::ui
