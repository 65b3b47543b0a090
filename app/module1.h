#pragma once

namespace velmora::ui {
class MainWindow;
}

namespace velmora::app {

// Prepares the platform's common controls, where the platform has that library, and
// swallows every error on the way: true only when the library call could be made. The
// window works the same either way.
bool TryInitCommonControls();

// Start-up: the common controls, then the program's one window, created on first call
// and shown modeless. Returns at once; the event loop does the rest, and closing the
// window ends the program.
void Main();

// The window Main shows, or nullptr before Main and after the window has closed.
ui::MainWindow* Window();

} // namespace velmora::app
