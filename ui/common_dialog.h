#pragma once

#include "ui/core/common_dialog.h"

#include <QPointer>
#include <QString>

class QAbstractItemView;
class QFileDialog;
class QWidget;

namespace velmora::ui {

class PatternFilter;

// CommonDialog on Qt's own file dialog widget (never the desktop's native one, whose
// filters follow other rules), shown modal over `owner` and never larger than its
// screen. What the dialog remembers lasts for the run: making one stops Qt from reading
// or writing the settings files where its dialogs keep their memory.
class FileOpenDialog final : public CommonDialog {
public:
    explicit FileOpenDialog(QWidget* owner);
    ~FileOpenDialog() override;

    void SetFilter(const std::string& filter) override;
    void SetCancelError(bool cancelError) override;
    void ShowOpen() override;
    std::string FileName() const override;

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
