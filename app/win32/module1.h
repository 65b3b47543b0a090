#pragma once

#include <string>
#include <vector>

namespace velmora::win32 {
class MainWindow;
}

namespace velmora::app {

// Prepares the common-controls library (InitCommonControlsEx, the extended combo-box
// classes) and swallows every error on the way: true only when the call could be made.
// The window works the same either way.
bool TryInitCommonControls();

// Start-up: the common controls, then the program's one window, created on first call
// and shown modeless. `files` are the files the program was started on, in UTF-8 as typed
// (a relative one is taken from the current folder): a single file fills the boxes as if
// it had been chosen with Browse. Returns at once; the message loop does the rest, and
// closing the window ends it.
void Main(const std::vector<std::string>& files = {});

// The window Main shows, or nullptr before Main and after the window has closed.
win32::MainWindow* Window();

} // namespace velmora::app
