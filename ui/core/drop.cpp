#include "core/drop.h"

#include "core/file_choosers.h"

namespace velmora::ui {

std::optional<std::string> AcceptedDrop(const std::vector<DraggedItem>& items) {
    if (items.size() != 1 || items.front().path.empty() || items.front().folder) {
        return std::nullopt;
    }
    return items.front().path;
}

void StartedWith(ChooserWindow& window, const std::vector<DraggedItem>& files) {
    if (const std::optional<std::string> path = AcceptedDrop(files)) {
        InputChosen(window, *path);
    }
}

void FileDropped(ChooserWindow& window, std::optional<PathBox> onBox, const std::string& path) {
    if (onBox == PathBox::FileOut) {
        OutputChosen(window, path);
    } else {
        InputChosen(window, path);
    }
}

} // namespace velmora::ui
