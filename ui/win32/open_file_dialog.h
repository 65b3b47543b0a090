#pragma once

#include "core/common_dialog.h"

#include <windows.h>

#include <string>

namespace velmora::win32 {

// The window's one open-file dialog on the system's common dialog (GetOpenFileNameW),
// shared by both Browse buttons and kept for the life of the window. Each use opens on
// the full path chosen last, by either button, and on the filter entry picked last. No
// flag asks for the file to exist, so a name typed for a new file is taken; the current
// folder is left as it was, and names may be as long as the system allows.
class OpenFileDialog final : public ui::CommonDialog {
public:
    // The window the dialog is modal over; set once the window exists.
    void SetOwner(HWND owner) { m_owner = owner; }

    // Entries as "description|patterns|description|patterns...".
    void SetFilter(const std::string& filter) override;
    void SetCancelError(bool cancelError) override { m_cancelError = cancelError; }
    // Modal over the owner. Closed without a choice it raises the cancel error when
    // CancelError is set; any other failure of the dialog raises its own number.
    void ShowOpen() override;
    std::string FileName() const override;

private:
    HWND m_owner = nullptr;
    std::wstring m_filter; // entries separated by NUL, the list ended by two
    bool m_cancelError = false;
    DWORD m_filterIndex = 1;
    std::wstring m_fileName;
};

} // namespace velmora::win32
