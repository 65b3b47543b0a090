#pragma once

#include "control_ids.h"
#include "open_file_dialog.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace velmora::win32 {

// The program's one window on Win32: two path boxes with their Browse buttons, the
// Convert button, the status line under its progress bar and the credit line, laid out
// for the monitor's DPI and the system's message font, with the tab order of the design
// (Convert, the two boxes, the two Browse buttons). Keyboard navigation needs the message
// loop to pass messages through IsDialog (IsDialogMessageW).
class MainWindow final {
public:
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window, hidden; nullptr when the system refuses. The window deletes
    // itself when it is destroyed.
    static MainWindow* Create(HINSTANCE instance);
    // The MainWindow of a window of its class, or nullptr.
    static MainWindow* Of(HWND window);
    // Shows it modeless, active, with the focus on Convert.
    void Show(int showCommand);
    HWND Handle() const { return m_window; }
    // For the message loop: handles Tab, Shift+Tab and the arrows among the controls.
    bool IsDialog(MSG& message);

    std::string GetPathText(ControlId box) const;
    void SetPathText(ControlId box, const std::string& text);
    void SetInputEnabled(ControlId input, bool enabled);
    void SetProgressVisible(bool visible);
    void SetProgressMax(float max);
    void SetProgressValue(float value);
    void SetStatusText(const std::string& text);
    void ShowMessage(const std::string& message, const std::string& title);
    void Beep();

private:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // Fonts and places for `dpi`; the window's size follows.
    void LayOut(UINT dpi);
    void Command(int id);
    void Convert();
    void Dropped(HDROP drop);
    // While a conversion holds the thread: repaint, and keep the system from taking the
    // window for hung, without handling any input.
    void KeepPainted();
    // At the end of a conversion: input that arrived meanwhile is thrown away.
    void DropHeldInput();
    HWND Control(int id) const { return GetDlgItem(m_window, id); }

    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    UINT m_dpi = 96;
    OpenFileDialog m_commonDialog1;
    std::wstring m_status;
    float m_progressMax = 100.0f;
    float m_progressValue = 0.0f;
    bool m_busy = false;           // a conversion holds the window's input
    bool m_closeRequested = false; // asked to close while busy
    DWORD m_lastPaint = 0;
    bool m_pressedOnBackground = false;
    HWND m_focus = nullptr; // the control that had the focus when the window went inactive
};

} // namespace velmora::win32
