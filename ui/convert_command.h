#pragma once

#include "engine/progress.h"

namespace velmora::ui {

class ConvertWindow;

inline constexpr const char* kErrorTitle = "mVELMORA Error";
inline constexpr const char* kSuccessStatus = "File Successfully Processed";
inline constexpr const char* kIdleStatus = "Select File to Convert";

// Passes the engine's progress to the window's bar and keeps the last maximum, which
// the assembly needs for its final value.
class ProgressBinding final : public ProgressSink {
public:
    explicit ProgressBinding(ConvertWindow& window) : m_window(window) {}
    void SetMax(float max) override;
    void SetValue(float value) override;
    float LastMax() const { return m_lastMax; }

private:
    ConvertWindow& m_window;
    float m_lastMax = 0.0f;
};

// What a click on Convert does: reads FileIn, converts it to FileOut with the inputs
// disabled and the bar showing, then reports. An empty FileIn or an empty file does
// nothing; a refused document gets the refusal message; a file that cannot be read or
// written, or an output that is the input file itself, gets a message naming it and the
// reason, and the window is left ready with its status unchanged. Runs to its end without yielding to the event loop.
void ConvertCommand(ConvertWindow& window);

} // namespace velmora::ui
