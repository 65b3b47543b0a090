#pragma once

#include "core/convert_window.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::ui {

class ChooserWindow;

// One thing dragged onto the window, as the front end reads it.
struct DraggedItem {
    std::string path; // UTF-8; empty for what is not a local file (a web address...)
    bool folder = false;
};

// The file a drag carries when the window takes it: exactly one item, a local file that
// is not a folder. Anything else is refused, before the drop as at it.
std::optional<std::string> AcceptedDrop(const std::vector<DraggedItem>& items);

// The files the program was started on (`velmora PATH`, a file dropped on its icon,
// "Open with"), each as an absolute path, taken as a drop on the window is: one file is
// the input chosen and its output proposed, nothing converted yet; none, several or a
// folder leave the window as it starts.
void StartedWith(ChooserWindow& window, const std::vector<DraggedItem>& files);

// A file dropped: on FileOut it is the output chosen; anywhere else on the window (FileIn,
// a button, a label, the background) it is the input chosen, and the output proposed.
void FileDropped(ChooserWindow& window, std::optional<PathBox> onBox, const std::string& path);

} // namespace velmora::ui
