#pragma once

#include "convert_window.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora::ui {

class ProgressBar;

// The program's one window: two path boxes with their Browse buttons, the Convert
// button, the status line under its progress bar, and the credit line. Every control
// carries its designer name as object name (FileIn, Command1, Label3, ProgressBar1...).
class MainWindow : public QWidget, public ConvertWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // ConvertWindow
    QString GetPathText(PathBox box) const override;
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
    bool m_pressedOnBackground = false;
};

} // namespace velmora::ui
