#pragma once

#include "core/texts.h"
#include "velmora/progress.h"

namespace velmora::ui {

class ConvertWindow;

// Passes the engine's progress to the window's bar.
class ProgressBinding final : public ProgressSink {
public:
    explicit ProgressBinding(ConvertWindow& window) : m_window(window) {}
    void SetMax(float max) override;
    void SetValue(float value) override;

private:
    ConvertWindow& m_window;
};

// What a click on Convert does: reads FileIn, converts it to FileOut with the inputs
// disabled and the bar showing, then reports. An empty FileIn or an empty file does
// nothing; a refused document gets the refusal message, the status unchanged; a file
// that cannot be read or written, or an output that is the input file itself, gets a
// failure box naming it and the reason in the system's words, and the window is left
// ready with the idle status. Runs to its end without taking user input. The paths go to
// the engine as the window gives them.
void ConvertCommand(ConvertWindow& window);

} // namespace velmora::ui
