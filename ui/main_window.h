#pragma once

#include "common_dialog.h"
#include "convert_window.h"
#include "file_choosers.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora::ui {

class ProgressBar;

// The program's one window: two path boxes with their Browse buttons, the Convert
// button, the status line under its progress bar, and the credit line. Every control
// carries its designer name as object name (FileIn, Command1, Label3, ProgressBar1...).
class MainWindow : public QWidget, public ConvertWindow, public ChooserWindow {
    Q_OBJECT
public:
    // `dialog` is the window's file dialog; by default Qt's own, shown modal over the
    // window. Tests hand in one that opens nothing.
    explicit MainWindow(QWidget* parent = nullptr, std::unique_ptr<CommonDialog> dialog = {});
    ~MainWindow() override;

    // ConvertWindow and ChooserWindow
    QString GetPathText(PathBox box) const override;
    void SetPathText(PathBox box, const QString& text) override;
    void SetInputEnabled(Input input, bool enabled) override;
    void SetProgressVisible(bool visible) override;
    void SetProgressMax(float max) override;
    void SetProgressValue(float value) override;
    void SetStatusText(const QString& text) override;
    void ShowMessage(const QString& message, const QString& title) override;
    void Beep() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private slots:
    void convert();
    void browseInput();
    void browseOutput();

private:
    bool IsBackground(const QPointF& position) const;

    QLabel* m_label1;
    QLineEdit* m_fileIn;
    QPushButton* m_command2;
    QLabel* m_label2;
    QLineEdit* m_fileOut;
    QPushButton* m_command3;
    QLabel* m_label3;
    ProgressBar* m_progressBar1;
    QPushButton* m_command1;
    QLabel* m_label4;
    std::unique_ptr<CommonDialog> m_commonDialog1;
    bool m_pressedOnBackground = false;
};

} // namespace velmora::ui
