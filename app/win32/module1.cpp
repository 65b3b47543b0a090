#include "module1.h"

#include "win32/common_controls.h"
#include "win32/main_window.h"

#include <commctrl.h>

namespace velmora::app {

namespace {

HWND g_window = nullptr;

} // namespace

bool TryInitCommonControls() {
    try {
        return win32::InitCommonControlClasses(ICC_USEREX_CLASSES);
    } catch (...) {
        return false;
    }
}

void Main() {
    TryInitCommonControls();
    if (Window() == nullptr) {
        win32::MainWindow* window = win32::MainWindow::Create(GetModuleHandleW(nullptr));
        g_window = window != nullptr ? window->Handle() : nullptr;
    }
    if (win32::MainWindow* window = Window()) {
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
