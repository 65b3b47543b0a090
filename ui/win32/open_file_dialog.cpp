#include "open_file_dialog.h"

#include "text.h"

#include <commdlg.h>

#include <vector>

namespace velmora::win32 {

void OpenFileDialog::SetFilter(const std::string& filter) {
    m_filter = Wide(filter);
    for (wchar_t& character : m_filter) {
        if (character == L'|') {
            character = L'\0';
        }
    }
    m_filter.append(2, L'\0');
}

void OpenFileDialog::ShowOpen() {
    // Room for the longest path the system takes, \\?\ form included.
    std::vector<wchar_t> name(32768, L'\0');
    m_fileName.copy(name.data(), name.size() - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = m_owner;
    dialog.lpstrFilter = m_filter.empty() ? nullptr : m_filter.c_str();
    dialog.nFilterIndex = m_filterIndex;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    // The dialog would otherwise make the chosen file's folder the program's current one,
    // which keeps that folder from being removed while the program runs.
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (GetOpenFileNameW(&dialog)) {
        m_fileName = name.data();
        m_filterIndex = dialog.nFilterIndex;
        return;
    }
    const DWORD error = CommDlgExtendedError();
    if (error != 0) {
        throw ui::DialogError{static_cast<int>(error), "the file dialog failed"};
    }
    if (m_cancelError) {
        throw ui::DialogError{ui::kCancelError, "cancelled"};
    }
}

std::string OpenFileDialog::FileName() const {
    return Utf8(m_fileName);
}

} // namespace velmora::win32
