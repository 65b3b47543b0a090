#pragma once

#include "core/convert_window.h"
#include "core/file_choosers.h"
#include "core/input_hold.h"
#include "core/layout.h"
#include "open_file_dialog.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace velmora::win32 {

// The window class, for the tests and tools that look for the window.
inline constexpr const wchar_t* kWindowClass = L"velmora";

// The program's one window on Win32: two path boxes with their Browse buttons, the
// Convert button, the status line under its progress bar and the credit line, laid out
// for the monitor's DPI and the system's message font, with the tab order of the design
// (Convert, the two boxes, the two Browse buttons). Keyboard navigation needs the message
// loop to pass messages through IsDialog first.
class MainWindow final : public ui::ConvertWindow, public ui::ChooserWindow {
public:
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window, hidden; nullptr when the system refuses. The window deletes
    // itself when it is destroyed, and then ends the message loop.
    static MainWindow* Create(HINSTANCE instance);
    // The MainWindow of a window of its class, or nullptr.
    static MainWindow* Of(HWND window);
    // Shows it modeless, active, with the focus on Convert.
    void Show(int showCommand);
    HWND Handle() const { return m_window; }
    // For the message loop: Tab, Shift+Tab and the arrows among the controls. Enter and
    // Esc click nothing: no button is the default or the cancel one.
    bool IsDialog(MSG& message);

    // ConvertWindow and ChooserWindow
    std::string GetPathText(ui::PathBox box) const override;
    void SetPathText(ui::PathBox box, const std::string& text) override;
    void SetInputEnabled(ui::Input input, bool enabled) override;
    void SetProgressVisible(bool visible) override;
    void SetProgressMax(float max) override;
    void SetProgressValue(float value) override;
    void SetStatusText(const std::string& text) override;
    void ShowMessage(const std::string& message, const std::string& title) override;
    void ShowFailure(const std::string& message, const std::string& title) override;
    void Beep() override;

private:
    explicit MainWindow(HINSTANCE instance) : m_instance(instance) {}
    ~MainWindow() override;
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // Fonts and places for `dpi`; the window's size follows.
    void LayOut(UINT dpi);
    ui::FontNeeds MeasureFont() const;
    void Command(int id);
    void Convert();
    void Dropped(HDROP drop);
    void BackgroundClicked(LPARAM position);
    // Moves the bar to the value last set, where that changes what it shows.
    void ShowProgress();
    // While a conversion holds the thread: the bar moved, the window repainted, and the
    // system kept from taking the window for hung, without handling any input.
    void KeepPainted();
    // At the end of a conversion: what arrived meanwhile, input thrown away.
    void DeliverHeld();
    HWND Item(ui::Control control) const;

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    OpenFileDialog m_commonDialog1;
    ui::InputHoldState m_hold;
    float m_progressMax = 100.0f;
    float m_progressValue = 0.0f;
    int m_progressStep = 0; // what the bar shows, of kProgressSteps
    DWORD m_lastPaint = 0;
    bool m_pressedOnBackground = false;
    HWND m_focus = nullptr; // the control that had the focus when the window went inactive
};

} // namespace velmora::win32
