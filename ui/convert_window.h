#pragma once

#include <QString>

namespace velmora::ui {

// The two path boxes of the window.
enum class PathBox { FileIn, FileOut };

// The controls a conversion disables and enables again, in the order it does so.
enum class Input { FileIn, FileOut, Command1, Command2, Command3 };
inline constexpr Input kInputs[] = {Input::FileIn, Input::FileOut, Input::Command1, Input::Command2,
                                    Input::Command3};

// What the Convert command needs of the window. The real window provides it on its
// controls; tests provide it with a recorder.
class ConvertWindow {
public:
    virtual ~ConvertWindow() = default;
    // The box's text exactly as it stands, untrimmed; may be empty.
    virtual QString GetPathText(PathBox box) const = 0;
    virtual void SetInputEnabled(Input input, bool enabled) = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    virtual void SetProgressMax(float max) = 0;
    virtual void SetProgressValue(float value) = 0;
    virtual void SetStatusText(const QString& text) = 0;
    // A modal box with the message, the title, one OK button and no icon.
    virtual void ShowMessage(const QString& message, const QString& title) = 0;
    virtual void Beep() = 0;
};

} // namespace velmora::ui
