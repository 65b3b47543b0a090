#pragma once

#include <QStringList>

namespace velmora::ui {
class MainWindow;
}

namespace velmora::app {

// Prepares the common-controls library on Windows (InitCommonControlsEx, the extended
// combo-box classes): true only when the call could be made, so never on another system.
// The window works the same either way.
bool TryInitCommonControls();

// Start-up: the common controls, then the program's one window, created on first call
// and shown modeless. `files` are the files the program was started on, as typed (a
// relative one is taken from the current folder): a single file fills the boxes as if
// it had been chosen with Browse. Returns at once; the event loop does the rest, and
// closing the window ends the program.
void Main(const QStringList& files = {});

// The window Main shows, or nullptr before Main and after the window has closed.
ui::MainWindow* Window();

} // namespace velmora::app
