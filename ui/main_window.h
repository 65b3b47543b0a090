#pragma once

#include "common_dialog.h"
#include "convert_window.h"
#include "file_choosers.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;

namespace velmora::ui {

class InputHold;
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

    // Places the controls for a screen of that many dots per inch, each coordinate in
    // proportion to the twips of the window's design, and enlarged together where the
    // window's font needs more room; then fixes the window's size. The constructor lays
    // the window out for its own screen.
    void LayOut(qreal dpiX, qreal dpiY);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void convert();
    void browseInput();
    void browseOutput();

private:
    bool IsBackground(const QPointF& position) const;
    // A drag onto `target` (FileIn, FileOut or the window itself), accepted or refused;
    // a drop puts the file in its box.
    void Drag(QWidget* target, QDropEvent* event, bool drop);

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
    std::unique_ptr<InputHold> m_hold; // while a conversion runs
    bool m_closeRequested = false;
};

} // namespace velmora::ui
