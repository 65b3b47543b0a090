#include "module1.h"

#include "core/drop.h"
#include "win32/common_controls.h"
#include "win32/main_window.h"
#include "win32/text.h"

#include <commctrl.h>

namespace velmora::app {

namespace {

HWND g_window = nullptr;

// A file as the open-file dialog would give it: whole, from the current folder and drive,
// either separator taken.
ui::DraggedItem Opened(const std::string& file) {
    const std::wstring typed = win32::Wide(file);
    std::wstring whole(GetFullPathNameW(typed.c_str(), 0, nullptr, nullptr), L'\0');
    whole.resize(
        GetFullPathNameW(typed.c_str(), static_cast<DWORD>(whole.size()), whole.data(), nullptr));
    if (whole.empty()) {
        return {file, false};
    }
    const DWORD attributes = GetFileAttributesW(whole.c_str());
    return {win32::Utf8(whole),
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)};
}

} // namespace

bool TryInitCommonControls() {
    try {
        return win32::InitCommonControlClasses(ICC_USEREX_CLASSES);
    } catch (...) {
        return false;
    }
}

void Main(const std::vector<std::string>& files) {
    TryInitCommonControls();
    if (Window() == nullptr) {
        win32::MainWindow* window = win32::MainWindow::Create(GetModuleHandleW(nullptr));
        g_window = window != nullptr ? window->Handle() : nullptr;
    }
    if (win32::MainWindow* window = Window()) {
        std::vector<ui::DraggedItem> items;
        for (const std::string& file : files) {
            items.push_back(Opened(file));
        }
        ui::StartedWith(*window, items);
        // As the shortcut or the starting program asks: normal, minimised or maximised.
        window->Show(SW_SHOWDEFAULT);
    }
}

win32::MainWindow* Window() {
    if (g_window == nullptr || !IsWindow(g_window)) {
        return nullptr;
    }
    return win32::MainWindow::Of(g_window);
}

} // namespace velmora::app
