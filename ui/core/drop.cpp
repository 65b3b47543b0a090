#include "ui/core/drop.h"

#include "ui/core/file_choosers.h"

namespace velmora::ui {

std::optional<std::string> AcceptedDrop(const std::vector<DraggedItem>& items) {
    if (items.size() != 1 || items.front().path.empty() || items.front().folder) {
        return std::nullopt;
    }
    return items.front().path;
}

void FileDropped(ChooserWindow& window, std::optional<PathBox> onBox, const std::string& path) {
    if (onBox == PathBox::FileOut) {
        OutputChosen(window, path);
    } else {
        InputChosen(window, path);
    }
}

} // namespace velmora::ui
