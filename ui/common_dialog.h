#pragma once

#include <QPointer>
#include <QString>

#include <memory>

class QAbstractItemView;
class QFileDialog;
class QWidget;

namespace velmora::ui {

// Raised by a dialog step that fails. A dialog closed without a choice, with
// SetCancelError(true), raises kCancelError.
struct DialogError {
    int number;
    QString description;
};

inline constexpr int kCancelError = 32755;

// The window's one open-file dialog, kept for the life of the window and shared by both
// Browse buttons. Its file name carries over from one use to the next: each dialog opens
// on the full path chosen last, by either button.
class CommonDialog {
public:
    virtual ~CommonDialog() = default;
    // Entries as "description|patterns|description|patterns...", several patterns in one
    // field separated by ";". "*.*" lists every file, names without a dot included, and
    // patterns ignore letter case.
    virtual void SetFilter(const QString& filter) = 0;
    virtual void SetCancelError(bool cancelError) = 0;
    // Shows the modal open dialog and returns once a file is chosen; a file that does
    // not exist yet may be named. Closed without a choice, it raises kCancelError when
    // CancelError is set and returns otherwise, the file name unchanged.
    virtual void ShowOpen() = 0;
    // The full path chosen in the last successful ShowOpen; empty before the first.
    virtual QString FileName() const = 0;
};

class PatternFilter;

// CommonDialog on Qt's own file dialog widget (never the desktop's native one, whose
// filters follow other rules), shown modal over `owner` and never larger than its
// screen. What the dialog remembers lasts for the run: making one stops Qt from reading
// or writing the settings files where its dialogs keep their memory.
class FileOpenDialog final : public CommonDialog {
public:
    explicit FileOpenDialog(QWidget* owner);
    ~FileOpenDialog() override;

    void SetFilter(const QString& filter) override;
    void SetCancelError(bool cancelError) override;
    void ShowOpen() override;
    QString FileName() const override;

private:
    void ListOnly(const QString& description);

    QPointer<QFileDialog> m_dialog;
    PatternFilter* m_patterns;                 // owned by m_dialog
    QPointer<QAbstractItemView> m_completions; // the name box's list of completions
    QString m_filter;
    bool m_cancelError = false;
    int m_filterIndex = 0;
    QString m_fileName;
};

} // namespace velmora::ui
